#include "services/droplr/records.h"

#include "platform/string_format.h"
#include "services/droplr/functions.h"

#include <QRandomGenerator>

namespace qm::droplr {

bool DropStub::isFile() const {
    return type == DropType::Audio || type == DropType::Video || type == DropType::Image ||
           type == DropType::File;
}

bool DropStub::isMedia() const {
    return type == DropType::Audio || type == DropType::Video || type == DropType::Image;
}

QString DropStub::accessibleUrl() const {
    if (privacy == DropPrivacy::Private)
        return shortlink + QLatin1Char('/') + password;
    return shortlink;
}

QString DropStub::generateRandomPassword() {
    const QString seed = QStringLiteral("%1:%2")
                             .arg(QRandomGenerator::system()->generate())
                             .arg(static_cast<qulonglong>(currentTimeMillis()));
    bool ok = false;
    const quint64 value = sha1(seed).left(12).toULongLong(&ok, 16);
    const QString encoded = base62Encode(value);
    return encoded.size() >= 9 ? encoded.left(8) : encoded;
}

QString DropCreation::description() const {
    return platform::formatString(
        QStringLiteral("%@{code='%@', createdAt=%@, type='%@', title='%@', size=%@, shortlink='%@'}"),
        {QStringLiteral("DKDropCreation"), code, prettyDate(createdAt), toString(type), title,
         prettySize(static_cast<double>(size)), shortlink});
}

} // namespace qm::droplr
