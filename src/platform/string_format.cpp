#include "platform/string_format.h"

#include <cstring>
#include <limits>

namespace qm::platform {
namespace {

// Widths and precisions up to 999.
constexpr qsizetype maxFieldDigits = 3;

bool isFlag(QChar c) {
    return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0';
}

QString formatNumber(const QString& flags, const QString& width, const QString& precision, char conversion,
                     const QVariant& value) {
    QByteArray spec = "%" + flags.toLatin1() + width.toLatin1();
    if (!precision.isNull())
        spec += "." + precision.toLatin1();
    switch (conversion) {
    case 'd':
    case 'i':
        spec += "lld";
        return QString::asprintf(spec.constData(), value.toLongLong());
    case 'u':
        spec += "llu";
        return QString::asprintf(spec.constData(), value.toULongLong());
    case 'x':
    case 'X':
        spec += "ll";
        spec += conversion;
        return QString::asprintf(spec.constData(), value.toULongLong());
    default:
        spec += conversion;
        return QString::asprintf(spec.constData(), value.toDouble());
    }
}

} // namespace

QString formatString(const QString& format, const QVariantList& arguments) {
    QString result;
    result.reserve(format.size() + 32);
    qsizetype next = 0;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format.at(i);
        if (c != u'%' || i + 1 >= n) {
            result.append(c);
            continue;
        }
        if (format.at(i + 1) == u'%') {
            result.append(u'%');
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        auto digitsFrom = [&](qsizetype& k) {
            const qsizetype start = k;
            while (k < n && format.at(k).isDigit())
                ++k;
            return format.mid(start, k - start);
        };
        qsizetype index = -1;
        {
            qsizetype k = j;
            const QString position = digitsFrom(k);
            if (!position.isEmpty() && k < n && format.at(k) == u'$') {
                bool ok = false;
                index = position.toLongLong(&ok) - 1;
                if (!ok)
                    index = std::numeric_limits<qsizetype>::max(); // no such argument: written out
                j = k + 1;
            }
        }
        const qsizetype flagsStart = j;
        while (j < n && isFlag(format.at(j)))
            ++j;
        const QString flags = format.mid(flagsStart, j - flagsStart);
        const QString width = digitsFrom(j);
        QString precision;
        if (j < n && format.at(j) == u'.') {
            ++j;
            precision = digitsFrom(j);
            if (precision.isNull())
                precision = QStringLiteral("");
        }
        while (j < n &&
               (format.at(j) == u'l' || format.at(j) == u'h' || format.at(j) == u'q' || format.at(j) == u'z'))
            ++j;
        if (j >= n) {
            result.append(format.mid(i));
            break;
        }
        const char conversion = format.at(j).toLatin1();
        // A field wider than any text needs is a damaged translation, not a request for gigabytes.
        const bool sane = width.size() <= maxFieldDigits && precision.size() <= maxFieldDigits;
        const bool known = sane && conversion != 0 && std::strchr("@sdiuxXfFeEgGc", conversion) != nullptr;
        const qsizetype argumentIndex = index >= 0 ? index : next;
        if (!known || argumentIndex < 0 || argumentIndex >= arguments.size()) {
            result.append(format.mid(i, j - i + 1));
            i = j;
            continue;
        }
        const QVariant& value = arguments.at(argumentIndex);
        if (index < 0)
            ++next;
        switch (conversion) {
        case '@':
        case 's': {
            QString text = value.toString();
            const int w = width.toInt();
            if (text.size() < w)
                text = flags.contains(u'-') ? text.leftJustified(w) : text.rightJustified(w);
            result.append(text);
            break;
        }
        case 'c':
            result.append(value.typeId() == QMetaType::QString ? value.toString().left(1)
                                                               : QString(QChar(value.toInt())));
            break;
        default:
            result.append(formatNumber(flags, width, precision, conversion, value));
        }
        i = j;
    }
    return result;
}

} // namespace qm::platform
