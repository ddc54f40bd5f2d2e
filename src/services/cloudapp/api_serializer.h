#pragma once

#include "services/cloudapp/cloudapp_model.h"

#include <QByteArray>
#include <QUrl>
#include <QVariant>

namespace qm::cloudapp {

// The request bodies of the API as UTF-8 JSON; a null QByteArray when a required input is missing.
class APISerializer {
public:
    static QByteArray accountWithEmail(const QString& email, const QString& password, bool acceptTerms);
    static QByteArray itemWithName(const QString& name);
    static QByteArray itemWithPrivate(bool isPrivate);
    static QByteArray itemForRestore();
    static QByteArray bookmarkWithURL(const QUrl& url, const QString& name);
    static QByteArray bookmarkWithURL(const QUrl& url, const QString& name, bool isPrivate);
    static QByteArray receiptWithBase64String(const QString& base64);
    static QString webItemTypeStringForType(ItemType type);
    // JSON of an object (json::Object or QVariantMap) or of an array; null for anything else.
    static QByteArray JSONDataFromDictionary(const QVariant& dictionary);
    static QByteArray JSONDataFromArray(const QVariant& array);
};

} // namespace qm::cloudapp
