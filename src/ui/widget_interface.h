#pragma once

#include "host/interface_objects.h"

#include <QPointer>
#include <QWidget>

namespace qm::ui {

// The interface model over live Qt widgets, so that the plug-in's code and its translation walk reach
// widgets loaded from an interface file. Texts are read from and written to the widgets themselves:
//   top-level widget     window (title) with itself as content view; a dialog is a panel (a sheet)
//   QGroupBox, rounded box  box (title)
//   QAbstractButton      button whose cell carries the text; icon-only buttons are image-only cells
//   QComboBox            pop-up button, one menu item per entry
//   QLabel, QLineEdit    text field; the text shown until code sets one (a label's text, a line edit's
//                        placeholder) is the null placeholder of its value binding
//   QProgressBar         progress indicator
//   QTabWidget           tab view, one item per page
//   anything else        a view with its child widgets as subviews
class WidgetObject {
public:
    virtual ~WidgetObject() = default;
    QWidget* widget() const { return widget_; }
    // The loaded file's root widget lives as long as any outlet of it does.
    void keep(std::shared_ptr<QWidget> root) { root_ = std::move(root); }

protected:
    explicit WidgetObject(QWidget* widget)
        : widget_(widget) {}
    QPointer<QWidget> widget_;
    std::shared_ptr<QWidget> root_;
};

// The adapter for `widget` of the kind above; a top-level widget comes as its window.
host::InterfaceObjectPtr wrapWidget(QWidget* widget);
std::shared_ptr<host::View> wrapView(QWidget* widget);

// A loaded interface: every named widget of `root` as an outlet, `root` as its top-level object, and every
// button with an "action" property wired to the owner's action of that selector.
host::LoadedInterface loadedInterfaceFrom(QWidget* root, const host::InterfaceActions& actions);

// The widget behind an interface object made here; null for any other object.
QWidget* widgetOf(const host::InterfaceObject* object);

} // namespace qm::ui
