#include "services/built_in_services.h"

#include "services/generic/generic_uploader.h"
#include "services/googledrive/googledrive_uploader.h"
#include "services/owncloud/owncloud_uploader.h"

namespace qm::upload {

void registerBuiltInServices(ServiceRegistry& registry, const ServiceEnvironment& environment,
                             const platform::Bundle& bundle) {
    // One line per service; its description and uploader live in its own folder.
    registry.registerService(std::make_unique<GenericUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<OwnCloudUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<GoogleDriveUploaderClass>(environment, bundle));
}

} // namespace qm::upload
