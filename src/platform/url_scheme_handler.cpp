#include "platform/url_scheme_handler.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace qm::platform {
namespace {

const QString domain = QStringLiteral("QMURLSchemeErrorDomain");

QString desktopEntry(const UrlSchemeHandler::Application& application, const QStringList& schemes) {
    QStringList types;
    for (const QString& scheme : schemes)
        types.append(QStringLiteral("x-scheme-handler/") + scheme.toLower());
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Exec=%2 %u\n"
                          "NoDisplay=true\n"
                          "Terminal=false\n"
                          "MimeType=%3;\n")
        .arg(application.name, application.command, types.join(u';'));
}

} // namespace

QString UrlSchemeHandler::applicationsFolder(const QProcessEnvironment& environment) {
    QString data = environment.value(QStringLiteral("XDG_DATA_HOME"));
    if (data.isEmpty())
        data = environment.value(QStringLiteral("HOME"), QDir::homePath()) + QStringLiteral("/.local/share");
    return data + QStringLiteral("/applications");
}

Result<void> UrlSchemeHandler::registerDefaultHandler(const Application& application,
                                                      const QStringList& schemes,
                                                      const QProcessEnvironment& environment) {
    const QString folder = applicationsFolder(environment);
    QDir().mkpath(folder);
    const QByteArray contents = desktopEntry(application, schemes).toUtf8();
    QFile existing(QDir(folder).filePath(application.desktopFileName));
    // Claimed before by the same program: nothing to do at every start.
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == contents)
        return {};
    QSaveFile entry(existing.fileName());
    if (!entry.open(QIODevice::WriteOnly) || entry.write(contents) < 0 || !entry.commit())
        return Error(domain, 1,
                     QStringLiteral("Could not write %1: %2").arg(entry.fileName(), entry.errorString()));

    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return {};
    for (const QString& scheme : schemes) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(xdgMime, {QStringLiteral("default"), application.desktopFileName,
                                QStringLiteral("x-scheme-handler/") + scheme.toLower()});
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            process.kill();
            return Error(domain, 2,
                         QStringLiteral("xdg-mime could not make %1 the handler of %2: %3")
                             .arg(application.desktopFileName, scheme,
                                  QString::fromLocal8Bit(process.readAllStandardError()).trimmed()));
        }
    }
    return {};
}

} // namespace qm::platform
