#pragma once

#include "uploaders/service_id.h"
#include "uploaders/uploader.h"

namespace qm::ui {

// Where the page publishes the uploader of the linking attempt under way, so that a sign-in returning
// through the URL scheme reaches it. The page owns the uploader; a holder only refers to it, until the
// page replaces it (a new attempt) or clears it (the attempt ended): then it is set again, or to null.
class AuthUploaderHolder {
public:
    virtual ~AuthUploaderHolder() = default;
    virtual void setAuthUploader(upload::Uploader* uploader, upload::ServiceId service) = 0;
    virtual upload::Uploader* authUploader() const = 0;
};

// A holder of its own, for hosts that keep the current linking uploader nowhere else.
class LocalAuthUploaderHolder final : public AuthUploaderHolder {
public:
    void setAuthUploader(upload::Uploader* uploader, upload::ServiceId) override { uploader_ = uploader; }
    upload::Uploader* authUploader() const override { return uploader_; }

private:
    upload::Uploader* uploader_ = nullptr;
};

} // namespace qm::ui
