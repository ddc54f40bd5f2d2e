#include "services/droplr/service.h"

#include "platform/error.h"
#include "platform/string_format.h"
#include "services/droplr/auth_utils.h"
#include "services/droplr/functions.h"
#include "json/json.h"

#include <QFileInfo>
#include <chrono>

namespace qm::droplr {

namespace {

using platform::InvalidArgument;

constexpr qsizetype kMaxUserAgentLength = 64;

QByteArray jsonContentType() {
    return "application/json;v=" + Service::kRequestDataVersion.toLatin1();
}

QString tooBig(const char* what) {
    return QStringLiteral("%1 is too big (> %2b)").arg(QLatin1String(what)).arg(Service::kMaxFileSize);
}

void requireCode(const QString& code) {
    if (code.isEmpty())
        throw InvalidArgument(QStringLiteral("Code cannot be nil or empty."));
}

} // namespace

Service::Service(const QString& userAgent, AppCredentials appCredentials)
    : appCredentials_(std::move(appCredentials))
    , userAgent_(userAgent) {
    if (userAgent.isNull() || userAgent.size() > kMaxUserAgentLength)
        throw InvalidArgument(QStringLiteral("Invalid UA."));
}

const UserCredentials& Service::currentUserCredentials() const {
    if (!userCredentials_)
        throw IllegalStateException("No default user credentials set");
    return *userCredentials_;
}

std::shared_ptr<Operation> Service::requestTo(const QString& uri, const Options& options,
                                              const std::optional<QStringList>& acceptable,
                                              const QByteArray& verb,
                                              std::shared_ptr<const ResponseParser> parser) const {
    QString query;
    for (const auto& [key, value] : options) {
        if (acceptable && !acceptable->contains(key))
            continue;
        query += query.isEmpty() ? QLatin1Char('?') : QLatin1Char('&');
        query += key + QLatin1Char('=') + urlEncode(value.toString());
    }
    return requestTo(uri + query, endpoint_, verb, std::move(parser));
}

std::shared_ptr<Operation> Service::requestTo(const QString& uri, const QUrl& endpoint,
                                              const QByteArray& verb,
                                              std::shared_ptr<const ResponseParser> parser) const {
    const QUrl url = endpoint.resolved(QUrl(uri, QUrl::TolerantMode));
    auto operation = Operation::create(url, verb, std::move(parser));
    net::HTTPRequest request = operation->request();
    request.timeout = std::chrono::milliseconds(static_cast<qint64>(connectionTimeout_ * 1000));
    request.setHeader("User-Agent", "DKClient/2.1.2 " + userAgent_.toUtf8());
    request.setHeader("Accept", "application/json;v=" + kResponseDataVersion.toLatin1());
    request.setHeader("Date", dateHeaderContent().toLatin1());
    operation->setRequest(std::move(request));
    operation->setErrorLocalizer(localizer_);
    return operation;
}

void Service::sign(Operation& operation, const UserCredentials& user) const {
    operation.setSigner([app = appCredentials_, user](net::HTTPRequest& request) {
        request.setHeader("Authorization",
                          AuthUtils::signatureForRequest(
                              request.url.path(QUrl::FullyDecoded), QString::fromLatin1(request.method),
                              QString::fromLatin1(request.header("Date")),
                              QString::fromUtf8(request.header("Content-Type")), app, user)
                              .toUtf8());
    });
}

void Service::signAuth(Operation& operation) const {
    operation.setSigner([app = appCredentials_](net::HTTPRequest& request) {
        request.setHeader("Authorization",
                          AuthUtils::anonymousSignatureForRequest(
                              request.url.path(QUrl::FullyDecoded), QString::fromLatin1(request.method),
                              QString::fromLatin1(request.header("Date")),
                              QString::fromUtf8(request.header("Content-Type")), app)
                              .toUtf8());
    });
}

void Service::addJsonContent(const json::Object& fields, Operation& operation) {
    const QString text = json::jsonRepresentation(QVariant::fromValue(fields));
    if (text.isNull())
        throw JsonEncodingFailure("The drop's fields could not be written as JSON.");
    operation.setBody(text.toUtf8(), jsonContentType());
}

Options Service::sanitizeCreationOptions(const Options& options) {
    Options sanitized;
    for (const auto& [key, value] : options) {
        if (key == QLatin1String(kDropCreationOptionFilename) && !isValidFilename(value.toString()))
            throw InvalidArgument(QStringLiteral("Invalid filename."));
        const int type = value.typeId();
        const bool numeric = type == QMetaType::Int || type == QMetaType::UInt ||
                             type == QMetaType::LongLong || type == QMetaType::ULongLong;
        if (key == QLatin1String(kDropCreationOptionPrivacy) && numeric)
            sanitized.insert(key, toString(static_cast<DropPrivacy>(value.toUInt())));
        else
            sanitized.insert(key, value);
    }
    return sanitized;
}

std::shared_ptr<Operation> Service::creation(const QString& uri, const Options& options,
                                             const QStringList& acceptable, const QByteArray& body,
                                             const QByteArray& contentType, const Who& who) const {
    const UserCredentials& signer = user(who);
    auto operation = requestTo(uri, sanitizeCreationOptions(options), acceptable, "POST",
                               JsonDropCreationParser::parser());
    operation->setBody(body, contentType);
    sign(*operation, signer);
    return operation;
}

std::shared_ptr<Operation> Service::readAccount(const Who& who) const {
    const UserCredentials& signer = user(who);
    auto operation =
        requestTo(QStringLiteral("account"), {}, std::nullopt, "GET", JsonAccountParser::parser());
    sign(*operation, signer);
    return operation;
}

std::shared_ptr<Operation> Service::shortenLink(const QUrl& link, const Options& options,
                                                const Who& who) const {
    if (!isValidLink(link))
        throw InvalidArgument(QStringLiteral("Invalid link."));
    return creation(QStringLiteral("links"), options,
                    {QString::fromLatin1(kDropCreationOptionTitle),
                     QString::fromLatin1(kDropCreationOptionPrivacy),
                     QString::fromLatin1(kDropCreationOptionPassword)},
                    link.toString(QUrl::FullyEncoded).toUtf8(), "text/plain", who);
}

std::shared_ptr<Operation> Service::createNote(const QString& note, NoteType type, const Options& options,
                                               const Who& who) const {
    if (!isValidNote(note))
        throw InvalidArgument(QStringLiteral("Invalid note."));
    if (type == NoteType::Unknown)
        type = NoteType::Plain;
    return creation(QStringLiteral("notes"), options,
                    {QString::fromLatin1(kDropCreationOptionTitle),
                     QString::fromLatin1(kDropCreationOptionPrivacy),
                     QString::fromLatin1(kDropCreationOptionPassword)},
                    note.toUtf8(), "text/" + toString(type).toLatin1(), who);
}

std::shared_ptr<Operation> Service::uploadData(const QByteArray& data, const QString& mimeType,
                                               const Options& options, const Who& who) const {
    if (!canUploadData(data))
        throw InvalidArgument(tooBig("Data"));
    if (!isValidMimeType(mimeType))
        throw InvalidArgument(QStringLiteral("Invalid mime type."));
    if (!options.contains(QString::fromLatin1(kDropCreationOptionFilename)))
        throw InvalidArgument(QStringLiteral("Missing filename."));
    return creation(
        QStringLiteral("files"), options,
        {QString::fromLatin1(kDropCreationOptionFilename), QString::fromLatin1(kDropCreationOptionPrivacy),
         QString::fromLatin1(kDropCreationOptionPassword), QString::fromLatin1(kDropCreationPixelDensity)},
        data, mimeType.toUtf8(), who);
}

std::shared_ptr<Operation> Service::uploadData(const QByteArray& data, const QString& mimeType,
                                               const QString& filename, const Who& who) const {
    return uploadData(data, mimeType, Options{{QString::fromLatin1(kDropCreationOptionFilename), filename}},
                      who);
}

std::shared_ptr<Operation> Service::uploadFile(const QString& path, const Options& options,
                                               const Who& who) const {
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        throw InvalidArgument(QStringLiteral("The file “%1” couldn’t be opened because there is no such file "
                                             "or it cannot be read.")
                                  .arg(file.fileName()));
    if (static_cast<quint64>(file.size()) >= kMaxFileSize)
        throw InvalidArgument(tooBig("File"));
    Options withName = options;
    if (!withName.contains(QString::fromLatin1(kDropCreationOptionFilename)))
        withName.insert(QString::fromLatin1(kDropCreationOptionFilename), file.fileName());
    const UserCredentials& signer = user(who);
    auto operation = requestTo(QStringLiteral("files"), sanitizeCreationOptions(withName),
                               QStringList{QString::fromLatin1(kDropCreationOptionFilename),
                                           QString::fromLatin1(kDropCreationOptionPrivacy),
                                           QString::fromLatin1(kDropCreationOptionPassword),
                                           QString::fromLatin1(kDropCreationPixelDensity)},
                               "POST", JsonDropCreationParser::parser());
    operation->setUploadFilePath(path);
    sign(*operation, signer);
    return operation;
}

QString Service::dropPath(const QString& code) {
    requireCode(code);
    // Escaped: a code is the service's, but a "/" or "?" in it must not change the path.
    return QStringLiteral("drops/") + urlEncode(code);
}

std::shared_ptr<Operation> Service::readDrop(const QString& code, const Who& who) const {
    const QString path = dropPath(code);
    const UserCredentials& signer = user(who);
    auto operation = requestTo(path, {}, std::nullopt, "GET", JsonDropParser::parser());
    sign(*operation, signer);
    return operation;
}

std::shared_ptr<Operation> Service::listDrops(const std::optional<ListFilter>& filter, const Who& who) const {
    const UserCredentials& signer = user(who);
    const Options query = filter ? filter->asDictionary().value_or(Options()) : Options();
    auto operation =
        requestTo(QStringLiteral("drops"), query, std::nullopt, "GET", JsonDropListParser::parser());
    sign(*operation, signer);
    return operation;
}

std::shared_ptr<Operation> Service::updateDrop(const QString& code, const json::Object& fields,
                                               const Who& who) const {
    const QString path = dropPath(code);
    const UserCredentials& signer = user(who);
    auto operation = requestTo(path, {}, std::nullopt, "PUT", JsonDropParser::parser());
    addJsonContent(fields, *operation);
    sign(*operation, signer);
    return operation;
}

std::shared_ptr<Operation> Service::updateDropTitle(const QString& code, const QString& title,
                                                    const Who& who) const {
    return updateDrop(code, json::Object{{QStringLiteral("title"), title}}, who);
}

std::shared_ptr<Operation> Service::updateNote(const QString& code, const QString& content,
                                               const QString& title, const Who& who) const {
    json::Object fields{{QStringLiteral("content"), content}};
    if (!title.isNull())
        fields.insert(QStringLiteral("title"), title);
    return updateDrop(code, fields, who);
}

std::shared_ptr<Operation> Service::updateDropPrivacyToPublic(const QString& code, const Who& who) const {
    return updateDrop(code, json::Object{{QStringLiteral("privacy"), QStringLiteral("PUBLIC")}}, who);
}

std::shared_ptr<Operation> Service::updateDropPrivacyToPrivate(const QString& code, const QString& password,
                                                               const Who& who) const {
    if (!isValidPassword(password))
        throw InvalidArgument(QStringLiteral(
            "Password can only contain alphanumeric characters and must be of length between 4 and 32."));
    return updateDrop(code,
                      json::Object{{QStringLiteral("privacy"), QStringLiteral("PRIVATE")},
                                   {QStringLiteral("password"), password}},
                      who);
}

std::shared_ptr<Operation> Service::deleteDrop(const QString& code, const Who& who) const {
    const QString path = dropPath(code);
    const UserCredentials& signer = user(who);
    auto operation = requestTo(path, {}, std::nullopt, "DELETE", nullptr);
    sign(*operation, signer);
    return operation;
}

std::shared_ptr<Operation> Service::readAccountWithAccessToken(const QString& token) const {
    requireCode(token);
    auto operation = requestTo(QStringLiteral("/api/userinfo/") + urlEncode(token), authEndpoint_, "GET",
                               JsonAuthParser::parser());
    signAuth(*operation);
    return operation;
}

QString Service::nameForDrop(const QString& name, const QString& extension, bool useCurrentTimestamp) {
    if (!useCurrentTimestamp)
        return platform::formatString(QStringLiteral("%@.%@"), {name, extension});
    const QDateTime now = QDateTime::currentDateTime();
    return platform::formatString(QStringLiteral("%@ on %@ at %@.%@"),
                                  {name, now.toString(QStringLiteral("yyyy-MM-dd")),
                                   now.toString(QStringLiteral("HH:mm:ss")), extension});
}

QString Service::dateHeaderContent() {
    return QString::number(currentTimeMillis());
}

QString Service::description() const {
    return platform::formatString(
        QStringLiteral("%@{server='%@', appCredentials=%@}"),
        {QStringLiteral("DKService"), endpoint_.toString(), appCredentials_.description()});
}

} // namespace qm::droplr
