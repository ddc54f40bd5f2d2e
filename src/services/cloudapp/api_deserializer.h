#pragma once

#include "net/http_request.h"
#include "services/cloudapp/cloudapp_model.h"
#include "services/cloudapp/storage_upload_body.h"
#include "json/value.h"

#include <QList>
#include <QVariantList>
#include <optional>

namespace qm::cloudapp {

// The API's JSON answers read into the model, and the storage upload request built from the upload
// answer. Readers are lenient: a null counts as absent, a field of the wrong kind is left unset.
class APIDeserializer {
public:
    // Empty data, text that is not JSON, or JSON of the other kind: nothing.
    static std::optional<json::Object> dictionaryFromJSONData(const QByteArray& data);
    static std::optional<QVariantList> arrayFromJSONData(const QByteArray& data);

    static std::optional<WebItem> webItemWithJSONDictionaryData(const QByteArray& data);
    static WebItem webItemWithAPIDictionary(const json::Object& dictionary);
    static std::optional<QList<WebItem>> webItemArrayWithJSONArrayData(const QByteArray& data);
    static QList<WebItem> webItemArrayWithAPIArray(const QVariantList& array);
    static std::optional<Account> accountWithJSONDictionaryData(const QByteArray& data);
    static Account accountWithAPIDictionary(const json::Object& dictionary);
    static std::optional<Socket> socketWithJSONDictionaryData(const QByteArray& data);
    static Socket socketWithJSONDictionary(const json::Object& dictionary);
    static ItemType webItemTypeForTypeString(const QString& text);
    static std::optional<QVariantList> productsWithJSONArrayData(const QByteArray& data);

    // The POST of `source` to the storage address the upload answer names, its "params" first in their
    // own order; nothing when the answer names no address or no parameters.
    static std::optional<net::HTTPRequest> URLRequestWithS3ParametersDictionary(const json::Object& answer,
                                                                                const UploadSource& source);
    static std::optional<net::HTTPRequest>
    URLRequestWithS3ParametersDictionaryData(const QByteArray& data, const UploadSource& source);

    // The one boundary of every body this client builds.
    static const QByteArray& boundary();

    // Field readers, shared with the engine.
    static QDateTime dateTimeFrom(const QVariant& value);
    static QDateTime dateFrom(const QVariant& value);
    static bool isObject(const QVariant& value);
    static json::Object objectFrom(const QVariant& value);
};

} // namespace qm::cloudapp
