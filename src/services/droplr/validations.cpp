#include "services/droplr/functions.h"
#include "services/droplr/service.h"

#include <QRegularExpression>

namespace qm::droplr {

bool Service::isValidLink(const QUrl& link) {
    const QString scheme = link.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !link.host().isEmpty() &&
           link.toString(QUrl::FullyEncoded).toUtf8().size() <= kMaxLinkSize;
}

bool Service::isValidNote(const QString& note) {
    return !note.isEmpty() && note.toUtf8().size() <= kMaxNoteSize;
}

bool Service::isValidMimeType(const QString& mimeType) {
    return mimeType.size() >= 3 && mimeType.size() < 1024 && mimeType.contains(QLatin1Char('/')) &&
           !mimeType.startsWith(QLatin1Char('/')) && !mimeType.endsWith(QLatin1Char('/'));
}

bool Service::isValidFilename(const QString& filename) {
    return !filename.isEmpty() && filename.size() < 1024;
}

bool Service::isValidPassword(const QString& password) {
    static const QRegularExpression pattern(kValidPasswordRegex);
    return !password.isNull() && pattern.match(password).hasMatch();
}

bool Service::canUploadData(const QByteArray& data, const Account*) {
    return static_cast<quint64>(data.size()) < kMaxFileSize;
}

bool Service::canUploadFile(quint64 size, const Account& account) {
    return currentTimeMillis() / 1000 <= account.subscriptionEnd / 1000 && size < kMaxFileSize;
}

} // namespace qm::droplr
