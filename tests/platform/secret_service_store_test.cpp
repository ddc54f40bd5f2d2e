#include "platform/secret_service_store.h"

#include "accounts/credential_store.h"
#include "support/secret_service_session.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

namespace qm::platform {
namespace {

using test::SecretServiceSession;

const QString cloudApp = QStringLiteral("Quillmoor (CloudApp)");
const QString droplr = QStringLiteral("Quillmoor (Droplr)");

// Items that `secret-tool search --all` lists; each starts with its object path in brackets.
int listedItems(const QByteArray& output) {
    int count = 0;
    for (const QByteArray& line : output.split('\n'))
        count += line.startsWith("[/") ? 1 : 0;
    return count;
}

// Every case has its own bus and keyring daemon, so the cases may run as parallel processes.
class SecretServiceStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.start()) << session.errorString().toStdString(); }

    SecretServiceSession::ToolResult lookup(const QString& service, const QString& account) const {
        return session.secretTool({QStringLiteral("lookup"), QStringLiteral("service"), service,
                                   QStringLiteral("account"), account});
    }
    SecretServiceSession::ToolResult searchAll(const QString& service, const QString& account) const {
        return session.secretTool({QStringLiteral("search"), QStringLiteral("--all"),
                                   QStringLiteral("service"), service, QStringLiteral("account"), account});
    }

    // Declared first so that the store lets go of the bus before the daemons stop.
    SecretServiceSession session;
    SecretServiceStore secrets;
    accounts::CredentialStore store{secrets};
};

TEST_F(SecretServiceStoreTest, NonAsciiPasswordAndAccountNameComeBackUnchanged) {
    const QString account = QStringLiteral("jürgen.müller@exämple.org");
    const QString password = QStringLiteral("Grüße-ß-🔑");
    ASSERT_TRUE(store.setPassword(password, cloudApp, account));

    EXPECT_TRUE(store.checkForExistanceOfKeychainItem(cloudApp, account));
    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, account), password);
    EXPECT_EQ(secrets.find(cloudApp, account), password.toUtf8());
    // The keyring holds exactly the UTF-8 bytes, as another client (secret-tool) sees them.
    const auto peer = lookup(cloudApp, account);
    EXPECT_EQ(peer.exitCode, 0) << peer.errors.toStdString();
    EXPECT_EQ(peer.output, password.toUtf8());
    // Decomposed and precomposed umlauts are different accounts: nothing is normalised on the way.
    EXPECT_FALSE(
        store.checkForExistanceOfKeychainItem(cloudApp, QStringLiteral("ju\u0308rgen.müller@exämple.org")));
}

TEST_F(SecretServiceStoreTest, StoringTwiceLeavesOneItemWithTheSecondPassword) {
    const QString account = QStringLiteral("anna");
    ASSERT_TRUE(store.setPassword(QStringLiteral("first-password"), cloudApp, account));
    ASSERT_TRUE(store.setPassword(QStringLiteral("second-password"), cloudApp, account));

    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, account), QStringLiteral("second-password"));
    const auto listed = searchAll(cloudApp, account);
    ASSERT_EQ(listed.exitCode, 0) << listed.errors.toStdString();
    EXPECT_EQ(listedItems(listed.output), 1) << listed.output.toStdString();
    EXPECT_TRUE(listed.output.contains("secret = second-password")) << listed.output.toStdString();
    EXPECT_FALSE(listed.output.contains("first-password"));
    EXPECT_TRUE(
        listed.output.contains("label = " + SecretServiceStore::itemLabel(cloudApp, account).toUtf8()));
    // A second add is refused rather than making a duplicate.
    EXPECT_FALSE(secrets.add(cloudApp, account, "third"));
    EXPECT_EQ(listedItems(searchAll(cloudApp, account).output), 1);
}

TEST_F(SecretServiceStoreTest, ReadingAMissingItemAnswersNilAtOnce) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("nobody")).isNull());
    EXPECT_FALSE(store.checkForExistanceOfKeychainItem(cloudApp, QStringLiteral("nobody")));
    EXPECT_EQ(secrets.find(cloudApp, QStringLiteral("nobody")), std::nullopt);
    EXPECT_FALSE(secrets.replace(cloudApp, QStringLiteral("nobody"), "x"));
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(listedItems(searchAll(cloudApp, QStringLiteral("nobody")).output), 0);
}

TEST_F(SecretServiceStoreTest, RemovingAMissingItemAnswersNoAndChangesNothing) {
    ASSERT_TRUE(store.setPassword(QStringLiteral("kept"), cloudApp, QStringLiteral("anna")));

    EXPECT_FALSE(store.removeKeychainItem(cloudApp, QStringLiteral("bert")));
    EXPECT_FALSE(secrets.remove(cloudApp, QStringLiteral("bert")));
    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, QStringLiteral("anna")), QStringLiteral("kept"));

    EXPECT_TRUE(store.removeKeychainItem(cloudApp, QStringLiteral("anna")));
    EXPECT_FALSE(store.removeKeychainItem(cloudApp, QStringLiteral("anna")));
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("anna")).isNull());
    EXPECT_EQ(listedItems(searchAll(cloudApp, QStringLiteral("anna")).output), 0);
}

TEST_F(SecretServiceStoreTest, TwoServicesWithTheSameAccountAreIndependent) {
    const QString account = QStringLiteral("shared@example.org");
    ASSERT_TRUE(store.setPassword(QStringLiteral("cloud"), cloudApp, account));
    ASSERT_TRUE(store.setPassword(QStringLiteral("drop"), droplr, account));
    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, account), QStringLiteral("cloud"));
    EXPECT_EQ(store.passwordFromKeychainItem(droplr, account), QStringLiteral("drop"));

    ASSERT_TRUE(store.setPassword(QStringLiteral("cloud-2"), cloudApp, account));
    EXPECT_EQ(store.passwordFromKeychainItem(droplr, account), QStringLiteral("drop"));

    ASSERT_TRUE(store.removeKeychainItem(cloudApp, account));
    EXPECT_FALSE(store.checkForExistanceOfKeychainItem(cloudApp, account));
    EXPECT_EQ(store.passwordFromKeychainItem(droplr, account), QStringLiteral("drop"));
}

TEST_F(SecretServiceStoreTest, AnItemWrittenBySecretToolIsReadReplacedAndRemovedHere) {
    const QString account = QStringLiteral("dörte");
    const auto stored =
        session.secretTool({QStringLiteral("store"), QStringLiteral("--label=x"), QStringLiteral("service"),
                            cloudApp, QStringLiteral("account"), account},
                           QStringLiteral("peer-pässword").toUtf8());
    ASSERT_EQ(stored.exitCode, 0) << stored.errors.toStdString();

    EXPECT_TRUE(store.checkForExistanceOfKeychainItem(cloudApp, account));
    EXPECT_EQ(store.passwordFromKeychainItem(cloudApp, account), QStringLiteral("peer-pässword"));

    // Replaced in place: still the peer's one item, under its label and schema.
    ASSERT_TRUE(store.setPassword(QStringLiteral("changed"), cloudApp, account));
    const auto listed = searchAll(cloudApp, account);
    EXPECT_EQ(listedItems(listed.output), 1) << listed.output.toStdString();
    EXPECT_TRUE(listed.output.contains("label = x\n")) << listed.output.toStdString();
    EXPECT_TRUE(listed.output.contains("secret = changed\n")) << listed.output.toStdString();
    EXPECT_EQ(lookup(cloudApp, account).output, "changed");

    EXPECT_TRUE(store.removeKeychainItem(cloudApp, account));
    EXPECT_NE(lookup(cloudApp, account).exitCode, 0);
}

TEST_F(SecretServiceStoreTest, ALockedKeyringAnswersNoWithoutPrompting) {
    ASSERT_TRUE(store.setPassword(QStringLiteral("before-lock"), cloudApp, QStringLiteral("anna")));
    ASSERT_TRUE(session.lockDefaultCollection()) << session.errorString().toStdString();

    QElapsedTimer timer;
    timer.start();
    // The item still exists; reading it would take an unlock, and the unlock prompt is dismissed, not shown.
    EXPECT_TRUE(store.checkForExistanceOfKeychainItem(cloudApp, QStringLiteral("anna")));
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("anna")).isNull());
    EXPECT_EQ(secrets.find(cloudApp, QStringLiteral("anna")), std::nullopt);
    EXPECT_FALSE(store.setPassword(QStringLiteral("changed"), cloudApp, QStringLiteral("anna")));
    EXPECT_FALSE(store.setPassword(QStringLiteral("new"), cloudApp, QStringLiteral("bert")));
    EXPECT_FALSE(store.removeKeychainItem(cloudApp, QStringLiteral("anna")));
    EXPECT_LT(timer.elapsed(), 3000);
    // Nothing changed behind the lock.
    const auto listed = searchAll(cloudApp, QStringLiteral("anna"));
    EXPECT_EQ(listedItems(listed.output), 1) << listed.output.toStdString();
    EXPECT_EQ(listedItems(searchAll(cloudApp, QStringLiteral("bert")).output), 0);
}

TEST_F(SecretServiceStoreTest, AKeyringThatGoesAwayAnswersNo) {
    ASSERT_TRUE(store.setPassword(QStringLiteral("secret"), cloudApp, QStringLiteral("anna")));
    session.stopKeyring();

    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(store.checkForExistanceOfKeychainItem(cloudApp, QStringLiteral("anna")));
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("anna")).isNull());
    EXPECT_FALSE(store.setPassword(QStringLiteral("other"), cloudApp, QStringLiteral("anna")));
    EXPECT_FALSE(store.removeKeychainItem(cloudApp, QStringLiteral("anna")));
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(SecretServiceStoreTest, CallersOnSeveralThreadsAreServedInTurn) {
    std::vector<std::thread> callers;
    std::vector<int> answered(4, 0);
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([this, i, &answered] {
            const QString account = QStringLiteral("user-%1").arg(i);
            const QString password = QStringLiteral("password-%1").arg(i);
            answered[i] = store.setPassword(password, cloudApp, account) &&
                          store.passwordFromKeychainItem(cloudApp, account) == password;
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(answered, std::vector<int>(4, 1));
}

// Sets the bus address (none when null) for one test and puts the previous one back.
struct BusAddress {
    explicit BusAddress(const QByteArray& address) { set(address); }
    ~BusAddress() { set(saved); }
    static void set(const QByteArray& value) {
        value.isNull() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", value);
    }
    const QByteArray saved = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")
                                 ? qgetenv("DBUS_SESSION_BUS_ADDRESS")
                                 : QByteArray();
};

// Every operation, directly and through the credential store, answers false or nil; returns the time taken.
qint64 expectEverythingAnswersNo(SecretServiceStore& secrets) {
    accounts::CredentialStore store(secrets);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(secrets.contains(cloudApp, QStringLiteral("anna")));
    EXPECT_EQ(secrets.find(cloudApp, QStringLiteral("anna")), std::nullopt);
    EXPECT_FALSE(secrets.add(cloudApp, QStringLiteral("anna"), "secret"));
    EXPECT_FALSE(secrets.replace(cloudApp, QStringLiteral("anna"), "secret"));
    EXPECT_FALSE(secrets.remove(cloudApp, QStringLiteral("anna")));
    EXPECT_TRUE(store.passwordFromKeychainItem(cloudApp, QStringLiteral("anna")).isNull());
    EXPECT_FALSE(store.setPassword(QStringLiteral("secret"), cloudApp, QStringLiteral("anna")));
    EXPECT_FALSE(store.removeKeychainItem(cloudApp, QStringLiteral("anna")));
    return timer.elapsed();
}

TEST(SecretServiceUnreachableTest, NoBusAddressAnswersNoAtOnce) {
    BusAddress none{QByteArray()};
    SecretServiceStore secrets;
    EXPECT_LT(expectEverythingAnswersNo(secrets), 500);
}

TEST(SecretServiceUnreachableTest, AMissingBusSocketAnswersNoQuickly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    BusAddress missing{"unix:path=" + dir.filePath(QStringLiteral("no-such-bus")).toUtf8()};
    SecretServiceStore secrets;
    EXPECT_LT(expectEverythingAnswersNo(secrets), 6000);
}

TEST(SecretServiceUnreachableTest, ABusThatNeverAnswersIsAbandonedAfterTheTimeout) {
    // A socket that accepts connections (the kernel queues them) but never speaks: the handshake would wait
    // for ever without the store's own time limit.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray path = dir.filePath(QStringLiteral("silent")).toUtf8();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 16), 0);

    BusAddress silent{"unix:path=" + path};
    QElapsedTimer lifetime;
    lifetime.start();
    {
        SecretServiceStore secrets{std::chrono::milliseconds(300)};
        const qint64 elapsed = expectEverythingAnswersNo(secrets);
        // Nine bus calls, each given up after its 300 ms, with room for a slow machine.
        EXPECT_GE(elapsed, 300);
        EXPECT_LT(elapsed, 9 * 300 + 2000);
    }
    EXPECT_LT(lifetime.elapsed(), 9 * 300 + 2500); // and the store ends without waiting for the silent peer
    ::close(listener);
}

} // namespace
} // namespace qm::platform
