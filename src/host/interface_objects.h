#pragma once

#include "host/interface_model.h"

#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace qm::host {

// Outlets of an interface file that the plug-in's code talks to. Each host presents them its own way:
// Qt widgets, a terminal progress bar, recorded values in tests. They belong to the interface model, so
// translating a loaded interface reaches them too (TextField is defined there).

// A window that can be shown as a sheet on another window.
class Panel : public Window {};

class ProgressIndicator : public View {
public:
    virtual void setIndeterminate(bool indeterminate) = 0;
    virtual bool isIndeterminate() const = 0;
    virtual void setDoubleValue(double value) = 0; // within 0 to 100
    virtual double doubleValue() const = 0;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
};

// What loading an interface file gives its owner: the connected outlets by name, and the file's
// top-level objects (windows, menus, controllers), from which every other object can be reached.
class LoadedInterface {
public:
    void connect(const QString& outlet, std::shared_ptr<InterfaceObject> object) {
        outlets_.insert(outlet, std::move(object));
    }
    void addTopLevelObject(InterfaceObjectPtr object) { topLevelObjects_.append(std::move(object)); }
    const QList<InterfaceObjectPtr>& topLevelObjects() const { return topLevelObjects_; }

    template <typename T> std::shared_ptr<T> outlet(const QString& name) const {
        return std::dynamic_pointer_cast<T>(outlets_.value(name));
    }

private:
    QHash<QString, std::shared_ptr<InterfaceObject>> outlets_;
    QList<InterfaceObjectPtr> topLevelObjects_;
};

// The owner's actions by selector ("cancelUpload:"), which the interface's controls trigger.
using InterfaceActions = QHash<QString, std::function<void()>>;

} // namespace qm::host
