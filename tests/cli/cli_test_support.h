#pragma once

#include "accounts/credential_store.h"
#include "cli/environment.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "support/lockable_secret_store.h"
#include "uploaders/service_registry.h"
#include "uploaders/uploader_class.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace qm::test::cli {

// A fixture message of tests/cli/fixtures.
QString fixturePath(const QString& name);

// The attachment payloads of the fixtures.
QByteArray fixturePdf();
QByteArray fixtureBinary(); // bytes 0 to 255, four times
QByteArray fixturePng();

// A message as a recipient's mail program sees it, parsed by GMime independently of the host's loader.
struct MimePart {
    QString mimeType;
    QString filename;
    QString contentID;
    QString disposition;
    QByteArray bytes; // decoded
};

struct ParsedMessage {
    bool valid = false;
    QStringList headerNames;        // in order, as written
    QMap<QString, QString> headers; // lower-case name -> decoded value of the first
    QStringList structure;          // content types, indented by depth: "multipart/mixed", " text/plain"
    QString text;                   // the first text/plain body part
    QString html;                   // the first text/html body part
    QList<MimePart> attachments;    // parts with disposition "attachment"
    QList<MimePart> inlineParts;    // non-root parts of a multipart/related

    QStringList attachmentNames() const;
    const MimePart* attachmentNamed(const QString& filename) const;
};

ParsedMessage parseMessageFile(const QString& path);
ParsedMessage parseMessage(const QByteArray& bytes);

// An uploader that finishes by itself: a link per file (after a progress report), a failure, or nothing
// at all until cancelled.
class AutoUploaderClass final : public upload::FlagLinkedUploaderClass {
public:
    enum class Behaviour { Link, Fail, Hang };

    AutoUploaderClass(const upload::ServiceEnvironment& environment, Behaviour behaviour);
    std::unique_ptr<upload::Uploader> create() const override;

    Behaviour behaviour;
    mutable QStringList uploaded; // file names, in order
    mutable int cancelled = 0;
    // Removal of stored files: recorded, or refused when `removalFails`.
    mutable QList<QUrl> removed;
    bool removalFails = false;
};

// One invocation of `quillmoor` in this process: settings in a private folder, the real bundle, a
// service registry the test fills, standard output and error captured.
class CliRunner {
public:
    CliRunner();
    ~CliRunner();
    CliRunner(const CliRunner&) = delete;
    CliRunner& operator=(const CliRunner&) = delete;

    int run(const QStringList& arguments);
    // Standard input of the runs that follow: a pipe holding `text` and then its end.
    void setInput(const QByteArray& text);
    // `link SERVICE --login LOGIN --password-stdin MORE…` with `password` on standard input; the status.
    int linkWithPassword(const QString& service, const QString& login, const QString& password,
                         const QStringList& more = {});
    QString out() const { return QString::fromUtf8(out_.data()); }
    QString err() const { return QString::fromUtf8(err_.data()); }

    // Links the test service (identifier 9) with the given behaviour and selects it.
    AutoUploaderClass& linkService(AutoUploaderClass::Behaviour behaviour);
    // Every attachment above `megabytes` (as a real) moves; 0.0001 MByte is about 100 bytes.
    void setThreshold(double megabytes, bool perFile = false);
    // The temporary folders runs leave behind in TMPDIR, which points into the test's folder during run().
    QStringList leftovers() const;
    // `send --answer upload --out OUT` of a fixture, with a threshold every attachment is over; the status.
    int sendUploadingEverything(const QString& fixture, const QString& out);

    QString path(const QString& name) const { return folder.filePath(name); }

    QTemporaryDir folder;
    platform::SettingsStore settings;
    platform::Bundle bundle;
    LockableSecretStore secrets; // locked: the Secret Service is missing or locked
    accounts::CredentialStore credentials;
    upload::ServiceEnvironment serviceEnvironment;
    upload::ServiceRegistry services;
    int inputFd = -1;
    int promptFd = -1;
    int messageOutputFd = -1;
    QString sendmailProgram;
    int signInTimeoutMilliseconds = 5 * 60 * 1000;

private:
    QBuffer out_;
    QBuffer err_;
    int ownInput_ = -1;
};

// The real SMTP server (aiosmtpd, from Debian) in a process of its own, storing what it receives.
class SmtpSink {
public:
    ~SmtpSink();

    // Starts the server and waits (bounded) until it accepts connections; an explanation on failure.
    // `options` as smtp_sink.py takes them (TLS, STARTTLS, a required log-in).
    QString start(const QString& folder, const QStringList& options = {});

    QString url(const QString& scheme = QStringLiteral("smtp")) const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port_);
    }
    int port() const { return port_; }
    QString messagePath(int number) const;
    QStringList envelope(int number) const; // MAIL FROM, then each RCPT TO
    int received() const;

private:
    QProcess process_;
    QString folder_;
    int port_ = 0;
};

} // namespace qm::test::cli
