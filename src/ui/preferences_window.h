#pragma once

#include "host/runtime.h"

#include <QMainWindow>
#include <QStackedWidget>
#include <QToolBar>

namespace qm::ui {

// The host's preferences window: a toolbar with one item per module, the module's page below it. It is
// the host's preferences controller class "NSPreferences" in the runtime, whose shared instance the
// plug-in reaches (and whose accessor it takes over to attach its page):
//   class    sharedPreferences
//   instance addPreferenceNamed:owner:, showPreferencesPanelForOwner:, valueForKey: ("_preferencesPanel":
//            the window object; "_preferenceModules": module names to owners), window
// An owner shows its page through its operations "view" (the page widget as a QObject), "willBeDisplayed"
// and "preferencesWindowShouldClose".
class PreferencesWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr char controllerClassName[] = "NSPreferences";

    explicit PreferencesWindow(host::Runtime& runtime, QWidget* parent = nullptr);

    void addModule(const QString& name, const host::ObjectPtr& owner);
    void showModule(const host::ObjectPtr& owner);
    QVariantMap modules() const;
    host::ObjectPtr windowObject() const { return window_; }
    host::ObjectPtr controller() const { return controller_; }
    QToolBar* toolbar() const { return toolbar_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    host::Runtime& runtime_;
    QToolBar* toolbar_;
    QStackedWidget* pages_;
    QList<std::pair<QString, host::ObjectPtr>> modules_;
    host::ObjectPtr current_;
    host::ObjectPtr window_;
    host::ObjectPtr controller_;
};

} // namespace qm::ui
