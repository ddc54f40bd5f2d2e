#pragma once

#include "host/runtime.h"

namespace qm::host {

// A typed view of a host object. Every call is guarded: a null object, or one that does not answer the
// operation, yields nil, 0 or NO, so a feature whose host operations are missing quietly does nothing.
class ObjectFacade {
public:
    ObjectFacade() = default;
    explicit ObjectFacade(ObjectPtr object)
        : object_(std::move(object)) {}

    const ObjectPtr& object() const { return object_; }
    bool isNull() const { return !object_; }
    explicit operator bool() const { return object_ != nullptr; }
    bool respondsTo(const QString& selector) const { return object_ && object_->respondsTo(selector); }

    // Calls any operation by name, guarded as above; an invalid QVariant when it is not answered.
    QVariant call(const QString& selector, const QVariantList& arguments = {}) const;

protected:
    ObjectPtr callObject(const QString& selector, const QVariantList& arguments = {}) const;
    QString callString(const QString& selector) const;
    bool callBool(const QString& selector, const QVariantList& arguments = {}) const;
    qint64 callInteger(const QString& selector) const;
    QVariantList callList(const QString& selector) const;

private:
    ObjectPtr object_;
};

} // namespace qm::host
