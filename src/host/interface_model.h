#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <utility>

namespace qm::host {

// The objects an interface file is made of, as far as the plug-in needs to reach them: the outlets its
// code talks to and every user-visible text, which the plug-in translates after loading.
//
// Every kind works as it is, in memory (tests, hosts that build their interfaces themselves). A host
// that presents real widgets subclasses the kinds and overrides the virtual getters and the virtual
// setters the translation writes through; the non-virtual set… builders only fill the in-memory form.
//
// A nil text is a null QString; a text property the object does not have is std::nullopt.

enum class TextProperty { title, alternateTitle, stringValue, placeholderString, toolTip, label };

class InterfaceObject {
public:
    virtual ~InterfaceObject() = default;

    // In memory an object has the text properties it was given, and no others.
    virtual std::optional<QString> text(TextProperty property) const;
    virtual void setText(TextProperty property, const QString& text);

private:
    QHash<TextProperty, QString> texts_;
};

using InterfaceObjectPtr = std::shared_ptr<InterfaceObject>;

class InterfaceArray : public InterfaceObject {
public:
    InterfaceArray() = default;
    explicit InterfaceArray(QList<InterfaceObjectPtr> elements)
        : elements_(std::move(elements)) {}

    virtual QList<InterfaceObjectPtr> elements() const { return elements_; }
    void setElements(QList<InterfaceObjectPtr> elements) { elements_ = std::move(elements); }

private:
    QList<InterfaceObjectPtr> elements_;
};

// Only action cells carry texts worth translating; `plain` stands for every other cell.
enum class CellKind { plain, action, button, path, tokenField, textField };
enum CellType : int { nullCellType = 0, textCellType = 1, imageCellType = 2 };

class Cell : public InterfaceObject {
public:
    explicit Cell(CellKind kind = CellKind::textField, int type = textCellType)
        : kind_(kind)
        , type_(type) {}

    virtual CellKind kind() const { return kind_; }
    virtual int type() const { return type_; }
    // A button cell whose image position is "image only".
    virtual bool isImageOnly() const { return imageOnly_; }
    void setImageOnly(bool imageOnly) { imageOnly_ = imageOnly; }

private:
    CellKind kind_;
    int type_;
    bool imageOnly_ = false;
};

class MenuItem;

class Menu : public InterfaceObject {
public:
    virtual QList<std::shared_ptr<MenuItem>> items() const { return items_; }
    void setItems(QList<std::shared_ptr<MenuItem>> items) { items_ = std::move(items); }

private:
    QList<std::shared_ptr<MenuItem>> items_;
};

class MenuItem : public InterfaceObject {
public:
    virtual std::shared_ptr<Menu> submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<Menu> submenu) { submenu_ = std::move(submenu); }

private:
    std::shared_ptr<Menu> submenu_;
};

class View : public InterfaceObject {
public:
    virtual QList<std::shared_ptr<View>> subviews() const { return subviews_; }
    void setSubviews(QList<std::shared_ptr<View>> subviews) { subviews_ = std::move(subviews); }

private:
    QList<std::shared_ptr<View>> subviews_;
};

class Box : public View {};

// A control's value tied to a key path of another object of the interface.
struct Binding {
    InterfaceObjectPtr object;
    QString keyPath;
    QVariantMap options; // keyed as in the interface file: "NSDisplayPattern", "NSNullPlaceholder", …
};

inline constexpr char valueBinding[] = "value";
inline constexpr char displayPatternValue1Binding[] = "displayPatternValue1";
inline constexpr char displayPatternBindingOption[] = "NSDisplayPattern";

class Control : public View {
public:
    virtual std::shared_ptr<Cell> cell() const { return cell_; }
    void setCell(std::shared_ptr<Cell> cell) { cell_ = std::move(cell); }

    // nullopt when the control does not expose `name` or it is not bound.
    virtual std::optional<Binding> binding(const QString& name) const;
    // Binding a bound name again replaces its binding.
    virtual void bind(const QString& name, const Binding& binding) { bindings_.insert(name, binding); }

private:
    std::shared_ptr<Cell> cell_;
    QHash<QString, Binding> bindings_;
};

// Also the outlet through which the plug-in shows its own texts.
class TextField : public Control {
public:
    virtual void setStringValue(const QString& text) { Control::setText(TextProperty::stringValue, text); }
    virtual QString stringValue() const {
        return Control::text(TextProperty::stringValue).value_or(QString());
    }

    // The string value always goes through the two functions above, whichever a subclass overrides.
    std::optional<QString> text(TextProperty property) const override;
    void setText(TextProperty property, const QString& text) override;
};

class PathControl : public Control {};

class Button : public Control {};

class PopUpButton : public Button {
public:
    virtual std::shared_ptr<Menu> menu() const { return menu_; }
    void setMenu(std::shared_ptr<Menu> menu) { menu_ = std::move(menu); }

private:
    std::shared_ptr<Menu> menu_;
};

class Matrix : public Control {
public:
    virtual QList<std::shared_ptr<Cell>> cells() const { return cells_; }
    void setCells(QList<std::shared_ptr<Cell>> cells) { cells_ = std::move(cells); }
    // A cell's tool tip belongs to the matrix, not to the cell.
    virtual QString toolTipForCell(const Cell& cell) const { return toolTips_.value(&cell); }
    virtual void setToolTipForCell(const QString& toolTip, const Cell& cell) {
        toolTips_.insert(&cell, toolTip);
    }

private:
    QList<std::shared_ptr<Cell>> cells_;
    QHash<const Cell*, QString> toolTips_;
};

class SegmentedControl : public Control {
public:
    struct Segment {
        QString label;
        QString toolTip;
        std::shared_ptr<Menu> menu;
    };

    virtual int segmentCount() const { return static_cast<int>(segments_.size()); }
    virtual QString label(int segment) const { return segments_.value(segment).label; }
    virtual void setLabel(const QString& label, int segment);
    // Kept by the control's cell where the toolkit has one; an adapter forwards there.
    virtual QString toolTip(int segment) const { return segments_.value(segment).toolTip; }
    virtual void setToolTip(const QString& toolTip, int segment);
    virtual std::shared_ptr<Menu> menu(int segment) const { return segments_.value(segment).menu; }
    void setSegments(QList<Segment> segments) { segments_ = std::move(segments); }

private:
    QList<Segment> segments_;
};

class TableColumn;

class TableView : public Control {
public:
    virtual QList<std::shared_ptr<TableColumn>> tableColumns() const { return columns_; }
    void setTableColumns(QList<std::shared_ptr<TableColumn>> columns) { columns_ = std::move(columns); }
    virtual int numberOfRows() const { return rows_; }
    void setNumberOfRows(int rows) { rows_ = rows; }
    // The cell that draws `row` of `column`, filled with that row's value.
    virtual std::shared_ptr<Cell> preparedCell(int column, int row) const {
        return prepared_.value({column, row});
    }
    void setPreparedCell(int column, int row, std::shared_ptr<Cell> cell) {
        prepared_.insert({column, row}, std::move(cell));
    }

private:
    QList<std::shared_ptr<TableColumn>> columns_;
    int rows_ = 0;
    QHash<std::pair<int, int>, std::shared_ptr<Cell>> prepared_;
};

class TabViewItem;

class TabView : public View {
public:
    virtual QList<std::shared_ptr<TabViewItem>> tabViewItems() const { return items_; }
    void setTabViewItems(QList<std::shared_ptr<TabViewItem>> items) { items_ = std::move(items); }

private:
    QList<std::shared_ptr<TabViewItem>> items_;
};

class Window : public InterfaceObject {
public:
    virtual std::shared_ptr<View> contentView() const { return contentView_; }
    void setContentView(std::shared_ptr<View> view) { contentView_ = std::move(view); }

private:
    std::shared_ptr<View> contentView_;
};

class TabViewItem : public InterfaceObject {
public:
    virtual std::shared_ptr<View> view() const { return view_; }
    void setView(std::shared_ptr<View> view) { view_ = std::move(view); }

private:
    std::shared_ptr<View> view_;
};

// Its tool tip is the one its header shows.
class TableColumn : public InterfaceObject {
public:
    virtual std::shared_ptr<Cell> headerCell() const { return headerCell_; }
    void setHeaderCell(std::shared_ptr<Cell> cell) { headerCell_ = std::move(cell); }

private:
    std::shared_ptr<Cell> headerCell_;
};

} // namespace qm::host
