#pragma once

#include "uploaders/service_id.h"
#include "uploaders/uploader.h"

namespace qm::plugin {

// The uploader of the account link under way: the preferences page's `authUploader`. Whoever starts a
// linking attempt (the preferences page, `quillmoor link`) sets it with the uploader's service and clears
// it when the attempt ends; the URL handler hands the browser's redirects to it. The plug-in keeps one
// (QuillmoorBundle::linkingUploader()). It does not own the uploader.
class LinkingUploader {
public:
    upload::Uploader* uploader() const { return uploader_; }
    upload::ServiceId service() const { return service_; }
    // The uploader when it is one of `service`, else null.
    upload::Uploader* uploaderOf(upload::ServiceId service) const {
        return service_ == service ? uploader_ : nullptr;
    }

    void set(upload::Uploader* uploader, upload::ServiceId service) {
        uploader_ = uploader;
        service_ = uploader ? service : upload::ServiceId::None;
    }
    void clear() { set(nullptr, upload::ServiceId::None); }

    // Sets the holder for one scope (a linking attempt's life).
    class Scope {
    public:
        Scope(LinkingUploader& holder, upload::Uploader* uploader, upload::ServiceId service)
            : holder_(holder) {
            holder_.set(uploader, service);
        }
        ~Scope() { holder_.clear(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        LinkingUploader& holder_;
    };

private:
    upload::Uploader* uploader_ = nullptr;
    upload::ServiceId service_ = upload::ServiceId::None;
};

} // namespace qm::plugin
