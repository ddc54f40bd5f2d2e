#include "cli_test_support.h"

#include "support/real_servers.h"

#include "accounts/settings_keys.h"
#include "cli/application.h"
#include "platform/dispatch.h"
#include "support/test_support.h"
#include "support/test_uploader.h"
#include "uploaders/uploader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test::cli {

QString fixturePath(const QString& name) {
    return QStringLiteral(QUILLMOOR_CLI_FIXTURES "/") + name;
}

QByteArray fixturePdf() {
    return QByteArrayLiteral("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj << /Type /Catalog >> endobj\ntrailer << "
                             "/Root 1 0 R >>\n%%EOF\n");
}

QByteArray fixtureBinary() {
    QByteArray bytes;
    for (int round = 0; round < 4; ++round)
        for (int i = 0; i < 256; ++i)
            bytes.append(static_cast<char>(i));
    return bytes;
}

QByteArray fixturePng() {
    return QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
}

QStringList ParsedMessage::attachmentNames() const {
    QStringList names;
    for (const MimePart& part : attachments)
        names.append(part.filename);
    return names;
}

const MimePart* ParsedMessage::attachmentNamed(const QString& filename) const {
    for (const MimePart& part : attachments)
        if (part.filename == filename)
            return &part;
    return nullptr;
}

namespace {

QString str(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

QString typeOf(GMimeObject* object) {
    char* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object));
    const QString result = str(type).toLower();
    g_free(type);
    return result;
}

QByteArray decoded(GMimeObject* object) {
    GMimeStream* memory = g_mime_stream_mem_new();
    if (GMIME_IS_MESSAGE_PART(object)) {
        if (GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)))
            g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, memory);
    } else if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object))) {
        g_mime_data_wrapper_write_to_stream(content, memory);
    }
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    const QByteArray bytes(reinterpret_cast<const char*>(array->data), static_cast<qsizetype>(array->len));
    g_object_unref(memory);
    return bytes;
}

MimePart partOf(GMimeObject* object) {
    MimePart part;
    part.mimeType = typeOf(object);
    part.contentID = str(g_mime_object_get_content_id(object));
    part.disposition = str(g_mime_object_get_disposition(object)).toLower();
    if (GMIME_IS_PART(object))
        part.filename = str(g_mime_part_get_filename(GMIME_PART(object)));
    else
        part.filename = str(g_mime_object_get_content_disposition_parameter(object, "filename"));
    part.bytes = decoded(object);
    return part;
}

void walk(GMimeObject* object, int depth, bool inRelated, bool isRoot, ParsedMessage& parsed) {
    const QString type = typeOf(object);
    parsed.structure.append(QString(depth, u' ') + type);
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const bool related = type == u"multipart/related";
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            walk(g_mime_multipart_get_part(multipart, i), depth + 1, related, i == 0, parsed);
        return;
    }
    const MimePart part = partOf(object);
    if (part.disposition == u"attachment") {
        parsed.attachments.append(part);
        return;
    }
    if (inRelated && !isRoot) {
        parsed.inlineParts.append(part);
        return;
    }
    // Text as a reader gets it, whatever line ends the transport used.
    const QString text = QString::fromUtf8(part.bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (type == u"text/plain" && parsed.text.isNull())
        parsed.text = text;
    else if (type == u"text/html" && parsed.html.isNull())
        parsed.html = text;
}

ParsedMessage parseStream(GMimeStream* stream) {
    ParsedMessage parsed;
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    if (!message)
        return parsed;
    parsed.valid = true;
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const QString name = str(g_mime_header_get_name(header));
        parsed.headerNames.append(name);
        if (!parsed.headers.contains(name.toLower())) {
            char* value = g_mime_utils_header_decode_text(nullptr, g_mime_header_get_value(header));
            parsed.headers.insert(name.toLower(), str(value).trimmed());
            g_free(value);
        }
    }
    if (GMimeObject* body = g_mime_message_get_mime_part(message))
        walk(body, 0, false, false, parsed);
    g_object_unref(message);
    return parsed;
}

} // namespace

ParsedMessage parseMessageFile(const QString& path) {
    g_mime_init();
    GMimeStream* stream = g_mime_stream_fs_open(QFile::encodeName(path).constData(), O_RDONLY, 0, nullptr);
    if (!stream)
        return {};
    ParsedMessage parsed = parseStream(stream);
    g_object_unref(stream);
    return parsed;
}

ParsedMessage parseMessage(const QByteArray& bytes) {
    g_mime_init();
    GMimeStream* stream =
        g_mime_stream_mem_new_with_buffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    ParsedMessage parsed = parseStream(stream);
    g_object_unref(stream);
    return parsed;
}

namespace {

class AutoUploader final : public upload::Uploader {
public:
    explicit AutoUploader(const AutoUploaderClass& owner)
        : owner_(owner) {}

    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override {
        platform::dispatch::onMain([this, link, done = std::move(done)] {
            if (owner_.removalFails)
                return done(platform::Error(QStringLiteral("TestUploadDomain"), 8,
                                            QStringLiteral("The test server keeps it.")));
            owner_.removed.append(link);
            done({});
        });
    }

protected:
    void stopTransfer() override { ++owner_.cancelled; }
    void startUpload(const QString& path) override {
        const QString name = QFileInfo(path).fileName();
        owner_.uploaded.append(name);
        switch (owner_.behaviour) {
        case AutoUploaderClass::Behaviour::Link:
            reportProgress(0.5);
            reportLink(QUrl(QStringLiteral("https://files.example.net/s/") +
                            QString::fromLatin1(QUrl::toPercentEncoding(name))));
            break;
        case AutoUploaderClass::Behaviour::Fail:
            reportFailure(platform::Error(QStringLiteral("TestUploadDomain"), 7,
                                          QStringLiteral("The test server refused %1.").arg(name)));
            break;
        case AutoUploaderClass::Behaviour::Hang:
            break;
        }
    }

private:
    const AutoUploaderClass& owner_;
};

} // namespace

AutoUploaderClass::AutoUploaderClass(const upload::ServiceEnvironment& environment, Behaviour behaviour)
    : FlagLinkedUploaderClass(environment,
                              testDescription(upload::ServiceId::Generic, accounts::keys::genericLinked,
                                              accounts::keys::genericLogin))
    , behaviour(behaviour) {}

std::unique_ptr<upload::Uploader> AutoUploaderClass::create() const {
    return std::make_unique<AutoUploader>(*this);
}

CliRunner::CliRunner()
    : settings(folder.filePath(QStringLiteral("config/settings.plist")))
    , bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
             {QStringLiteral("en")})
    , credentials(secrets)
    , serviceEnvironment{settings, credentials, bundle.name()} {}

CliRunner::~CliRunner() {
    if (ownInput_ >= 0)
        ::close(ownInput_);
}

void CliRunner::setInput(const QByteArray& text) {
    if (ownInput_ >= 0)
        ::close(ownInput_);
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], text.constData(), static_cast<size_t>(text.size())), text.size());
    ::close(ends[1]);
    inputFd = ownInput_ = ends[0];
}

int CliRunner::linkWithPassword(const QString& service, const QString& login, const QString& password,
                                const QStringList& more) {
    setInput(password.toUtf8() + '\n');
    return run(QStringList{QStringLiteral("link"), service, QStringLiteral("--login"), login,
                           QStringLiteral("--password-stdin")} +
               more);
}

int CliRunner::run(const QStringList& arguments) {
    out_.close();
    err_.close();
    out_.setData({});
    err_.setData({});
    out_.open(QIODevice::WriteOnly);
    err_.open(QIODevice::WriteOnly);
    qm::cli::Environment environment{settings, services, bundle, out_, err_};
    environment.inputFd = inputFd;
    environment.promptFd = promptFd;
    environment.messageOutputFd = messageOutputFd;
    environment.credentials = &credentials;
    environment.signInTimeoutMilliseconds = signInTimeoutMilliseconds;
    if (!sendmailProgram.isEmpty())
        environment.sendmailProgram = sendmailProgram;
    // The plug-in's support folder and known hosts stay inside the test's folder.
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());
    QDir().mkpath(folder.filePath(QStringLiteral("tmp")));
    qputenv("TMPDIR", folder.filePath(QStringLiteral("tmp")).toUtf8());
    const int status = qm::cli::Application(environment).run(arguments);
    savedDataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", savedDataHome);
    savedTemp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", savedTemp);
    return status;
}

QStringList CliRunner::leftovers() const {
    return QDir(folder.filePath(QStringLiteral("tmp")))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

AutoUploaderClass& CliRunner::linkService(AutoUploaderClass::Behaviour behaviour) {
    auto serviceClass = std::make_unique<AutoUploaderClass>(serviceEnvironment, behaviour);
    AutoUploaderClass& result = *serviceClass;
    services.registerService(std::move(serviceClass));
    services.setIsLinked(true, upload::ServiceId::Generic);
    (void)settings.setInteger(9, QString::fromLatin1(accounts::keys::selectedService));
    return result;
}

void CliRunner::setThreshold(double megabytes, bool perFile) {
    (void)settings.setFloat(megabytes, QString::fromLatin1(accounts::keys::minFileSize));
    (void)settings.setInteger(perFile ? 1 : 0, QString::fromLatin1(accounts::keys::fileSizeMode));
}

int CliRunner::sendUploadingEverything(const QString& fixture, const QString& out) {
    setThreshold(0.0001);
    return run({QStringLiteral("send"), QStringLiteral("--answer"), QStringLiteral("upload"),
                QStringLiteral("--out"), out, fixturePath(fixture)});
}

SmtpSink::~SmtpSink() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString SmtpSink::start(const QString& folder, const QStringList& options) {
    folder_ = folder;
    port_ = freeLoopbackPort();
    const QString python = QStringLiteral(QUILLMOOR_DEBIAN_PYTHON);
    if (python.isEmpty() || !QFileInfo(python).isExecutable())
        return QStringLiteral(
            "Debian's python3 was not found; scripts/install-deps.sh installs it with python3-aiosmtpd");
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        python, QStringList{QStringLiteral(QUILLMOOR_SMTP_SERVER), QString::number(port_), folder} + options);
    if (!process_.waitForStarted(5000))
        return QStringLiteral("the SMTP server did not start: ") + process_.errorString();
    QByteArray said;
    const bool ready = waitUntil(
        [&] {
            said += process_.readAll();
            return said.contains("READY") || process_.state() == QProcess::NotRunning;
        },
        15000);
    if (!ready || !said.contains("READY"))
        return QStringLiteral("the SMTP server did not become ready: ") + QString::fromUtf8(said);
    return {};
}

QString SmtpSink::messagePath(int number) const {
    return QDir(folder_).filePath(QStringLiteral("%1.eml").arg(number));
}

QStringList SmtpSink::envelope(int number) const {
    return QString::fromUtf8(readFile(QDir(folder_).filePath(QStringLiteral("%1.envelope").arg(number))))
        .split(u'\n', Qt::SkipEmptyParts);
}

int SmtpSink::received() const {
    return static_cast<int>(QDir(folder_).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
}

} // namespace qm::test::cli
