#pragma once

#include "host/object_facade.h"

namespace qm::host {

class Runtime;

// The host application object.
class Application : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    void showPreferencesPanel() const;
};

// The host's preferences window controller.
class PreferencesController : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    // The shared controller, through the class operation of the class `className`; null when missing.
    static PreferencesController shared(const Runtime& runtime,
                                        const QString& className = QStringLiteral("NSPreferences"));

    void addPreferenceNamed(const QString& name, const ObjectPtr& owner) const;
    void showPreferencesPanelForOwner(const ObjectPtr& owner) const;
    QVariant valueForKey(const QString& key) const;
};

} // namespace qm::host
