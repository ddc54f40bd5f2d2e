#include "ui/widget_interface.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>

namespace qm::ui {

namespace {

using host::TextProperty;

constexpr char nullPlaceholderOption[] = "NSNullPlaceholder";

std::optional<QString> toolTipOr(const QWidget* widget, TextProperty property) {
    if (property == TextProperty::toolTip && widget)
        return widget->toolTip();
    return std::nullopt;
}

bool setToolTip(QWidget* widget, TextProperty property, const QString& text) {
    if (property != TextProperty::toolTip || !widget)
        return false;
    widget->setToolTip(text);
    return true;
}

QList<std::shared_ptr<host::View>> childViews(QWidget* widget) {
    QList<std::shared_ptr<host::View>> views;
    if (!widget)
        return views;
    for (QObject* child : widget->children()) {
        auto* childWidget = qobject_cast<QWidget*>(child);
        // Separate windows (sheets kept in the file) are reached as outlets, not as subviews.
        if (childWidget && !childWidget->isWindow())
            views.append(wrapView(childWidget));
    }
    return views;
}

template <typename Base> class WidgetView : public Base, public WidgetObject {
public:
    explicit WidgetView(QWidget* widget)
        : WidgetObject(widget) {}
    std::optional<QString> text(TextProperty property) const override { return toolTipOr(widget_, property); }
    void setText(TextProperty property, const QString& text) override { setToolTip(widget_, property, text); }
    QList<std::shared_ptr<host::View>> subviews() const override { return childViews(widget_); }
};

class BoxAdapter final : public WidgetView<host::Box> {
public:
    using WidgetView::WidgetView;
    std::optional<QString> text(TextProperty property) const override {
        if (property == TextProperty::title)
            return widget_ ? widget_->property("title").toString() : QString();
        return WidgetView::text(property);
    }
    void setText(TextProperty property, const QString& text) override {
        if (property == TextProperty::title && widget_)
            widget_->setProperty("title", text);
        else
            WidgetView::setText(property, text);
    }
};

class ButtonCell final : public host::Cell {
public:
    explicit ButtonCell(QAbstractButton* button)
        : host::Cell(host::CellKind::button)
        , button_(button) {}
    bool isImageOnly() const override {
        return button_ && button_->text().isEmpty() && !button_->icon().isNull();
    }
    std::optional<QString> text(TextProperty property) const override {
        if (property == TextProperty::title)
            return button_ ? button_->text() : QString();
        return std::nullopt;
    }
    void setText(TextProperty property, const QString& text) override {
        if (property == TextProperty::title && button_)
            button_->setText(text);
    }

private:
    QPointer<QAbstractButton> button_;
};

class ButtonAdapter final : public WidgetView<host::Button> {
public:
    using WidgetView::WidgetView;
    std::shared_ptr<host::Cell> cell() const override {
        return std::make_shared<ButtonCell>(qobject_cast<QAbstractButton*>(widget_.data()));
    }
};

class ComboItem final : public host::MenuItem {
public:
    ComboItem(QComboBox* combo, int index)
        : combo_(combo)
        , index_(index) {}
    std::optional<QString> text(TextProperty property) const override {
        if (!combo_)
            return std::nullopt;
        if (property == TextProperty::title)
            return combo_->itemText(index_);
        if (property == TextProperty::toolTip)
            return combo_->itemData(index_, Qt::ToolTipRole).toString();
        return std::nullopt;
    }
    void setText(TextProperty property, const QString& text) override {
        if (!combo_)
            return;
        if (property == TextProperty::title)
            combo_->setItemText(index_, text);
        else if (property == TextProperty::toolTip)
            combo_->setItemData(index_, text, Qt::ToolTipRole);
    }

private:
    QPointer<QComboBox> combo_;
    int index_;
};

class PopUpAdapter final : public WidgetView<host::PopUpButton> {
public:
    using WidgetView::WidgetView;
    std::shared_ptr<host::Menu> menu() const override {
        auto menu = std::make_shared<host::Menu>();
        QList<std::shared_ptr<host::MenuItem>> items;
        if (auto* combo = qobject_cast<QComboBox*>(widget_.data()))
            for (int i = 0; i < combo->count(); ++i)
                items.append(std::make_shared<ComboItem>(combo, i));
        menu->setItems(items);
        return menu;
    }
    // Its entries are its only subviews worth a walk.
    QList<std::shared_ptr<host::View>> subviews() const override { return {}; }
};

// What a text field shows until code sets its value is the null placeholder of its value binding.
class TextFieldAdapter final : public WidgetView<host::TextField> {
public:
    using WidgetView::WidgetView;
    void setStringValue(const QString& text) override {
        if (auto* label = qobject_cast<QLabel*>(widget_.data()))
            label->setText(text);
        else if (auto* edit = qobject_cast<QLineEdit*>(widget_.data()))
            edit->setText(text);
    }
    QString stringValue() const override {
        if (auto* label = qobject_cast<QLabel*>(widget_.data()))
            return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget_.data()))
            return edit->text();
        return {};
    }
    std::optional<QString> text(TextProperty property) const override {
        if (property == TextProperty::stringValue)
            return stringValue();
        return WidgetView::text(property);
    }
    void setText(TextProperty property, const QString& text) override {
        if (property == TextProperty::stringValue)
            setStringValue(text);
        else
            WidgetView::setText(property, text);
    }
    std::optional<host::Binding> binding(const QString& name) const override {
        if (name != QLatin1String(host::valueBinding) || !widget_)
            return std::nullopt;
        const QString shown = placeholder();
        if (shown.isEmpty())
            return std::nullopt;
        return host::Binding{
            nullptr, QStringLiteral("stringValue"), {{QString::fromLatin1(nullPlaceholderOption), shown}}};
    }
    void bind(const QString& name, const host::Binding& binding) override {
        if (name != QLatin1String(host::valueBinding))
            return;
        const QString shown = binding.options.value(QString::fromLatin1(nullPlaceholderOption)).toString();
        if (auto* label = qobject_cast<QLabel*>(widget_.data()))
            label->setText(shown);
        else if (auto* edit = qobject_cast<QLineEdit*>(widget_.data()))
            edit->setPlaceholderText(shown);
    }

private:
    QString placeholder() const {
        if (auto* label = qobject_cast<QLabel*>(widget_.data()))
            return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget_.data()))
            return edit->placeholderText();
        return {};
    }
};

class ProgressAdapter final : public WidgetView<host::ProgressIndicator> {
public:
    using WidgetView::WidgetView;
    QProgressBar* bar() const { return qobject_cast<QProgressBar*>(widget_.data()); }
    void setIndeterminate(bool indeterminate) override {
        if (auto* b = bar())
            b->setRange(0, indeterminate ? 0 : 1000);
    }
    bool isIndeterminate() const override { return bar() && bar()->maximum() == 0; }
    void setDoubleValue(double value) override {
        auto* b = bar();
        if (!b || b->maximum() == 0)
            return;
        // Tenths of a percent, so that a large file's progress still moves the bar.
        if (b->maximum() != 1000)
            b->setRange(0, 1000);
        b->setValue(static_cast<int>(value * 10.0));
    }
    double doubleValue() const override {
        return bar() ? bar()->value() * 100.0 / std::max(bar()->maximum(), 1) : 0.0;
    }
    void startAnimation() override {}
    void stopAnimation() override {}
};

class TabItem final : public host::TabViewItem {
public:
    TabItem(QTabWidget* tabs, int index)
        : tabs_(tabs)
        , index_(index) {}
    std::optional<QString> text(TextProperty property) const override {
        if (property == TextProperty::label && tabs_)
            return tabs_->tabText(index_);
        return std::nullopt;
    }
    void setText(TextProperty property, const QString& text) override {
        if (property == TextProperty::label && tabs_)
            tabs_->setTabText(index_, text);
    }
    std::shared_ptr<host::View> view() const override {
        return tabs_ ? wrapView(tabs_->widget(index_)) : nullptr;
    }

private:
    QPointer<QTabWidget> tabs_;
    int index_;
};

class TabAdapter final : public WidgetView<host::TabView> {
public:
    using WidgetView::WidgetView;
    QList<std::shared_ptr<host::TabViewItem>> tabViewItems() const override {
        QList<std::shared_ptr<host::TabViewItem>> items;
        if (auto* tabs = qobject_cast<QTabWidget*>(widget_.data()))
            for (int i = 0; i < tabs->count(); ++i)
                items.append(std::make_shared<TabItem>(tabs, i));
        return items;
    }
    QList<std::shared_ptr<host::View>> subviews() const override { return {}; }
};

class WindowAdapter final : public host::Panel, public WidgetObject {
public:
    explicit WindowAdapter(QWidget* widget)
        : WidgetObject(widget) {}
    std::optional<QString> text(TextProperty property) const override {
        if (property == TextProperty::title)
            return widget_ ? widget_->windowTitle() : QString();
        return std::nullopt;
    }
    void setText(TextProperty property, const QString& text) override {
        if (property == TextProperty::title && widget_)
            widget_->setWindowTitle(text);
    }
    std::shared_ptr<host::View> contentView() const override { return wrapView(widget_); }
};

} // namespace

std::shared_ptr<host::View> wrapView(QWidget* widget) {
    if (qobject_cast<QGroupBox*>(widget) || widget->inherits("qm::ui::RoundedBox"))
        return std::make_shared<BoxAdapter>(widget);
    if (qobject_cast<QComboBox*>(widget))
        return std::make_shared<PopUpAdapter>(widget);
    if (qobject_cast<QAbstractButton*>(widget))
        return std::make_shared<ButtonAdapter>(widget);
    if (qobject_cast<QLabel*>(widget) || qobject_cast<QLineEdit*>(widget))
        return std::make_shared<TextFieldAdapter>(widget);
    if (qobject_cast<QProgressBar*>(widget))
        return std::make_shared<ProgressAdapter>(widget);
    if (qobject_cast<QTabWidget*>(widget))
        return std::make_shared<TabAdapter>(widget);
    return std::make_shared<WidgetView<host::View>>(widget);
}

host::InterfaceObjectPtr wrapWidget(QWidget* widget) {
    if (!widget)
        return nullptr;
    if (widget->isWindow() || qobject_cast<QDialog*>(widget))
        return std::make_shared<WindowAdapter>(widget);
    return wrapView(widget);
}

host::LoadedInterface loadedInterfaceFrom(QWidget* root, const host::InterfaceActions& actions) {
    host::LoadedInterface loaded;
    const std::shared_ptr<QWidget> keeper(root, [](QWidget* widget) { widget->deleteLater(); });
    const auto kept = [&keeper](host::InterfaceObjectPtr object) {
        if (auto* adapter = dynamic_cast<WidgetObject*>(object.get()))
            adapter->keep(keeper);
        return object;
    };
    const host::InterfaceObjectPtr top = kept(wrapWidget(root));
    loaded.addTopLevelObject(top);
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : std::as_const(widgets)) {
        if (!widget->objectName().isEmpty())
            loaded.connect(widget->objectName(), widget == root ? top : kept(wrapWidget(widget)));
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const QString selector = widget->property("action").toString();
        if (button && !selector.isEmpty() && actions.contains(selector))
            QObject::connect(button, &QAbstractButton::clicked, button,
                             [action = actions.value(selector)] { action(); });
    }
    return loaded;
}

QWidget* widgetOf(const host::InterfaceObject* object) {
    const auto* adapter = dynamic_cast<const WidgetObject*>(object);
    return adapter ? adapter->widget() : nullptr;
}

} // namespace qm::ui
