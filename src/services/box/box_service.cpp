#include "services/box/box_service.h"

namespace qm::upload {

const ServiceDescription& boxService() {
    static const ServiceDescription description{
        .id = ServiceId::Box,
        .linking = Linking::Browser,
        .accountKey = {},
        .linkedKey = {}, // linked while a credential is stored
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = QUrl(QStringLiteral("https://account.box.com/signup/personal")),
    };
    return description;
}

} // namespace qm::upload
