#include "services/cloudapp/api_deserializer.h"

#include "net/mime_type.h"
#include "services/cloudapp/unicode_url.h"
#include "json/json.h"

#include <QLocale>
#include <QTimeZone>

namespace qm::cloudapp {

namespace {

constexpr char kUnknownFileName[] = "UnknownFileName";
constexpr char kOctetStream[] = "application/octet-stream";

bool isNull(const QVariant& value) {
    return !value.isValid() || value.metaType() == QMetaType::fromType<std::nullptr_t>();
}

bool isString(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<QString>();
}

QString stringFrom(const QVariant& value) {
    return isString(value) ? value.toString() : QString();
}

QUrl urlFrom(const QVariant& value) {
    return isString(value) ? QUrl(value.toString()) : QUrl();
}

QUrl unicodeURLFrom(const QVariant& value) {
    return isString(value) ? urlWithUnicodeString(value.toString()) : QUrl();
}

qint64 integerFrom(const QVariant& value) {
    if (isNull(value))
        return 0;
    if (isString(value))
        return value.toString().toLongLong();
    return value.toLongLong();
}

bool boolFrom(const QVariant& value) {
    if (isNull(value))
        return false;
    if (isString(value)) {
        const QString text = value.toString().toLower();
        return text == QLatin1String("true") || text == QLatin1String("yes") || text.toLongLong() != 0;
    }
    return value.toBool();
}

QByteArray textPart(const QString& name, const QString& value) {
    return "Content-Disposition: form-data; name=\"" + name.toUtf8() + "\"\r\n\r\n" + value.toUtf8() +
           "\r\n--" + APIDeserializer::boundary() + "\r\n";
}

} // namespace

const QByteArray& APIDeserializer::boundary() {
    // Random once, by hand: long enough that no file of a user holds it by chance.
    static const QByteArray value = "quillmoor-cloudapp-7c1e9f03b85d4a26a0e4d51b9f2c6e88";
    return value;
}

bool APIDeserializer::isObject(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<json::Object>();
}

json::Object APIDeserializer::objectFrom(const QVariant& value) {
    return isObject(value) ? value.value<json::Object>() : json::Object();
}

QDateTime APIDeserializer::dateTimeFrom(const QVariant& value) {
    if (!isString(value))
        return {};
    static const QLocale us(QLocale::English, QLocale::UnitedStates);
    QDateTime date = us.toDateTime(value.toString(), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    if (!date.isValid())
        return {};
    date.setTimeZone(QTimeZone::utc());
    return date;
}

QDateTime APIDeserializer::dateFrom(const QVariant& value) {
    if (!isString(value))
        return {};
    static const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QDate date = us.toDate(value.toString(), QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? QDateTime(date, QTime(0, 0), QTimeZone::utc()) : QDateTime();
}

std::optional<json::Object> APIDeserializer::dictionaryFromJSONData(const QByteArray& data) {
    if (data.isEmpty())
        return std::nullopt;
    const QVariant value = json::jsonValue(QString::fromUtf8(data));
    if (!isObject(value))
        return std::nullopt;
    return value.value<json::Object>();
}

std::optional<QVariantList> APIDeserializer::arrayFromJSONData(const QByteArray& data) {
    if (data.isEmpty())
        return std::nullopt;
    const QVariant value = json::jsonValue(QString::fromUtf8(data));
    if (value.metaType() != QMetaType::fromType<QVariantList>())
        return std::nullopt;
    return value.toList();
}

ItemType APIDeserializer::webItemTypeForTypeString(const QString& text) {
    static const QStringList names = {QStringLiteral("image"), QStringLiteral("bookmark"),
                                      QStringLiteral("text"),  QStringLiteral("archive"),
                                      QStringLiteral("audio"), QStringLiteral("video")};
    const qsizetype index = names.indexOf(text.toLower());
    return index < 0 ? ItemType::Unknown : static_cast<ItemType>(index);
}

WebItem APIDeserializer::webItemWithAPIDictionary(const json::Object& d) {
    WebItem item;
    item.name = stringFrom(d.value(QStringLiteral("name")));
    item.type = webItemTypeForTypeString(stringFrom(d.value(QStringLiteral("item_type"))));
    item.URL = unicodeURLFrom(d.value(QStringLiteral("url")));
    item.viewCount = integerFrom(d.value(QStringLiteral("view_counter")));
    item.remoteURL = item.type == ItemType::Bookmark ? unicodeURLFrom(d.value(QStringLiteral("redirect_url")))
                                                     : urlFrom(d.value(QStringLiteral("remote_url")));
    item.href = urlFrom(d.value(QStringLiteral("href")));
    item.iconURL = urlFrom(d.value(QStringLiteral("icon")));
    item.isPrivate = boolFrom(d.value(QStringLiteral("private")));
    item.createdAt = dateTimeFrom(d.value(QStringLiteral("created_at")));
    item.updatedAt = dateTimeFrom(d.value(QStringLiteral("updated_at")));
    item.deletedAt = dateTimeFrom(d.value(QStringLiteral("deleted_at")));
    item.trashed = item.deletedAt.isValid();
    if (item.type == ItemType::Bookmark && item.name.isEmpty() && !item.remoteURL.isEmpty())
        item.name = unicodeAbsoluteString(item.remoteURL);
    return item;
}

std::optional<WebItem> APIDeserializer::webItemWithJSONDictionaryData(const QByteArray& data) {
    const auto dictionary = dictionaryFromJSONData(data);
    if (!dictionary)
        return std::nullopt;
    return webItemWithAPIDictionary(*dictionary);
}

QList<WebItem> APIDeserializer::webItemArrayWithAPIArray(const QVariantList& array) {
    QList<WebItem> items;
    for (const QVariant& element : array)
        items.append(webItemWithAPIDictionary(objectFrom(element)));
    return items;
}

std::optional<QList<WebItem>> APIDeserializer::webItemArrayWithJSONArrayData(const QByteArray& data) {
    const auto array = arrayFromJSONData(data);
    if (!array)
        return std::nullopt;
    return webItemArrayWithAPIArray(*array);
}

Socket APIDeserializer::socketWithJSONDictionary(const json::Object& d) {
    Socket socket;
    socket.APIKey = stringFrom(d.value(QStringLiteral("api_key")));
    socket.appID = static_cast<qint32>(integerFrom(d.value(QStringLiteral("app_id"))));
    socket.authURL = urlFrom(d.value(QStringLiteral("auth_url")));
    const QVariant channels = d.value(QStringLiteral("channels"));
    if (isObject(channels))
        socket.channels = objectFrom(channels).toVariantMap();
    return socket;
}

std::optional<Socket> APIDeserializer::socketWithJSONDictionaryData(const QByteArray& data) {
    const auto dictionary = dictionaryFromJSONData(data);
    if (!dictionary)
        return std::nullopt;
    return socketWithJSONDictionary(*dictionary);
}

Account APIDeserializer::accountWithAPIDictionary(const json::Object& d) {
    Account account;
    account.domain = unicodeURLFrom(d.value(QStringLiteral("domain")));
    account.domainHomePage = unicodeURLFrom(d.value(QStringLiteral("domain_home_page")));
    account.alphaUser = boolFrom(d.value(QStringLiteral("alpha")));
    account.uploadsArePrivate = boolFrom(d.value(QStringLiteral("private_items")));
    account.email = stringFrom(d.value(QStringLiteral("email")));
    account.subscriptionExpiresAt = dateFrom(d.value(QStringLiteral("subscription_expires_at")));
    account.type = boolFrom(d.value(QStringLiteral("subscribed"))) ? Account::Subscribed : Account::Free;
    const QVariant socket = d.value(QStringLiteral("socket"));
    if (isObject(socket))
        account.socket = socketWithJSONDictionary(objectFrom(socket));
    return account;
}

std::optional<Account> APIDeserializer::accountWithJSONDictionaryData(const QByteArray& data) {
    const auto dictionary = dictionaryFromJSONData(data);
    if (!dictionary)
        return std::nullopt;
    return accountWithAPIDictionary(*dictionary);
}

std::optional<QVariantList> APIDeserializer::productsWithJSONArrayData(const QByteArray& data) {
    return arrayFromJSONData(data);
}

std::optional<net::HTTPRequest>
APIDeserializer::URLRequestWithS3ParametersDictionary(const json::Object& answer,
                                                      const UploadSource& source) {
    const QString fileName = source.fileName.normalized(QString::NormalizationForm_C);
    const QString urlText = stringFrom(answer.value(QStringLiteral("url")));
    const json::Object params = objectFrom(answer.value(QStringLiteral("params")));
    if (urlText.isEmpty() || params.isEmpty() || source.size < 0)
        return std::nullopt;

    QByteArray head = "--" + boundary() + "\r\n";
    for (const auto& [key, value] : params)
        head += textPart(key, value.toString());
    const QString partName = fileName.isEmpty() ? QString::fromLatin1(kUnknownFileName) : fileName;
    QString mimeType = net::mimeTypeForPathExtension(partName);
    if (mimeType.isEmpty())
        mimeType = QString::fromLatin1(kOctetStream);
    // Quotes and line breaks would end the header early; the name is otherwise sent as it is.
    QString headerName = partName;
    headerName.replace(QLatin1Char('"'), QStringLiteral("%22"))
        .replace(QLatin1Char('\r'), QStringLiteral("%0D"))
        .replace(QLatin1Char('\n'), QStringLiteral("%0A"));
    head += "Content-Disposition: form-data; name=\"file\"; filename=\"" + headerName.toUtf8() + "\"\r\n" +
            "Content-Type: " + mimeType.toUtf8() + "\r\n\r\n";
    // The closing separator, already finalized: "\r\n--boundary" followed by "--\r\n".
    const QByteArray tail = "\r\n--" + boundary() + "--\r\n";

    net::HTTPRequest request(QUrl(urlText), "POST");
    request.setHeader("Accept", "application/json");
    request.setHeader("Content-Type", "multipart/form-data; boundary=" + boundary() + "; charset=UTF-8");
    auto body = std::make_shared<StorageUploadBody>(head, source, tail);
    request.bodyLength = body->size();
    request.bodyDevice = std::move(body);
    return request;
}

std::optional<net::HTTPRequest>
APIDeserializer::URLRequestWithS3ParametersDictionaryData(const QByteArray& data,
                                                          const UploadSource& source) {
    const auto answer = dictionaryFromJSONData(data);
    if (!answer)
        return std::nullopt;
    return URLRequestWithS3ParametersDictionary(*answer, source);
}

} // namespace qm::cloudapp
