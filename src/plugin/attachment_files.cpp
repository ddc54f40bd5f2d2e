#include "plugin/attachment_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qm::plugin {
namespace {

// Longer "extensions" are part of the name, and may be cut like it.
constexpr qsizetype maxExtensionBytes = 32;

qsizetype encodedSize(const QString& text) {
    return QFile::encodeName(text).size();
}

// The longest start of `text` that encodes to at most `maxBytes`, ending between two whole characters.
QString cutToBytes(const QString& text, qsizetype maxBytes) {
    if (encodedSize(text) <= maxBytes)
        return text;
    qsizetype end = 0;
    qsizetype bytes = 0;
    while (end < text.size()) {
        qsizetype next = end + (text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1);
        while (next < text.size() && text.at(next).isMark()) // a letter keeps its accents
            ++next;
        const qsizetype length = encodedSize(text.mid(end, next - end));
        if (bytes + length > maxBytes)
            break;
        bytes += length;
        end = next;
    }
    return text.left(end);
}

bool taken(const QString& path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

// Name split at its extension's dot; a leading dot starts a hidden name, not an extension.
std::pair<QString, QString> splitExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return {name, QString()};
    return {name.left(dot), name.mid(dot + 1)};
}

} // namespace

QString fitFileName(const QString& name, int maxBytes) {
    if (encodedSize(name) <= maxBytes)
        return name;
    const auto [stem, extension] = splitExtension(name);
    if (extension.isNull() || encodedSize(extension) > maxExtensionBytes)
        return cutToBytes(name, maxBytes);
    return cutToBytes(stem, maxBytes - 1 - encodedSize(extension)) + u'.' + extension;
}

QString nextAvailableFilePath(const QString& path, int maxBytes) {
    const QFileInfo info(path);
    const QString first = info.dir().filePath(fitFileName(info.fileName(), maxBytes));
    if (!taken(first))
        return first;
    const auto [stem, extension] = splitExtension(info.fileName());
    QString candidate;
    for (int n = 1; n <= 998; ++n) {
        const QString number = QStringLiteral("-%1.").arg(n);
        QString name = stem + number + extension;
        if (encodedSize(name) > maxBytes) {
            const QString kept = encodedSize(extension) > maxExtensionBytes
                                     ? cutToBytes(extension, maxExtensionBytes)
                                     : extension;
            name = cutToBytes(stem, maxBytes - encodedSize(number + kept)) + number + kept;
        }
        candidate = info.dir().filePath(name);
        if (!taken(candidate))
            break;
    }
    return candidate;
}

QString safeFileName(const QString& name) {
    QString last = name;
    last.replace(u'\\', u'/');
    last = last.section(u'/', -1);
    for (QChar& c : last)
        if (c.category() == QChar::Other_Control)
            c = u'_';
    if (last == QLatin1String(".") || last == QLatin1String(".."))
        last.clear();
    return last.trimmed().isEmpty() ? QStringLiteral("attachment") : last;
}

QString singleArchiveName(const QString& subject) {
    const QString trimmed = subject.trimmed();
    QString name;
    name.reserve(trimmed.size());
    for (const QChar c : trimmed)
        name.append(c.isLetterOrNumber() || c.isMark() ? c : QChar(u'_'));
    return name.isEmpty() ? QStringLiteral("attachments") : name;
}

QString arrayDescription(const QStringList& strings) {
    if (strings.isEmpty())
        return QStringLiteral("(\n)");
    QStringList lines;
    for (QString s : strings) {
        s.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
        lines.append(QStringLiteral("    \"%1\"").arg(s));
    }
    return QStringLiteral("(\n%1\n)").arg(lines.join(QStringLiteral(",\n")));
}

} // namespace qm::plugin
