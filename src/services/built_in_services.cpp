#include "services/built_in_services.h"

#include "services/box/box_uploader.h"
#include "services/cloudapp/cloudapp_uploader.h"
#include "services/dropbox/dropbox_uploader.h"
#include "services/droplr/droplr_uploader.h"
#include "services/dropmark/dropmark_uploader.h"
#include "services/generic/generic_uploader.h"
#include "services/googledrive/googledrive_uploader.h"
#include "services/mediafire/mediafire_uploader.h"
#include "services/owncloud/owncloud_uploader.h"
#include "services/yousendit/yousendit_uploader.h"

namespace qm::upload {

void registerBuiltInServices(ServiceRegistry& registry, const ServiceEnvironment& environment,
                             const platform::Bundle& bundle) {
    // One line per service; its description and uploader live in its own folder.
    registry.registerService(std::make_unique<GenericUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<OwnCloudUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<YouSendItUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<DropmarkUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<MediaFireUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<DroplrUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<CloudAppUploaderClass>(environment));
    registry.registerService(std::make_unique<BoxUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<DropboxUploaderClass>(environment, bundle));
    registry.registerService(std::make_unique<GoogleDriveUploaderClass>(environment, bundle));
}

} // namespace qm::upload
