#include <QCoreApplication>
#include <gtest/gtest.h>

// Leaks that are the libraries' own, read by LeakSanitizer in sanitizer builds only. OpenSSL keeps a
// random-number context per thread (libzip's archive salt, TLS) that a thread alive at exit still holds;
// libssh2 drops its key-exchange state unfreed when a session is closed in the middle of the handshake
// (a transfer cancelled while it logs in).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcrypto.so\nleak:libssh2.so\n";
}

// Tests that use timers, queued calls or the thread pool need a running application object.
int main(int argc, char** argv) {
    // The same language and no display wherever the tests run.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LANGUAGE", "en");
    qputenv("LC_ALL", "C.UTF-8");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
