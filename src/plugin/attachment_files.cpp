#include "plugin/attachment_files.h"

#include <QDir>
#include <QFileInfo>

namespace qm::plugin {

QString nextAvailableFilePath(const QString& path) {
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return path;
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    // A leading dot starts a hidden name, not an extension.
    const bool hasExtension = dot > 0;
    const QString stem = info.dir().filePath(hasExtension ? name.left(dot) : name);
    const QString extension = hasExtension ? name.mid(dot + 1) : QString();
    QString candidate;
    for (int n = 1; n <= 998; ++n) {
        candidate = QStringLiteral("%1-%2.%3").arg(stem).arg(n).arg(extension);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            break;
    }
    return candidate;
}

QString safeFileName(const QString& name) {
    QString last = name;
    last.replace(u'\\', u'/');
    last = last.section(u'/', -1);
    last.remove(QChar(0));
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
