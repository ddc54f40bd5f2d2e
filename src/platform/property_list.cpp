#include "platform/property_list.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QXmlStreamReader>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace qm::platform::plist {
namespace {

// libplist 2.2 counts date seconds from 2001-01-01 in an int32 and saturates outside it.
constexpr qint64 kMacEpoch = 978307200;

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

// libplist 2.2's XML reader drops a dict key that has no value, reads "<integer>abc" as 0 and may
// return a partial tree, so the document's structure is checked before its tree is trusted.
class XmlChecker {
public:
    explicit XmlChecker(QByteArray data)
        : data_(std::move(data)) {
        // libplist writes control characters raw; XML 1.0 forbids them, but the file is still ours.
        for (char& c : data_)
            if (uchar(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                c = ' ';
        xml_.addData(data_);
    }

    QString problem() {
        if (!xml_.readNextStartElement())
            return failure(QStringLiteral("no root element"));
        if (xml_.name() != u"plist")
            return failure(QStringLiteral("root element is <%1>, not <plist>").arg(xml_.name()));
        if (!xml_.readNextStartElement())
            return failure(QStringLiteral("<plist> holds no value"));
        if (!value())
            return reason_;
        if (xml_.readNextStartElement())
            return failure(QStringLiteral("<plist> holds more than one value"));
        while (!xml_.atEnd() && !xml_.hasError())
            xml_.readNext();
        return xml_.hasError() ? failure({}) : QString();
    }

private:
    QString failure(const QString& why) {
        reason_ = QStringLiteral("line %1: %2")
                      .arg(xml_.lineNumber())
                      .arg(xml_.hasError() ? xml_.errorString() : why);
        return reason_;
    }
    bool fail(const QString& why) {
        failure(why);
        return false;
    }

    bool text(const QRegularExpression& pattern, const char* what) {
        const QString content = xml_.readElementText().trimmed();
        if (xml_.hasError())
            return fail({});
        return pattern.match(content).hasMatch() || fail(QStringLiteral("bad %1 \"%2\"").arg(what, content));
    }

    bool value() {
        static const QRegularExpression integer(QStringLiteral("^[+-]?(0[xX][0-9a-fA-F]+|[0-9]+)$"));
        static const QRegularExpression real(
            QStringLiteral("^([+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?|[+-]?(inf|infinity)|nan)$"),
            QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression date(
            QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]+)?Z$"));
        static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/=\\s]*$"));
        static const QRegularExpression anything(QStringLiteral(".*"),
                                                 QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression empty(QStringLiteral("^$"));

        const QString name = xml_.name().toString();
        if (name == u"dict") {
            bool key = true;
            while (xml_.readNextStartElement()) {
                if (key && xml_.name() != u"key")
                    return fail(QStringLiteral("<%1> where a <key> belongs in <dict>").arg(xml_.name()));
                if (!(key ? text(anything, "key") : value()))
                    return false;
                key = !key;
            }
            if (xml_.hasError())
                return fail({});
            return key || fail(QStringLiteral("<key> without a value in <dict>"));
        }
        if (name == u"array") {
            while (xml_.readNextStartElement())
                if (!value())
                    return false;
            return !xml_.hasError() || fail({});
        }
        if (name == u"string")
            return text(anything, "string");
        if (name == u"integer")
            return text(integer, "integer");
        if (name == u"real")
            return text(real, "real");
        if (name == u"date")
            return text(date, "date");
        if (name == u"data")
            return text(base64, "data");
        if (name == u"true" || name == u"false")
            return text(empty, "boolean");
        return fail(QStringLiteral("unknown element <%1>").arg(name));
    }

    QByteArray data_;
    QXmlStreamReader xml_;
    QString reason_;
};

std::optional<QVariant> fromNode(plist_t node, QString* error) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT:
    case PLIST_UID: {
        // Negative integers are kept as two's complement in the unsigned node.
        uint64_t v = 0;
        plist_get_node_type(node) == PLIST_UINT ? plist_get_uint_val(node, &v) : plist_get_uid_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return QVariant(QString::fromUtf8(s, qsizetype(length)));
    }
    case PLIST_KEY: {
        char* s = nullptr;
        plist_get_key_val(node, &s);
        QString key = QString::fromUtf8(s);
        std::free(s);
        return QVariant(key);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        if (sec == std::numeric_limits<int32_t>::min() || sec == std::numeric_limits<int32_t>::max()) {
            if (error)
                *error = QStringLiteral("a date outside 1932-2069, which libplist cannot represent");
            return std::nullopt;
        }
        return QVariant(QDateTime::fromMSecsSinceEpoch((kMacEpoch + sec) * 1000 + usec / 1000, Qt::UTC));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QVariant(QByteArray(bytes, qsizetype(length)));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i) {
            plist_t item = plist_array_get_item(node, i);
            auto v = item ? fromNode(item, error) : std::nullopt;
            if (!v)
                return std::nullopt;
            list.append(*v);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        std::optional<QVariant> result = QVariant();
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            auto v = fromNode(item, error);
            if (v)
                map.insert(QString::fromUtf8(key), *v);
            std::free(key);
            if (!v) {
                result = std::nullopt;
                break;
            }
        }
        std::free(it);
        if (result)
            result = QVariant(map);
        return result;
    }
    default:
        if (error)
            *error = QStringLiteral("a node of unknown type");
        return std::nullopt;
    }
}

Node toNode(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return Node(plist_new_bool(value.toBool()));
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return Node(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        // Above INT64_MAX libplist writes it as the negative number with the same bits.
        return Node(plist_new_uint(value.toULongLong()));
    case QMetaType::Float:
    case QMetaType::Double:
        return Node(plist_new_real(value.toDouble()));
    case QMetaType::QString:
        return Node(plist_new_string(value.toString().toUtf8().constData()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return Node(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
    }
    case QMetaType::QDateTime: {
        const QDateTime when = value.toDateTime();
        if (!when.isValid())
            return nullptr;
        const qint64 ms = when.toMSecsSinceEpoch();
        const qint64 sec = qint64(std::floor(double(ms) / 1000.0)) - kMacEpoch;
        if (sec <= std::numeric_limits<int32_t>::min() || sec >= std::numeric_limits<int32_t>::max())
            return nullptr;
        const qint64 usec = (ms - (sec + kMacEpoch) * 1000) * 1000;
        return Node(plist_new_date(int32_t(sec), int32_t(usec)));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        Node array(plist_new_array());
        for (const QVariant& item : value.toList()) {
            Node child = toNode(item);
            if (!child)
                return nullptr;
            plist_array_append_item(array.get(), child.release());
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        Node dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            Node child = toNode(it.value());
            if (!child)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), child.release());
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

} // namespace

std::optional<QVariant> parse(const QByteArray& data, QString* error) {
    auto failed = [error](const QString& why) -> std::optional<QVariant> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (data.size() > qsizetype(std::numeric_limits<uint32_t>::max()))
        return failed(QStringLiteral("too large for a property list"));

    const auto length = uint32_t(data.size());
    const bool binary = plist_is_binary(data.constData(), length);
    if (!binary) {
        const QString problem = XmlChecker(data).problem();
        if (!problem.isEmpty())
            return failed(QStringLiteral("not a property list (%1)").arg(problem));
    }
    plist_t root = nullptr;
    binary ? plist_from_bin(data.constData(), length, &root)
           : plist_from_xml(data.constData(), length, &root);
    if (!root)
        return failed(binary ? QStringLiteral("damaged binary property list")
                             : QStringLiteral("not a property list (rejected by libplist)"));
    Node owner(root);
    QString why;
    auto value = fromNode(root, &why);
    if (!value)
        return failed(QStringLiteral("property list holds %1").arg(why));
    return value;
}

std::optional<QVariant> readFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return parse(file.readAll(), error);
}

QByteArray toXml(const QVariant& value) {
    Node node = toNode(value);
    if (!node)
        return {};
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node.get(), &xml, &length);
    QByteArray result(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return result;
}

} // namespace qm::platform::plist
