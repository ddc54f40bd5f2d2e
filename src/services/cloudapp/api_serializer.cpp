#include "services/cloudapp/api_serializer.h"

#include "json/json.h"
#include "json/value.h"

namespace qm::cloudapp {

namespace {

QVariant object(json::Object members) {
    return QVariant::fromValue(std::move(members));
}

QByteArray write(const QVariant& value) {
    const QString text = json::jsonRepresentation(value);
    return text.isNull() ? QByteArray() : text.toUtf8();
}

QString flag(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

QByteArray APISerializer::accountWithEmail(const QString& email, const QString& password, bool acceptTerms) {
    if (email.isEmpty() || password.isEmpty())
        return {};
    return write(object({{QStringLiteral("user"), object({{QStringLiteral("email"), email},
                                                          {QStringLiteral("password"), password},
                                                          {QStringLiteral("accept_tos"), acceptTerms}})}}));
}

QByteArray APISerializer::itemWithName(const QString& name) {
    if (name.isNull())
        return {};
    return write(object({{QStringLiteral("item"), object({{QStringLiteral("name"), name}})}}));
}

QByteArray APISerializer::itemWithPrivate(bool isPrivate) {
    return write(object({{QStringLiteral("item"), object({{QStringLiteral("private"), flag(isPrivate)}})}}));
}

QByteArray APISerializer::itemForRestore() {
    return write(object(
        {{QStringLiteral("item"), object({{QStringLiteral("deleted_at"), QVariant::fromValue(nullptr)}})},
         {QStringLiteral("deleted"), true}}));
}

QByteArray APISerializer::bookmarkWithURL(const QUrl& url, const QString& name) {
    if (!url.isValid() || url.isEmpty())
        return {};
    return write(object({{QStringLiteral("item"),
                          object({{QStringLiteral("redirect_url"), QString::fromUtf8(url.toEncoded())},
                                  {QStringLiteral("name"), name}})}}));
}

QByteArray APISerializer::bookmarkWithURL(const QUrl& url, const QString& name, bool isPrivate) {
    if (!url.isValid() || url.isEmpty())
        return {};
    return write(object({{QStringLiteral("item"),
                          object({{QStringLiteral("redirect_url"), QString::fromUtf8(url.toEncoded())},
                                  {QStringLiteral("name"), name},
                                  {QStringLiteral("private"), flag(isPrivate)}})}}));
}

QByteArray APISerializer::receiptWithBase64String(const QString& base64) {
    if (base64.isEmpty())
        return {};
    return write(object({{QStringLiteral("receipt-data"), base64}}));
}

QString APISerializer::webItemTypeStringForType(ItemType type) {
    switch (type) {
    case ItemType::Image:
        return QStringLiteral("image");
    case ItemType::Bookmark:
        return QStringLiteral("bookmark");
    case ItemType::Text:
        return QStringLiteral("text");
    case ItemType::Archive:
        return QStringLiteral("archive");
    case ItemType::Audio:
        return QStringLiteral("audio");
    case ItemType::Video:
        return QStringLiteral("video");
    case ItemType::Unknown:
    case ItemType::All:
        break;
    }
    return QStringLiteral("unknown");
}

QByteArray APISerializer::JSONDataFromDictionary(const QVariant& dictionary) {
    const QMetaType type = dictionary.metaType();
    if (type != QMetaType::fromType<json::Object>() && type != QMetaType::fromType<QVariantMap>())
        return {};
    return write(dictionary);
}

QByteArray APISerializer::JSONDataFromArray(const QVariant& array) {
    const QMetaType type = array.metaType();
    if (type != QMetaType::fromType<QVariantList>() && type != QMetaType::fromType<QStringList>())
        return {};
    return write(array);
}

} // namespace qm::cloudapp
