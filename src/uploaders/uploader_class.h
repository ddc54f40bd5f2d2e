#pragma once

#include "uploaders/service_description.h"
#include "uploaders/service_environment.h"
#include "uploaders/uploader.h"

#include <memory>

namespace qm::upload {

// The class-level side of one service: its description, its persistent link state, and new uploaders.
class UploaderClass {
public:
    UploaderClass(const ServiceEnvironment& environment, ServiceDescription description)
        : environment_(environment)
        , description_(std::move(description)) {}
    virtual ~UploaderClass() = default;

    const ServiceDescription& description() const { return description_; }
    ServiceId id() const { return description_.id; }
    QString name() const { return description_.name(); }

    virtual bool isLinked() const = 0;
    virtual void setIsLinked(bool linked) = 0;
    virtual std::unique_ptr<Uploader> create() const = 0;

    // Start-up work of a host that stays open (a token refreshed, a link state copied from the service's
    // session). Never blocks; what fails is logged and changes no link.
    virtual void prepareAtStartup() {}
    // URL schemes of the service's own that its browser sign-in returns through ("db-KEY"), claimed for the
    // program at start-up; redirects through the plug-in's "quillmoor" scheme need none.
    virtual QStringList redirectSchemes() const { return {}; }
    // Browser-linked services: drops every token of the service (unlinking); the link flag is setIsLinked's.
    virtual void unlinkAll() {}

    // "<bundle name> (<service name>)": names the service's secrets.
    QString keychainIdentifier() const { return upload::keychainIdentifier(environment_.bundleName, id()); }

protected:
    const ServiceEnvironment& environment() const { return environment_; }

private:
    ServiceEnvironment environment_;
    ServiceDescription description_;
};

// A service whose link state is the flag named by its description's linked key, paired with the password
// stored for the account name held in its account key: unlinking clears the flag, then removes that
// password (no account key: the flag only).
class FlagLinkedUploaderClass : public UploaderClass {
public:
    using UploaderClass::UploaderClass;

    bool isLinked() const override;
    void setIsLinked(bool linked) override;
};

} // namespace qm::upload
