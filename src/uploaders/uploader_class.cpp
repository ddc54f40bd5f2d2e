#include "uploaders/uploader_class.h"

namespace qm::upload {

bool FlagLinkedUploaderClass::isLinked() const {
    return environment().settings.boolForKey(description().linkedKey);
}

void FlagLinkedUploaderClass::setIsLinked(bool linked) {
    (void)environment().settings.setBool(linked, description().linkedKey);
    if (linked || description().accountKey.isEmpty())
        return;
    const QString account = environment().settings.stringForKey(description().accountKey);
    environment().credentials.removeKeychainItem(keychainIdentifier(), account);
}

} // namespace qm::upload
