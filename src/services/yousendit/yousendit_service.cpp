#include "services/yousendit/yousendit_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

const ServiceDescription& youSendItService() {
    static const ServiceDescription description{
        .id = ServiceId::YouSendIt,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(accounts::keys::youSendItEmail),
        .linkedKey = {}, // the link is the client's logged-in user
        .fields = {},
        .needsRecipients = true,
        .reportsProgress = false, // the blocking upload tells nothing until it is done
        .signUpPage = QUrl(QStringLiteral("https://www.hightail.com/")),
    };
    return description;
}

} // namespace qm::upload
