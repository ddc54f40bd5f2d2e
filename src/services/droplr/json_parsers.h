#pragma once

#include "net/http_request.h"
#include "platform/error.h"
#include "platform/result.h"
#include "services/droplr/credentials.h"
#include "services/droplr/records.h"

#include <QVariant>
#include <memory>

// Turn a successful Droplr answer into a record, or into an error of the Droplr domain.
namespace qm::droplr {

inline const QString kErrorDomain = QStringLiteral("DKErrorDomain");

enum ParserErrorCode : int {
    EmptyData = 1000,       // "Data is nil or empty, nothing to decode."
    MissingField = 1001,    // "Field '%@' is missing in response."
    WrongFieldType = 1002,  // "Expecting field '%@' to be same type or subtype of %@ but was %@."
    UnknownDropType = 1003, // "Unknown drop type"
};

// Reads one answer; the result travels as a QVariant holding the parser's record.
class ResponseParser {
public:
    virtual ~ResponseParser() = default;
    virtual platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const;
};

// The decoded JSON value itself, and the field readers the record parsers share. Readers fail with 1001
// for a mandatory field that is absent and with 1002 for a present value of another JSON type (null
// included); booleans count as numbers. Numbers are read as exact 64-bit integers.
class JsonParser : public ResponseParser {
public:
    static std::shared_ptr<const ResponseParser> parser();
    platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const override;

    static platform::Result<QVariant> decode(const QByteArray& body);
    // Null string when absent and optional.
    static platform::Result<QString> getString(const QString& key, const QVariant& fields, bool mandatory);
    static platform::Result<std::optional<qint64>> getLong(const QString& key, const QVariant& fields,
                                                           bool mandatory);
    static platform::Result<std::optional<bool>> getBoolean(const QString& key, const QVariant& fields,
                                                            bool mandatory);
    // The default when absent.
    static platform::Result<QString> getStringOr(const QString& key, const QVariant& fields,
                                                 const QString& defaultValue);
    static platform::Result<qint64> getLongOr(const QString& key, const QVariant& fields,
                                              qint64 defaultValue);
    static platform::Result<bool> getBooleanOr(const QString& key, const QVariant& fields, bool defaultValue);
};

class JsonAccountParser final : public JsonParser {
public:
    static std::shared_ptr<const ResponseParser> parser();
    platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const override;
    static platform::Result<Account> accountFromFields(const QVariant& fields);
};

class JsonDropParser final : public JsonParser {
public:
    static std::shared_ptr<const ResponseParser> parser();
    platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const override;
    static platform::Result<Drop> dropFromFields(const QVariant& fields);
};

class JsonDropCreationParser final : public JsonParser {
public:
    static std::shared_ptr<const ResponseParser> parser();
    platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const override;
    static platform::Result<DropCreation> creationFromFields(const QVariant& fields);
};

// A QList<Drop>; the first element that fails fails the whole list with its error.
class JsonDropListParser final : public JsonParser {
public:
    static std::shared_ptr<const ResponseParser> parser();
    platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const override;
};

// UserCredentials from the "droplr" member's access token pair.
class JsonAuthParser final : public JsonParser {
public:
    static std::shared_ptr<const ResponseParser> parser();
    platform::Result<QVariant> parse(const net::HeaderList& headers, const QByteArray& body) const override;
};

platform::Error parserError(ParserErrorCode code, const QString& message);

} // namespace qm::droplr

Q_DECLARE_METATYPE(QList<qm::droplr::Drop>)
