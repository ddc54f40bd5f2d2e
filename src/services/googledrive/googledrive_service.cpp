#include "services/googledrive/googledrive_service.h"

namespace qm::upload {

const ServiceDescription& googleDriveService() {
    static const ServiceDescription description{
        .id = ServiceId::GoogleDrive,
        .linking = Linking::Browser,
        .accountKey = {}, // the account is the one signed in; its e-mail lives with the authorization
        .linkedKey = {},  // linked while a usable authorization is stored
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = QUrl(QStringLiteral("https://accounts.google.com/signup")),
    };
    return description;
}

} // namespace qm::upload
