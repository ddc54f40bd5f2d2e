#pragma once

#include "host/interface_objects.h"
#include "host/runtime.h"
#include "host/ui_services.h"

#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace qm::platform {
class Bundle;
}

namespace qm::host {

// The owner of a loaded interface: its controls' actions go in, the connected outlets come out. Loading
// by name looks for the file in the owner's bundle.
struct InterfaceOwner {
    QString bundlePath;
    InterfaceActions actions;
    std::optional<LoadedInterface> loaded;
};
using InterfaceOwnerPtr = std::shared_ptr<InterfaceOwner>;
using InterfaceArrayPtr = std::shared_ptr<InterfaceArray>;

// The class through which interface files are loaded, with its two class operations. A name table holds
// the owner and, when the caller wants them, an array that collects the file's top-level objects.
namespace interface_loading {
inline constexpr char className[] = "NSBundle";
inline constexpr char loadNibNamed[] = "loadNibNamed:owner:";                    // name, owner → bool
inline constexpr char loadNibFile[] = "loadNibFile:externalNameTable:withZone:"; // path, table, zone → bool
inline constexpr char ownerKey[] = "NSOwner";
inline constexpr char topLevelObjectsKey[] = "NSNibTopLevelObjects";
} // namespace interface_loading

// The interface file `name` of a bundle: "<name>.ui" among its resources, else in Base.lproj, where the
// one copy of every interface file lives. Null when the bundle has none.
QString interfaceFileInBundle(const platform::Bundle& bundle, const QString& name);

InterfaceOwnerPtr ownerFromNameTable(const QVariantMap& nameTable);
InterfaceArrayPtr topLevelObjectsFromNameTable(const QVariantMap& nameTable);

// Gives a host's runtime the loading class, backed by `ui`. Hosts call it once while they set up their
// classes; a plug-in may then put its own loaders in front of the two operations.
void defineInterfaceLoadingClass(Runtime& runtime, UiServices& ui);

// Loads an interface by name the way the host's code and plug-ins do: through the runtime, so that
// whatever stands in front of the host's loader runs. False when the runtime has no loading class.
bool loadInterfaceNamed(Runtime& runtime, const QString& name, const InterfaceOwnerPtr& owner);

} // namespace qm::host

Q_DECLARE_METATYPE(qm::host::InterfaceOwnerPtr)
Q_DECLARE_METATYPE(qm::host::InterfaceArrayPtr)
