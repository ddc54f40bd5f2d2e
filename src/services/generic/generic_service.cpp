#include "services/generic/generic_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

const ServiceDescription& genericService() {
    namespace keys = accounts::keys;
    using Kind = AccountField::Kind;
    static const ServiceDescription description{
        .id = ServiceId::Generic,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(keys::genericLogin),
        .linkedKey = QString::fromLatin1(keys::genericLinked),
        .fields = {{QStringLiteral("server"), QString::fromLatin1(keys::genericServer), Kind::ServerAddress},
                   {QStringLiteral("public-url"), QString::fromLatin1(keys::genericPublicURL), Kind::Text},
                   {QStringLiteral("private-key"), QString::fromLatin1(keys::genericPrivateKey),
                    Kind::FilePath}},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = {}, // the user's own server
    };
    return description;
}

} // namespace qm::upload
