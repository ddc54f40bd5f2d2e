#include "accounts/credential_store.h"
#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "services/generic/generic_uploader.h"
#include "support/real_servers.h"
#include "support/test_support.h"
#include "uploaders/service_id.h"
#include "uploaders/service_registry.h"

#include "support/uploader_fixture.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace qm::platform {
inline void PrintTo(const Error& error, std::ostream* os) {
    *os << error.domain.toStdString() << ' ' << error.code << ": "
        << error.localizedDescription.toStdString();
}
} // namespace qm::platform

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using upload::GenericUploader;

const QString kNotFound = QStringLiteral("Remote File could not be found at '%1'.");
const QString kCouldNotAuthenticate = QStringLiteral("Could not authenticate with remote server.");

QByteArray fileDigest(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

class GenericUploaderTest : public UploaderFixture<upload::GenericUploaderClass> {
protected:
    void SetUp() override {
        QString error;
        servers = sharedFileServers(&error);
        ASSERT_TRUE(servers) << error.toStdString();
        options.knownHostsFile = temp.filePath(QStringLiteral("known_hosts"));
        options.connectTimeoutSeconds = 5;
        options.lowSpeedSeconds = 20;
        writeFile(options.knownHostsFile, servers->knownHostsLine());
        serviceClass = std::make_unique<upload::GenericUploaderClass>(environment, bundle, options);
        EXPECT_TRUE(settings.setObject(QString::fromLatin1(FileServers::user), keys::genericLogin));
        credentials.setPassword(QString::fromLatin1(FileServers::password),
                                QStringLiteral("Quillmoor (Generic)"),
                                QString::fromLatin1(FileServers::user));
    }

    void configure(const QString& server, const QString& publicURL = {}) {
        EXPECT_TRUE(settings.setObject(server, keys::genericServer));
        EXPECT_TRUE(settings.setObject(publicURL, keys::genericPublicURL));
    }

    void link(upload::Uploader& uploader) {
        linkAndWait(uploader, recorder);
        EXPECT_EQ(recorder.outcomes(), 0);
    }

    QString served(const QString& scheme, const QString& path) const {
        return servers->folder(scheme) + path;
    }
    // The target folder must exist for the listing before an upload (linking makes it).
    QUrl folderOn(const QString& scheme, const QString& path) {
        QDir().mkpath(served(scheme, path));
        return servers->url(scheme, path);
    }

    FileServers* servers = nullptr;
    upload::FileTransfer::Options options;
};

TEST(GenericUploaderAddress, ServerTextSplitsIntoBaseAndFolder) {
    auto location = GenericUploader::serverLocation(QStringLiteral("  sftp://files.example/files \n"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("sftp://files.example")));
    EXPECT_EQ(location.folder, QStringLiteral("/files"));

    location =
        GenericUploader::serverLocation(QStringLiteral("sftp://me@files.example:2222/files/up loads/"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("sftp://me@files.example:2222")));
    EXPECT_EQ(location.folder, QStringLiteral("/files/up loads/"));

    location = GenericUploader::serverLocation(QStringLiteral("ftp://host.example"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("ftp://host.example")));
    EXPECT_EQ(location.folder, QString());
    location = GenericUploader::serverLocation(QStringLiteral("ftp://host.example/"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("ftp://host.example/")));
    EXPECT_EQ(location.folder, QStringLiteral("/"));
    location = GenericUploader::serverLocation(QStringLiteral("ftp://host.example/x"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("ftp://host.example")));
    EXPECT_EQ(location.folder, QStringLiteral("/x"));
}

TEST(GenericUploaderNames, TakenNamesGetACounter) {
    const QStringList taken{QStringLiteral("report.pdf"), QStringLiteral("report-1.pdf"),
                            QStringLiteral("notes"), QStringLiteral("a.tar.gz")};
    EXPECT_EQ(GenericUploader::availableName(QStringLiteral("free.txt"), taken), QStringLiteral("free.txt"));
    EXPECT_EQ(GenericUploader::availableName(QStringLiteral("report.pdf"), {QStringLiteral("report.pdf")}),
              QStringLiteral("report-1.pdf"));
    EXPECT_EQ(GenericUploader::availableName(QStringLiteral("report.pdf"), taken),
              QStringLiteral("report-2.pdf"));
    EXPECT_EQ(GenericUploader::availableName(QStringLiteral("notes"), taken), QStringLiteral("notes-1."));
    EXPECT_EQ(GenericUploader::availableName(QStringLiteral("a.tar.gz"), taken),
              QStringLiteral("a.tar-1.gz"));
}

TEST(GenericUploaderNames, PublicLinkAppendsTheNameAsOneEscapedComponent) {
    EXPECT_EQ(GenericUploader::publicLink(QStringLiteral(" https://example.org/pub \n"),
                                          QStringLiteral("a b#?/.txt"))
                  .toString(QUrl::FullyEncoded),
              QStringLiteral("https://example.org/pub/a%20b%23%3F%2F.txt"));
    EXPECT_EQ(GenericUploader::publicLink(QStringLiteral("https://example.org/pub/"), QStringLiteral("r.pdf"))
                  .toString(),
              QStringLiteral("https://example.org/pub/r.pdf"));
    EXPECT_EQ(GenericUploader::publicLink(QStringLiteral("https://example.org"), QStringLiteral("r.pdf"))
                  .toString(),
              QStringLiteral("https://example.org/r.pdf"));
}

TEST(GenericUploaderTexts, MessagesAreTranslated) {
    const platform::Bundle german(
        QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"), {QStringLiteral("de")});
    for (const QString& text :
         {QStringLiteral("Remote File could not be found at '%@'."), kCouldNotAuthenticate}) {
        const QString translated = german.localized(text);
        EXPECT_NE(translated, text);
        EXPECT_FALSE(translated.isEmpty());
    }
    EXPECT_TRUE(german.localized(QStringLiteral("Remote File could not be found at '%@'."))
                    .contains(QStringLiteral("%@")));
}

TEST_F(GenericUploaderTest, ClassNamesTheServiceKeepsTheFlagAndMakesUploaders) {
    EXPECT_EQ(serviceClass->name(), QStringLiteral("Generic"));
    EXPECT_EQ(serviceClass->keychainIdentifier(), QStringLiteral("Quillmoor (Generic)"));
    EXPECT_FALSE(serviceClass->isLinked());
    serviceClass->setIsLinked(true);
    EXPECT_TRUE(settings.boolForKey(QString::fromLatin1(keys::genericLinked)));
    EXPECT_TRUE(serviceClass->isLinked());
    serviceClass->setIsLinked(false);
    EXPECT_FALSE(serviceClass->isLinked());
    EXPECT_TRUE(credentials
                    .passwordFromKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                              QString::fromLatin1(FileServers::user))
                    .isNull());
    EXPECT_NE(dynamic_cast<GenericUploader*>(serviceClass->create().get()), nullptr);

    upload::ServiceRegistry registry;
    registry.registerService(std::make_unique<upload::GenericUploaderClass>(environment, bundle));
    EXPECT_EQ(registry.classForService(upload::ServiceId::Generic)->name(), QStringLiteral("Generic"));
}

class GenericUploaderServerTest : public GenericUploaderTest,
                                  public ::testing::WithParamInterface<const char*> {
protected:
    QString scheme() const { return QString::fromLatin1(GetParam()); }
};

TEST_P(GenericUploaderServerTest, UploadsThroughTheDelegateAndAvoidsTakenNames) {
    const QString folder = QStringLiteral("/e2e-") + scheme() + QLatin1Char('/');
    configure(folderOn(scheme(), folder).toString());
    auto uploader = make();
    const QByteArray bytes = QByteArray("quarterly figures ").repeated(1000);
    const QString path = localFile(QStringLiteral("report.pdf"), bytes);

    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 1)
        << (recorder.failures.isEmpty() ? std::string()
                                        : recorder.failures[0].second.localizedDescription.toStdString());
    EXPECT_EQ(recorder.links[0], servers->url(scheme(), folder + QStringLiteral("report.pdf")));
    EXPECT_EQ(recorder.linkFiles[0], path);
    EXPECT_EQ(readFile(served(scheme(), folder + QStringLiteral("report.pdf"))), bytes);
    ASSERT_FALSE(recorder.progress.isEmpty());
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);

    // Same instance, same name again: the listing shows it taken.
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 2);
    EXPECT_EQ(recorder.links[1], servers->url(scheme(), folder + QStringLiteral("report-1.pdf")));
    EXPECT_EQ(readFile(served(scheme(), folder + QStringLiteral("report-1.pdf"))), bytes);
}

// Two runs at once list the folder before either has stored anything, so both pick the same free name;
// neither may replace the other's file or an existing one, and nothing temporary stays behind.
TEST_P(GenericUploaderServerTest, ConcurrentUploadsOfOneNameNeverReplaceAFile) {
    const QString folder = QStringLiteral("/race-") + scheme() + QLatin1Char('/');
    configure(folderOn(scheme(), folder).toString());
    writeFile(served(scheme(), folder + QStringLiteral("r.bin")), "already there");
    const QByteArray bytesA(1 << 20, 'a');
    const QByteArray bytesB(1 << 20, 'b');
    UploaderRecorder other;
    auto first = make();
    auto second = serviceClass->create();
    second->setDelegate(&other);
    ASSERT_TRUE(first->uploadFile(localFile(QStringLiteral("a/r.bin"), bytesA), true));
    ASSERT_TRUE(second->uploadFile(localFile(QStringLiteral("b/r.bin"), bytesB), true));
    ASSERT_TRUE(waitUntil([&] { return recorder.outcomes() + other.outcomes() == 2; }, kUploaderWaitMs));
    const auto why = [](const UploaderRecorder& r) {
        return r.failures.isEmpty() ? std::string() : r.failures[0].second.localizedDescription.toStdString();
    };
    ASSERT_EQ(recorder.links.size(), 1) << why(recorder);
    ASSERT_EQ(other.links.size(), 1) << why(other);
    const QString nameA = recorder.links[0].fileName();
    const QString nameB = other.links[0].fileName();
    EXPECT_NE(nameA, nameB);
    EXPECT_EQ(readFile(served(scheme(), folder + nameA)), bytesA);
    EXPECT_EQ(readFile(served(scheme(), folder + nameB)), bytesB);
    EXPECT_EQ(readFile(served(scheme(), folder + QStringLiteral("r.bin"))), QByteArray("already there"));
    QStringList entries =
        QDir(served(scheme(), folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    entries.sort();
    EXPECT_EQ(entries,
              (QStringList{QStringLiteral("r-1.bin"), QStringLiteral("r-2.bin"), QStringLiteral("r.bin")}));
}

TEST_P(GenericUploaderServerTest, RemovesAStoredFileByItsPublicOrServerLink) {
    const QString folder = QStringLiteral("/remove-") + scheme() + QLatin1Char('/');
    configure(folderOn(scheme(), folder).toString(), servers->publicURL(scheme(), folder).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("public.txt"), "p"));
    upload(*uploader, localFile(QStringLiteral("direct.txt"), "d"), false);
    ASSERT_EQ(recorder.links.size(), 2);
    for (const QUrl& link : recorder.links)
        EXPECT_EQ(removeAndWait(*uploader, link), std::nullopt) << link.toString().toStdString();
    EXPECT_FALSE(QFile::exists(served(scheme(), folder + QStringLiteral("public.txt"))));
    EXPECT_FALSE(QFile::exists(served(scheme(), folder + QStringLiteral("direct.txt"))));
    EXPECT_TRUE(
        removeAndWait(*uploader, QUrl(QStringLiteral("https://elsewhere.example/p.txt"))).has_value());
}

INSTANTIATE_TEST_SUITE_P(GenericUploader, GenericUploaderServerTest,
                         ::testing::Values("sftp", "http", "ftp", "file"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(GenericUploaderTest, TakenNamesGiveTheNextFreeOneAndThePublicLink) {
    writeFile(served(QStringLiteral("http"), QStringLiteral("/uploads/a.txt")), "old");
    writeFile(served(QStringLiteral("http"), QStringLiteral("/uploads/a-1.txt")), "older");
    const QUrl publicAddress = servers->publicURL(QStringLiteral("http"), QStringLiteral("/uploads"));
    configure(servers->url(QStringLiteral("http"), QStringLiteral("/uploads/")).toString(),
              QLatin1Char(' ') + publicAddress.toString() + QLatin1Char('\n'));
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("a.txt"), "new"));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_EQ(recorder.links[0].toString(), publicAddress.toString() + QStringLiteral("/a-2.txt"));
    EXPECT_EQ(readFile(served(QStringLiteral("http"), QStringLiteral("/uploads/a-2.txt"))),
              QByteArray("new"));
    EXPECT_EQ(readFile(served(QStringLiteral("http"), QStringLiteral("/uploads/a.txt"))), QByteArray("old"));
}

TEST_F(GenericUploaderTest, LinksNeverCarryUserInformation) {
    for (const char* scheme : {"sftp", "ftp"}) {
        QUrl server = folderOn(QString::fromLatin1(scheme), QStringLiteral("/userinfo/"));
        server.setUserName(QString::fromLatin1(FileServers::user));
        server.setPassword(QString::fromLatin1(FileServers::password));
        configure(server.toString());
        recorder = UploaderRecorder();
        auto uploader = make();
        upload(*uploader, localFile(QStringLiteral("u.txt"), "u"));
        ASSERT_EQ(recorder.links.size(), 1) << scheme;
        EXPECT_EQ(recorder.links[0],
                  servers->url(QString::fromLatin1(scheme), QStringLiteral("/userinfo/u.txt")));
    }
    EXPECT_EQ(GenericUploader::publicLink(QStringLiteral("https://who:pw@example.org/pub"),
                                          QStringLiteral("r.pdf")),
              QUrl(QStringLiteral("https://example.org/pub/r.pdf")));
}

// Each public link is asked for before the message leaves; one that does not answer fails its file.
TEST_F(GenericUploaderTest, APublicLinkThatDoesNotAnswerFailsTheFileWithAddressAndStatus) {
    const QUrl server = folderOn(QStringLiteral("sftp"), QStringLiteral("/pub-check/"));
    configure(server.toString(),
              servers->publicURL(QStringLiteral("sftp"), QStringLiteral("/pub-check")).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("p.txt"), "p"));
    ASSERT_EQ(recorder.links.size(), 1);

    const QUrl wrong = servers->publicURL(QStringLiteral("sftp"), QStringLiteral("/elsewhere"));
    configure(server.toString(), wrong.toString());
    upload(*uploader, localFile(QStringLiteral("q.txt"), "q"));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures[0].first, 1);
    const QString text = recorder.failures[0].second.localizedDescription;
    EXPECT_TRUE(text.contains(wrong.toString() + QStringLiteral("/q.txt"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("404"))) << text.toStdString();
    EXPECT_FALSE(QFile::exists(served(QStringLiteral("sftp"), QStringLiteral("/pub-check/q.txt"))));
}

TEST_F(GenericUploaderTest, WithoutPublicLinkTheRemoteURLIsTheLink) {
    configure(folderOn(QStringLiteral("http"), QStringLiteral("/private/")).toString(),
              QStringLiteral("https://files.example.org/pub"));
    auto uploader = make();
    ASSERT_TRUE(uploader->uploadFile(localFile(QStringLiteral("p.txt"), "p"), false));
    ASSERT_TRUE(waitUntil([&] { return recorder.outcomes() > 0; }, kUploaderWaitMs));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_EQ(recorder.links[0], servers->url(QStringLiteral("http"), QStringLiteral("/private/p.txt")));
}

TEST_F(GenericUploaderTest, ServerTextWithoutPathStoresAtTheRoot) {
    for (const char* scheme : {"http", "sftp"}) {
        QUrl server = servers->url(QString::fromLatin1(scheme));
        server.setPath(QString());
        configure(server.toString());
        recorder = UploaderRecorder();
        auto uploader = make();
        const QString name =
            QStringLiteral("at-root-") + QString::fromLatin1(scheme) + QStringLiteral(".txt");
        upload(*uploader, localFile(name, "root"));
        ASSERT_EQ(recorder.links.size(), 1) << scheme;
        EXPECT_EQ(recorder.links[0], servers->url(QString::fromLatin1(scheme), QLatin1Char('/') + name));
        EXPECT_EQ(readFile(served(QString::fromLatin1(scheme), QLatin1Char('/') + name)), QByteArray("root"))
            << scheme;
    }
}

TEST_F(GenericUploaderTest, HostThatBeginsLikeItsPathStaysWhole) {
    // The folder /127 on the host 127.0.0.1.
    configure(folderOn(QStringLiteral("sftp"), QStringLiteral("/127")).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("h.txt"), "host"));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_EQ(recorder.links[0].host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(recorder.links[0].path(), QStringLiteral("/127/h.txt"));
    EXPECT_EQ(readFile(served(QStringLiteral("sftp"), QStringLiteral("/127/h.txt"))), QByteArray("host"));
}

TEST_F(GenericUploaderTest, LinkingFailsWhenThePublicAddressDoesNotServeTheFolder) {
    const QString elsewhere = temp.filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(elsewhere);
    const QString publicAddress = QUrl::fromLocalFile(elsewhere).toString();
    configure(servers->url(QStringLiteral("http"), QStringLiteral("/link-miss/")).toString(), publicAddress);
    auto uploader = make();
    uploader->setLogin(QString::fromLatin1(FileServers::user));
    uploader->setPassword(QString::fromLatin1(FileServers::password));
    link(*uploader);
    ASSERT_EQ(recorder.authentications.size(), 1);
    ASSERT_TRUE(recorder.authentications[0].has_value());
    const platform::Error& error = *recorder.authentications[0];
    EXPECT_EQ(error.domain, QStringLiteral("RVErrorDomain"));
    EXPECT_EQ(error.code, 42);
    EXPECT_EQ(error.localizedDescription, kNotFound.arg(publicAddress + QStringLiteral("/dummy.bin")));
    EXPECT_EQ(QFileInfo(served(QStringLiteral("http"), QStringLiteral("/link-miss/dummy.bin"))).size(), 4);
}

TEST_F(GenericUploaderTest, LinkingSucceedsWhenThePublicAddressServesTheFolder) {
    for (const char* scheme : {"sftp", "http"}) {
        const QString folder = QStringLiteral("/link-ok-") + QString::fromLatin1(scheme);
        QDir().mkpath(served(QString::fromLatin1(scheme), folder));
        configure(servers->url(QString::fromLatin1(scheme), folder).toString(),
                  QUrl::fromLocalFile(served(QString::fromLatin1(scheme), folder)).toString());
        recorder = UploaderRecorder();
        auto uploader = make();
        uploader->setLogin(QString::fromLatin1(FileServers::user));
        uploader->setPassword(QString::fromLatin1(FileServers::password));
        link(*uploader);
        ASSERT_EQ(recorder.authentications.size(), 1) << scheme;
        EXPECT_EQ(recorder.authentications[0], std::nullopt) << scheme;
        EXPECT_FALSE(
            QFile::exists(served(QString::fromLatin1(scheme), folder + QStringLiteral("/dummy.bin"))))
            << scheme;
    }
}

class GenericUploaderLinkTest : public GenericUploaderTest,
                                public ::testing::WithParamInterface<const char*> {
protected:
    QString scheme() const { return QString::fromLatin1(GetParam()); }
};

// Without a public address the test file is read back from the server itself, logged in as for the write.
TEST_P(GenericUploaderLinkTest, LinkingWithoutPublicAddressReadsTheTestFileBackWithTheLogIn) {
    const QString folder = QStringLiteral("/link-own-") + scheme();
    configure(servers->url(scheme(), folder).toString());
    auto uploader = make();
    link(*uploader);
    ASSERT_EQ(recorder.authentications.size(), 1);
    EXPECT_EQ(recorder.authentications[0], std::nullopt);
    EXPECT_TRUE(QDir(served(scheme(), folder)).exists());
    EXPECT_FALSE(QFile::exists(served(scheme(), folder + QStringLiteral("/dummy.bin"))));
}

INSTANTIATE_TEST_SUITE_P(GenericUploader, GenericUploaderLinkTest, ::testing::Values("sftp", "ftp", "http"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(GenericUploaderTest, LinkingWithoutPublicAddressReadsBackOverSftpWithAKeyFile) {
    credentials.setPassword(QString::fromLatin1(FileServers::keyPassphrase),
                            QStringLiteral("Quillmoor (Generic)"), QString::fromLatin1(FileServers::user));
    EXPECT_TRUE(settings.setObject(servers->clientKey(), keys::genericPrivateKey));
    configure(servers->url(QStringLiteral("sftp"), QStringLiteral("/link-own-keyed/")).toString());
    auto uploader = make();
    link(*uploader);
    ASSERT_EQ(recorder.authentications.size(), 1);
    EXPECT_EQ(recorder.authentications[0], std::nullopt);
    EXPECT_FALSE(QFile::exists(served(QStringLiteral("sftp"), QStringLiteral("/link-own-keyed/dummy.bin"))));
}

TEST_F(GenericUploaderTest, APublicAddressOnAnotherURLGetsNoCredentials) {
    // The same WebDAV folder under another host name: it holds the test file but wants the login, which
    // must not be sent there.
    const QUrl server = servers->url(QStringLiteral("http"), QStringLiteral("/link-other/"));
    QUrl publicAddress = server;
    publicAddress.setHost(QStringLiteral("localhost"));
    configure(server.toString(), publicAddress.toString());
    auto uploader = make();
    link(*uploader);
    ASSERT_EQ(recorder.authentications.size(), 1);
    ASSERT_TRUE(recorder.authentications[0].has_value());
    EXPECT_EQ(recorder.authentications[0]->domain, QStringLiteral("RVErrorDomain"));
    EXPECT_EQ(recorder.authentications[0]->code, 42);
    EXPECT_EQ(recorder.authentications[0]->localizedDescription,
              kNotFound.arg(publicAddress.toString() + QStringLiteral("dummy.bin")));
    EXPECT_EQ(readFile(served(QStringLiteral("http"), QStringLiteral("/link-other/dummy.bin"))).size(), 4);
}

TEST_F(GenericUploaderTest, WrongPasswordWhileLinkingIsReportedOnce) {
    for (const char* scheme : {"http", "sftp"}) {
        configure(servers->url(QString::fromLatin1(scheme), QStringLiteral("/wrong/")).toString());
        recorder = UploaderRecorder();
        auto uploader = make();
        uploader->setLogin(QString::fromLatin1(FileServers::user));
        uploader->setPassword(QStringLiteral("not the password"));
        link(*uploader);
        ASSERT_EQ(recorder.authentications.size(), 1) << scheme;
        ASSERT_TRUE(recorder.authentications[0].has_value()) << scheme;
        const platform::Error& error = *recorder.authentications[0];
        if (QLatin1String(scheme) == QLatin1String("http")) {
            EXPECT_EQ(error.domain, QStringLiteral("RVErrorDomain"));
            EXPECT_EQ(error.code, 43);
            EXPECT_EQ(error.localizedDescription, kCouldNotAuthenticate);
        } else {
            // SFTP says why it refused; that error is passed on as it is.
            EXPECT_FALSE(error.localizedDescription.isEmpty());
        }
    }
}

TEST_F(GenericUploaderTest, WrongPasswordWhileUploadingFailsOnceWithStatus1) {
    credentials.setPassword(QStringLiteral("stale"), QStringLiteral("Quillmoor (Generic)"),
                            QString::fromLatin1(FileServers::user));
    configure(servers->url(QStringLiteral("http"), QStringLiteral("/stale/")).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("s.txt"), "s"));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures[0].first, 1);
    EXPECT_EQ(recorder.failures[0].second.localizedDescription, kCouldNotAuthenticate);
    EXPECT_TRUE(recorder.authentications.isEmpty());
}

TEST_F(GenericUploaderTest, MissingKeyFileFallsBackToThePassword) {
    EXPECT_TRUE(settings.setObject(temp.filePath(QStringLiteral("no_such_key")), keys::genericPrivateKey));
    configure(folderOn(QStringLiteral("sftp"), QStringLiteral("/nokey/")).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("n.txt"), "n"));
    EXPECT_EQ(recorder.links.size(), 1);
}

TEST_F(GenericUploaderTest, KeyFileWithPassPhraseLogsInOverSftp) {
    // The stored password is the key's pass phrase, which the server does not take as a password.
    credentials.setPassword(QString::fromLatin1(FileServers::keyPassphrase),
                            QStringLiteral("Quillmoor (Generic)"), QString::fromLatin1(FileServers::user));
    EXPECT_TRUE(settings.setObject(servers->clientKey(), keys::genericPrivateKey));
    configure(folderOn(QStringLiteral("sftp"), QStringLiteral("/keyed/")).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("k.txt"), "k"));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_EQ(readFile(served(QStringLiteral("sftp"), QStringLiteral("/keyed/k.txt"))), QByteArray("k"));

    EXPECT_TRUE(settings.setObject(QString(), keys::genericPrivateKey));
    recorder = UploaderRecorder();
    upload(*uploader, localFile(QStringLiteral("k2.txt"), "k"));
    EXPECT_EQ(recorder.failures.size(), 1); // without the key the pass phrase is a wrong password
}

TEST_F(GenericUploaderTest, LargeFileArrivesByteIdenticalWithRisingProgress) {
    const QString path = temp.filePath(QStringLiteral("large.bin"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(50 << 20)); // sparse, with a few marks a shifted or truncated copy would lose
        for (const qint64 offset : {qint64(0), qint64(17 << 20) + 3, qint64(50 << 20) - 9}) {
            file.seek(offset);
            file.write("quillmoor");
        }
    }
    const QByteArray digest = fileDigest(path);
    for (const char* scheme : {"sftp", "http"}) {
        configure(folderOn(QString::fromLatin1(scheme), QStringLiteral("/large/")).toString());
        recorder = UploaderRecorder();
        auto uploader = make();
        upload(*uploader, path);
        ASSERT_EQ(recorder.links.size(), 1) << scheme;
        EXPECT_EQ(fileDigest(served(QString::fromLatin1(scheme), QStringLiteral("/large/large.bin"))), digest)
            << scheme;
        ASSERT_GE(recorder.progress.size(), 2) << scheme;
        for (qsizetype i = 1; i < recorder.progress.size(); ++i)
            EXPECT_LT(recorder.progress[i - 1], recorder.progress[i]) << scheme;
        EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0) << scheme;
    }
}

TEST_F(GenericUploaderTest, CancelClearsBusyAndNothingIsReportedAfterwards) {
    const QString path = temp.filePath(QStringLiteral("endless.bin"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(4) << 30));
    }
    configure(folderOn(QStringLiteral("http"), QStringLiteral("/cancel/")).toString());
    auto uploader = make();
    ASSERT_TRUE(uploader->uploadFile(path, true));
    EXPECT_FALSE(uploader->uploadFile(path, true)); // one transfer at a time
    ASSERT_TRUE(waitUntil([&] { return !recorder.progress.isEmpty(); }, kUploaderWaitMs));
    uploader->cancelUpload();
    EXPECT_FALSE(uploader->busy());
    const qsizetype progressAtCancel = recorder.progress.size();
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(recorder.outcomes(), 0);
    EXPECT_EQ(recorder.progress.size(), progressAtCancel);
    // The partial upload is removed, and never had the final name.
    const QDir folder(served(QStringLiteral("http"), QStringLiteral("/cancel/")));
    const auto entries = [&] {
        return folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    EXPECT_TRUE(waitUntil([&] { return entries().isEmpty(); }, kUploaderWaitMs))
        << entries().join(u' ').toStdString();

    upload(*uploader, localFile(QStringLiteral("after.txt"), "after"));
    EXPECT_EQ(recorder.links.size(), 1);
}

TEST_F(GenericUploaderTest, AMissingFolderFailsTheUploadUntilLinkingMakesIt) {
    configure(
        servers->url(QStringLiteral("sftp"), QStringLiteral("/made/by/linking/")).toString(),
        QUrl::fromLocalFile(served(QStringLiteral("sftp"), QStringLiteral("/made/by/linking"))).toString());
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("m.txt"), "m"));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures[0].first, 1);

    recorder = UploaderRecorder();
    link(*uploader);
    ASSERT_EQ(recorder.authentications.size(), 1);
    EXPECT_EQ(recorder.authentications[0], std::nullopt);
    upload(*uploader, localFile(QStringLiteral("m.txt"), "m"));
    EXPECT_EQ(recorder.links.size(), 1);
}

TEST_F(GenericUploaderTest, UnreachableServerFailsOnceWithStatus1) {
    for (const QString& server : {QStringLiteral("sftp://127.0.0.1:%1/x/").arg(freeLoopbackPort()),
                                  QStringLiteral("no scheme here")}) {
        configure(server);
        recorder = UploaderRecorder();
        auto uploader = make();
        upload(*uploader, localFile(QStringLiteral("u.txt"), "u"));
        ASSERT_EQ(recorder.failures.size(), 1) << server.toStdString();
        EXPECT_EQ(recorder.failures[0].first, 1);
        EXPECT_FALSE(recorder.failures[0].second.localizedDescription.isEmpty());
    }
}

TEST_F(GenericUploaderTest, DestroyedUploaderReportsNothing) {
    configure(folderOn(QStringLiteral("http"), QStringLiteral("/gone/")).toString());
    auto uploader = make();
    ASSERT_TRUE(uploader->uploadFile(localFile(QStringLiteral("g.txt"), "g"), true));
    uploader.reset();
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(recorder.outcomes(), 0);
}

} // namespace
} // namespace qm::test
