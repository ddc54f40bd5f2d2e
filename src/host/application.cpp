#include "host/application.h"

#include "host/selectors.h"

namespace qm::host {

namespace sel = selectors;

void Application::showPreferencesPanel() const {
    call(sel::showPreferencesPanel, {QVariant()});
}

PreferencesController PreferencesController::shared(const Runtime& runtime, const QString& className) {
    const Class* preferencesClass = runtime.classNamed(className);
    if (!preferencesClass)
        return {};
    return PreferencesController(toObject(preferencesClass->invokeClassMethod(sel::sharedPreferences)));
}

void PreferencesController::addPreferenceNamed(const QString& name, const ObjectPtr& owner) const {
    call(sel::addPreferenceNamed, {name, toVariant(owner)});
}

void PreferencesController::showPreferencesPanelForOwner(const ObjectPtr& owner) const {
    call(sel::showPreferencesPanelForOwner, {toVariant(owner)});
}

QVariant PreferencesController::valueForKey(const QString& key) const {
    return call(sel::valueForKey, {key});
}

} // namespace qm::host
