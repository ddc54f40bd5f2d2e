#include "uploaders/uploader_class.h"

namespace qm::upload {

QString UploaderClass::keychainIdentifier() const {
    return QStringLiteral("%1 (%2)").arg(environment_.bundleName, name());
}

FlagLinkedUploaderClass::FlagLinkedUploaderClass(const ServiceEnvironment& environment, QString linkedKey,
                                                 QString accountKey)
    : UploaderClass(environment)
    , linkedKey_(std::move(linkedKey))
    , accountKey_(std::move(accountKey)) {}

bool FlagLinkedUploaderClass::isLinked() const { return environment().settings.boolForKey(linkedKey_); }

void FlagLinkedUploaderClass::setIsLinked(bool linked) {
    environment().settings.setBool(linked, linkedKey_);
    if (linked || accountKey_.isEmpty())
        return;
    const QString account = environment().settings.stringForKey(accountKey_);
    environment().credentials.removeKeychainItem(keychainIdentifier(), account);
}

} // namespace qm::upload
