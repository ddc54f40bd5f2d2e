#include "support/real_servers.h"
#include "support/test_support.h"
#include "uploaders/file_transfer.h"
#include "uploaders/file_transfer_internal.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace qm::platform {
inline void PrintTo(const Error& error, std::ostream* os) {
    *os << error.domain.toStdString() << ' ' << error.code << ": "
        << error.localizedDescription.toStdString();
}
inline void PrintTo(const std::optional<Error>& error, std::ostream* os) {
    if (error)
        PrintTo(*error, os);
    else
        *os << "no error";
}
} // namespace qm::platform

namespace qm::test {
namespace {

using upload::AuthenticationMethod;
using upload::ChallengeReply;
using upload::FileTransfer;
using upload::TransferChallenge;
using upload::TransferCredential;
using Error = std::optional<platform::Error>;

constexpr int kWaitMs = 15000;

// One outcome of an operation, waited for on the event loop.
template <typename T> struct Outcome {
    std::optional<T> value;
    Error error;
    bool done = false;
};

class FileTransferTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        QString error;
        servers = sharedFileServers(&error);
        ASSERT_TRUE(servers) << error.toStdString();
        options.knownHostsFile = temp.filePath(QStringLiteral("data/known_hosts"));
        options.connectTimeoutSeconds = 5;
        options.lowSpeedSeconds = 20;
        writeFile(options.knownHostsFile, servers->knownHostsLine());
        transfer = std::make_unique<FileTransfer>(options);
        transfer->setChallengeHandler([this](const TransferChallenge& challenge, ChallengeReply reply) {
            challenges.append(challenge);
            if (answer)
                answer(challenge, reply);
            else
                reply.useCredential(
                    {QString::fromLatin1(FileServers::user), QString::fromLatin1(FileServers::password), {}});
        });
    }

    QString scheme() const { return QString::fromLatin1(GetParam()); }
    QUrl url(const QString& path) const { return servers->url(scheme(), path); }
    QString served(const QString& path) const { return servers->folder(scheme()) + path; }

    Error create(const QUrl& target, const QByteArray& data, bool intermediates = true) {
        Outcome<bool> outcome;
        transfer->createFile(target, data, intermediates, [&](const Error& error) {
            outcome.error = error;
            outcome.done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.done; }, kWaitMs));
        return outcome.error;
    }

    Outcome<QStringList> list(const QUrl& folder) {
        Outcome<QStringList> outcome;
        transfer->contentsOfDirectory(folder, [&](const QStringList& names, const Error& error) {
            outcome.value = names;
            outcome.error = error;
            outcome.done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.done; }, kWaitMs));
        return outcome;
    }

    Error remove(const QUrl& target) {
        Outcome<bool> outcome;
        transfer->removeItem(target, [&](const Error& error) {
            outcome.error = error;
            outcome.done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.done; }, kWaitMs));
        return outcome.error;
    }

    Outcome<QByteArray> fetch(const QUrl& target, upload::FetchAccess access = upload::FetchAccess::Anonymous,
                              qint64 maxBytes = 1 << 20) {
        Outcome<QByteArray> outcome;
        transfer->fetchContents(
            target, access,
            [&](const QByteArray& body, const Error& error) {
                outcome.value = body;
                outcome.error = error;
                outcome.done = true;
            },
            maxBytes);
        EXPECT_TRUE(waitUntil([&] { return outcome.done; }, kWaitMs));
        return outcome;
    }

    FileServers* servers = nullptr;
    QTemporaryDir temp;
    FileTransfer::Options options;
    std::unique_ptr<FileTransfer> transfer;
    QList<TransferChallenge> challenges;
    std::function<void(const TransferChallenge&, ChallengeReply&)> answer;
};

// The schemes that log in.
class FileTransferLogInTest : public FileTransferTest {};

TEST_P(FileTransferTest, CreatesWithIntermediateFoldersListsWithoutHiddenEntriesAndRemoves) {
    const QString base = QStringLiteral("/list-") + scheme();
    writeFile(served(base + QStringLiteral("/.hidden")), "h");
    writeFile(served(base + QStringLiteral("/sub/inner.txt")), "i");

    const QByteArray bytes = "first file, with a name that needs escaping";
    EXPECT_EQ(create(url(base + QStringLiteral("/new/deeper/a b#1.txt")), bytes), Error());
    EXPECT_EQ(readFile(served(base + QStringLiteral("/new/deeper/a b#1.txt"))), bytes);
    EXPECT_EQ(create(url(base + QStringLiteral("/top.txt")), "top", false), Error());

    auto listing = list(url(base));
    ASSERT_EQ(listing.error, Error());
    QStringList names = *listing.value;
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("new"), QStringLiteral("sub"), QStringLiteral("top.txt")}));
    listing = list(url(base + QStringLiteral("/new/deeper/")));
    EXPECT_EQ(*listing.value, QStringList{QStringLiteral("a b#1.txt")});

    EXPECT_EQ(remove(url(base + QStringLiteral("/new/deeper/a b#1.txt"))), Error());
    EXPECT_FALSE(QFile::exists(served(base + QStringLiteral("/new/deeper/a b#1.txt"))));
    EXPECT_TRUE(remove(url(base + QStringLiteral("/new/deeper/a b#1.txt"))).has_value());
}

TEST_P(FileTransferTest, ListingAMissingFolderFails) {
    const auto listing = list(url(QStringLiteral("/no-such-folder/")));
    ASSERT_TRUE(listing.error.has_value());
    EXPECT_EQ(listing.error->domain, QString::fromLatin1(upload::kFileTransferErrorDomain));
    EXPECT_FALSE(upload::isTransferCancelled(listing.error));
}

TEST_P(FileTransferTest, StreamsAFileWithMonotonicProgress) {
    const QString source = temp.filePath(QStringLiteral("big.bin"));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(6 << 20));
        file.seek(3 << 20);
        file.write("middle");
    }
    QList<qint64> written;
    Outcome<bool> outcome;
    transfer->createFile(
        url(QStringLiteral("/stream/big.bin")), source, true,
        [&](qint64 bytes, qint64 total) {
            EXPECT_EQ(total, 6 << 20);
            written.append(bytes);
        },
        [&](const Error& error) {
            outcome.error = error;
            outcome.done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return outcome.done; }, kWaitMs));
    ASSERT_EQ(outcome.error, Error());
    drainEvents();
    ASSERT_FALSE(written.isEmpty());
    EXPECT_EQ(written.last(), 6 << 20);
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
    EXPECT_EQ(std::adjacent_find(written.begin(), written.end()), written.end());
    EXPECT_EQ(QFileInfo(served(QStringLiteral("/stream/big.bin"))).size(), 6 << 20);
}

TEST_P(FileTransferTest, AnonymousFetchReadsHttpAndFileOnly) {
    writeFile(served(QStringLiteral("/fetch/body.bin")), "body");
    const auto fetched = fetch(url(QStringLiteral("/fetch/body.bin")));
    if (scheme() == QLatin1String("file")) {
        EXPECT_EQ(fetched.error, Error());
        EXPECT_EQ(*fetched.value, QByteArray("body"));
    } else if (scheme() == QLatin1String("http")) {
        // This server wants a log-in, and an anonymous fetch offers none.
        ASSERT_TRUE(fetched.error.has_value());
        EXPECT_EQ(fetched.error->code, upload::TransferHTTPStatus);
        EXPECT_EQ(fetched.error->userInfo.value(QStringLiteral("HTTPStatus")).toInt(), 401);
    } else {
        ASSERT_TRUE(fetched.error.has_value());
        EXPECT_EQ(fetched.error->code, upload::TransferUnsupportedScheme);
    }
    EXPECT_TRUE(challenges.isEmpty());
}

TEST_P(FileTransferTest, FetchWithLogInReadsEverySchemeWithinTheLimit) {
    writeFile(served(QStringLiteral("/fetch-login/body.bin")), "body");
    const QUrl target = url(QStringLiteral("/fetch-login/body.bin"));
    auto fetched = fetch(target, upload::FetchAccess::LogIn);
    EXPECT_EQ(fetched.error, Error());
    EXPECT_EQ(*fetched.value, QByteArray("body"));
    if (scheme() != QLatin1String("file")) {
        ASSERT_EQ(challenges.size(), 1);
        EXPECT_EQ(challenges[0].previousFailureCount, 0);
        EXPECT_EQ(challenges[0].url, target);
    }

    fetched = fetch(target, upload::FetchAccess::LogIn, 3);
    ASSERT_TRUE(fetched.error.has_value());
    EXPECT_FALSE(upload::isTransferCancelled(fetched.error));
    EXPECT_TRUE(fetched.value->isEmpty());

    fetched = fetch(url(QStringLiteral("/fetch-login/missing.bin")), upload::FetchAccess::LogIn);
    ASSERT_TRUE(fetched.error.has_value());
    EXPECT_FALSE(upload::isTransferCancelled(fetched.error));
}

TEST_P(FileTransferLogInTest, RefusedCredentialsAreAskedForAgainWithACountUntilCancelled) {
    answer = [](const TransferChallenge& challenge, ChallengeReply& reply) {
        if (challenge.previousFailureCount < 2)
            reply.useCredential({QString::fromLatin1(FileServers::user), QStringLiteral("wrong"), {}});
        else
            reply.cancel();
    };
    const auto listing = list(url(QStringLiteral("/")));
    EXPECT_TRUE(upload::isTransferCancelled(listing.error));
    ASSERT_EQ(challenges.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(challenges[i].previousFailureCount, i);
    if (scheme() == QLatin1String("http")) {
        EXPECT_EQ(challenges[0].method, AuthenticationMethod::HTTPBasic);
        EXPECT_FALSE(challenges[2].error.has_value());
    } else {
        EXPECT_EQ(challenges[0].method, AuthenticationMethod::Default);
        EXPECT_FALSE(challenges[0].error.has_value()); // asked before the first log-in
        ASSERT_TRUE(challenges[2].error.has_value());
        EXPECT_FALSE(challenges[2].error->localizedDescription.isEmpty());
    }
}

TEST_P(FileTransferTest, CancelAbortsATransfer) {
    const QString source = temp.filePath(QStringLiteral("cancel.bin"));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(
            file.resize(qint64(2) << 30)); // sparse: far more than a loopback link moves before the cancel
    }
    Outcome<bool> outcome;
    bool started = false;
    auto operation = transfer->createFile(
        url(QStringLiteral("/cancel/cancel.bin")), source, true, [&](qint64, qint64) { started = true; },
        [&](const Error& error) {
            outcome.error = error;
            outcome.done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return started; }, kWaitMs));
    operation->cancel();
    ASSERT_TRUE(waitUntil([&] { return outcome.done; }, kWaitMs));
    EXPECT_TRUE(upload::isTransferCancelled(outcome.error));
}

INSTANTIATE_TEST_SUITE_P(FileTransfer, FileTransferTest, ::testing::Values("sftp", "http", "ftp", "file"),
                         [](const auto& info) { return std::string(info.param); });
INSTANTIATE_TEST_SUITE_P(FileTransfer, FileTransferLogInTest, ::testing::Values("sftp", "http", "ftp"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(FileTransferTest, SftpKeyLogInWithPassPhrase) {
    answer = [this](const TransferChallenge&, ChallengeReply& reply) {
        reply.useCredential({QString::fromLatin1(FileServers::user),
                             QString::fromLatin1(FileServers::keyPassphrase), servers->clientKey()});
    };
    EXPECT_EQ(create(servers->url(QStringLiteral("sftp"), QStringLiteral("/keyed/k.txt")), "k"), Error());
    EXPECT_EQ(readFile(servers->folder(QStringLiteral("sftp")) + QStringLiteral("/keyed/k.txt")),
              QByteArray("k"));
}

TEST_F(FileTransferTest, SftpRefusesUnknownHostKeysUntilAcceptedAndChangedOnesAlways) {
    const QUrl root = servers->url(QStringLiteral("sftp"), QStringLiteral("/"));
    QFile::remove(options.knownHostsFile);
    auto listing = list(root);
    ASSERT_TRUE(listing.error.has_value());
    const auto key = upload::HostKey::fromError(*listing.error);
    ASSERT_TRUE(key.has_value()) << listing.error->localizedDescription.toStdString();
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
                  servers->hostKey() + QStringLiteral(".pub")});
    ASSERT_TRUE(keygen.waitForFinished(10000));
    const QString fingerprint = QString::fromLatin1(keygen.readAllStandardOutput().split(' ').value(1));
    EXPECT_EQ(key->fingerprint, fingerprint);
    EXPECT_TRUE(listing.error->localizedDescription.contains(fingerprint));
    EXPECT_FALSE(QFile::exists(options.knownHostsFile)); // nothing recorded without consent

    ASSERT_TRUE(FileTransfer::acceptHostKey(*key));
    const QByteArray recorded = readFile(options.knownHostsFile);
    EXPECT_EQ(recorded, servers->knownHostsLine());
    EXPECT_EQ(list(root).error, Error());
    EXPECT_EQ(readFile(options.knownHostsFile), recorded);

    // Another key under the same name: what a server swapped by someone else would show.
    QString error;
    const QString otherKey = temp.filePath(QStringLiteral("other_host_key"));
    ASSERT_TRUE(makeSshKey(otherKey, QString(), &error)) << error.toStdString();
    const QByteArray otherPublic = readFile(otherKey + QStringLiteral(".pub")).split(' ').mid(0, 2).join(' ');
    const QByteArray forged = "[127.0.0.1]:" + QByteArray::number(root.port()) + ' ' + otherPublic + '\n';
    writeFile(options.knownHostsFile, forged);
    challenges.clear();
    listing = list(root);
    ASSERT_TRUE(listing.error.has_value());
    EXPECT_EQ(listing.error->code, upload::TransferHostKeyChanged)
        << listing.error->localizedDescription.toStdString();
    EXPECT_EQ(readFile(options.knownHostsFile), forged);
}

TEST_F(FileTransferTest, DefaultHandlingEndsWithTheRefusal) {
    answer = [](const TransferChallenge&, ChallengeReply& reply) { reply.performDefaultHandling(); };
    for (const char* scheme : {"http", "sftp"}) {
        challenges.clear();
        const auto listing = list(servers->url(QString::fromLatin1(scheme), QStringLiteral("/")));
        ASSERT_TRUE(listing.error.has_value()) << scheme;
        EXPECT_FALSE(upload::isTransferCancelled(listing.error)) << scheme;
        EXPECT_EQ(challenges.size(), 1) << scheme;
    }
}

TEST_F(FileTransferTest, FetchWithLogInAsksAgainAfterARefusal) {
    answer = [](const TransferChallenge& challenge, ChallengeReply& reply) {
        reply.useCredential({QString::fromLatin1(FileServers::user),
                             challenge.previousFailureCount == 0 ? QStringLiteral("wrong")
                                                                 : QString::fromLatin1(FileServers::password),
                             {}});
    };
    writeFile(servers->folder(QStringLiteral("http")) + QStringLiteral("/fetch-retry/b.bin"), "http");
    auto fetched = fetch(servers->url(QStringLiteral("http"), QStringLiteral("/fetch-retry/b.bin")),
                         upload::FetchAccess::LogIn);
    EXPECT_EQ(fetched.error, Error());
    EXPECT_EQ(*fetched.value, QByteArray("http"));
    ASSERT_EQ(challenges.size(), 2);
    EXPECT_EQ(challenges[1].previousFailureCount, 1);
}

TEST_F(FileTransferTest, DestroyedTransferReportsNothing) {
    bool called = false;
    transfer->contentsOfDirectory(servers->url(QStringLiteral("http"), QStringLiteral("/")),
                                  [&](const QStringList&, const Error&) { called = true; });
    transfer.reset();
    QThread::msleep(300);
    drainEvents();
    EXPECT_FALSE(called);
}

TEST(FileTransferMultistatus, NamesRelativeToTheFolder) {
    const QByteArray body = R"(<?xml version="1.0"?>
<d:multistatus xmlns:d="DAV:">
 <d:response><d:href>/files/up%20loads/</d:href></d:response>
 <d:response><d:href>/files/up%20loads/a%20b.txt</d:href></d:response>
 <d:response><d:href>http://example.org/files/up%20loads/sub/</d:href></d:response>
 <d:response><d:href>/files/up%20loads/.hidden</d:href></d:response>
 <d:response><d:href>/files/up%20loads/sub/nested.txt</d:href></d:response>
 <d:response><d:href>/elsewhere/proxied.txt</d:href></d:response>
</d:multistatus>)";
    const auto listed = upload::transfer::namesFromMultistatus(body, QStringLiteral("/files/up loads/"));
    ASSERT_TRUE(listed);
    const QStringList& names = *listed;
    EXPECT_EQ(names, (QStringList{QStringLiteral("a b.txt"), QStringLiteral("sub"), QStringLiteral(".hidden"),
                                  QStringLiteral("proxied.txt")}));
    EXPECT_EQ(upload::transfer::visibleNames(names),
              (QStringList{QStringLiteral("a b.txt"), QStringLiteral("sub"), QStringLiteral("proxied.txt")}));

    EXPECT_FALSE(upload::transfer::namesFromMultistatus("not xml <", QStringLiteral("/")));
}

TEST(FileTransferUrls, PathsJoinTheBase) {
    const QUrl base(QStringLiteral("sftp://user@files.example:2222"));
    EXPECT_EQ(
        FileTransfer::urlWithPath(base, QStringLiteral("/files/a b#?.txt")).toString(QUrl::FullyEncoded),
        QStringLiteral("sftp://user@files.example:2222/files/a%20b%23%3F.txt"));
    EXPECT_EQ(FileTransfer::urlWithPath(base, QStringLiteral("x")).path(), QStringLiteral("/x"));
}

} // namespace
} // namespace qm::test
