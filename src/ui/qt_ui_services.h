#pragma once

#include "host/ui_services.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace qm::ui {

// A host window object standing for a Qt window: what sheets attach to.
class WindowObject final : public host::Object {
public:
    static constexpr char className[] = "NSWindow";
    WindowObject(host::Class& windowClass, QWidget* widget)
        : host::Object(windowClass)
        , widget(widget) {}
    QPointer<QWidget> widget;
};

// The window object of `widget` in `runtime`, defining the window class on first use.
host::ObjectPtr windowObject(host::Runtime& runtime, QWidget* widget);
QWidget* widgetOfWindow(const host::ObjectPtr& window);

// The host layer's interface services on Qt Widgets:
// - alert sheets are window-modal message boxes on the window's widget; the completion runs once, after
//   the box is gone, with 1, 0 or -1 for the default, alternate and other button;
// - modal alerts are application-modal, above every other window, with the suppression box when asked;
// - interface files are Qt Designer files loaded at run time (QUiLoader, with the rounded box and the
//   source editor as custom widgets); every named widget is an outlet, buttons with an "action" property
//   trigger the owner's action of that selector;
// - panels are shown as window-modal sheets; Escape or closing the window presses the panel's
//   "cancelButton" instead of hiding it behind the owner's back.
class QtUiServices final : public QObject, public host::UiServices {
    Q_OBJECT
public:
    explicit QtUiServices(QObject* parent = nullptr);
    ~QtUiServices() override;

    void beginAlertSheet(const host::AlertRequest& request, const host::ObjectPtr& window,
                         std::function<void(int returnCode)> completion) override;
    host::AlertResponse runModalAlert(const host::AlertRequest& request) override;
    bool openUrl(const QUrl& url) override;
    std::optional<host::LoadedInterface> loadInterface(const QString& path,
                                                       const host::InterfaceActions& actions) override;
    void beginSheet(const std::shared_ptr<host::Panel>& panel, const host::ObjectPtr& window,
                    std::function<void(int returnCode)> didEnd) override;
    void endSheet(const std::shared_ptr<host::Panel>& panel, int returnCode = 0) override;

    int openSheetCount() const { return static_cast<int>(sheets_.size()); }

    // A Designer file as a widget tree, with the custom widgets this host knows; null when unreadable.
    static QWidget* loadWidgets(const QString& path, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Sheet {
        std::shared_ptr<host::Panel> panel;
        QPointer<QWidget> widget;
        std::function<void(int)> didEnd;
    };
    QList<Sheet> sheets_;
};

} // namespace qm::ui
