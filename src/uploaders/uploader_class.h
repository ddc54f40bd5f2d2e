#pragma once

#include "uploaders/service_environment.h"
#include "uploaders/uploader.h"

#include <memory>

namespace qm::upload {

// The class-level side of one service: its name, its persistent link state, and new uploaders.
class UploaderClass {
public:
    explicit UploaderClass(const ServiceEnvironment& environment) : environment_(environment) {}
    virtual ~UploaderClass() = default;

    virtual QString name() const = 0;
    virtual bool isLinked() const = 0;
    virtual void setIsLinked(bool linked) = 0;
    virtual std::unique_ptr<Uploader> create() const = 0;

    // "<bundle name> (<service name>)": names the service's secrets.
    QString keychainIdentifier() const;

protected:
    const ServiceEnvironment& environment() const { return environment_; }

private:
    ServiceEnvironment environment_;
};

// A service whose link state is a flag in the settings store, paired with the password stored for the
// account name held in its account key: unlinking clears the flag, then removes that password.
class FlagLinkedUploaderClass : public UploaderClass {
public:
    // `accountKey` empty: the service keeps no password here and unlinking clears the flag only.
    FlagLinkedUploaderClass(const ServiceEnvironment& environment, QString linkedKey, QString accountKey);

    bool isLinked() const override;
    void setIsLinked(bool linked) override;

private:
    QString linkedKey_;
    QString accountKey_;
};

} // namespace qm::upload
