#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

namespace qm::host {

// Objects of an interface file that the plug-in's code talks to through outlets. Each host presents them
// its own way: Qt widgets, a terminal progress bar, recorded values in tests.
class InterfaceObject {
public:
    virtual ~InterfaceObject() = default;
};

// A window that can be shown as a sheet on another window.
class Panel : public InterfaceObject {};

class ProgressIndicator : public InterfaceObject {
public:
    virtual void setIndeterminate(bool indeterminate) = 0;
    virtual bool isIndeterminate() const = 0;
    virtual void setDoubleValue(double value) = 0;   // within 0 to 100
    virtual double doubleValue() const = 0;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
};

class TextField : public InterfaceObject {
public:
    virtual void setStringValue(const QString& text) = 0;
    virtual QString stringValue() const = 0;
};

// What loading an interface file gives its owner: the connected outlets by name.
class LoadedInterface {
public:
    void connect(const QString& outlet, std::shared_ptr<InterfaceObject> object) { outlets_.insert(outlet, std::move(object)); }

    template <typename T>
    std::shared_ptr<T> outlet(const QString& name) const {
        return std::dynamic_pointer_cast<T>(outlets_.value(name));
    }

private:
    QHash<QString, std::shared_ptr<InterfaceObject>> outlets_;
};

// The owner's actions by selector ("cancelUpload:"), which the interface's controls trigger.
using InterfaceActions = QHash<QString, std::function<void()>>;

} // namespace qm::host
