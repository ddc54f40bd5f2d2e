#include "plugin/interface_localizer.h"

#include <QDir>
#include <QFileInfo>

namespace qm::plugin {

using host::TextProperty;

namespace {

// No real translation is this text, so getting it back means the table has no entry.
const QString missingMarker = QStringLiteral("I AM THE DEFAULT VALUE");

// The "value" binding's texts shown in place of an empty, mixed or unselected value.
const char* const placeholderBindingOptions[] = {"NSNullPlaceholder", "NSNoSelectionPlaceholder",
                                                 "NSMultipleValuesPlaceholder", "NSNotApplicablePlaceholder"};

} // namespace

QString InterfaceLocalizer::translationTable(const QString& path) const {
    const QString table = QFileInfo(path).completeBaseName();
    const QString tablePath = bundle_.pathForResource(table, QStringLiteral("strings"));
    // The interface files are written in English already.
    if (tablePath.isNull() || QFileInfo(tablePath).dir().dirName() == QStringLiteral("en.lproj"))
        return {};
    return table;
}

bool InterfaceLocalizer::loadAndTranslate(const QString& path, QVariantMap nameTable, const QString& table,
                                          const SystemLoaders& system) const {
    host::InterfaceArrayPtr topLevelObjects = host::topLevelObjectsFromNameTable(nameTable);
    if (!topLevelObjects) {
        topLevelObjects = std::make_shared<host::InterfaceArray>();
        nameTable.insert(QString::fromLatin1(host::interface_loading::topLevelObjectsKey),
                         QVariant::fromValue(topLevelObjects));
    }
    const bool loaded = system.loadNibFile(path, nameTable);
    localizeStringsInObject(topLevelObjects.get(), table);
    return loaded;
}

bool InterfaceLocalizer::loadNibNamed(const QString& name, const host::InterfaceOwnerPtr& owner,
                                      const SystemLoaders& system) const {
    const QString path = host::interfaceFileInBundle(bundle_, name);
    const QString table = path.isNull() ? QString() : translationTable(path);
    if (table.isNull())
        return system.loadNibNamed(name, owner);
    return loadAndTranslate(
        path, {{QString::fromLatin1(host::interface_loading::ownerKey), QVariant::fromValue(owner)}}, table,
        system);
}

bool InterfaceLocalizer::loadNibFile(const QString& path, const QVariantMap& nameTable,
                                     const SystemLoaders& system) const {
    const QString file = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const bool inBundle =
        file.startsWith(QDir::cleanPath(QFileInfo(bundle_.bundlePath()).absoluteFilePath()) + u'/');
    const QString table = inBundle ? translationTable(file) : QString();
    if (table.isNull())
        return system.loadNibFile(path, nameTable);
    return loadAndTranslate(path, nameTable, table, system);
}

QString InterfaceLocalizer::localizedStringForString(const QString& text, const QString& table) const {
    if (text.isEmpty())
        return {};
    const QString translation = bundle_.localizedString(text, missingMarker, table);
    return translation == missingMarker ? text : translation;
}

void InterfaceLocalizer::localizeText(host::InterfaceObject* object, TextProperty property,
                                      const QString& table) const {
    if (!object)
        return;
    const std::optional<QString> text = object->text(property);
    if (!text)
        return;
    const QString translation = localizedStringForString(*text, table);
    if (!translation.isNull())
        object->setText(property, translation);
}

void InterfaceLocalizer::localizeTitleOfObject(host::InterfaceObject* object, const QString& table) const {
    localizeText(object, TextProperty::title, table);
}

void InterfaceLocalizer::localizeAlternateTitleOfObject(host::InterfaceObject* object,
                                                        const QString& table) const {
    localizeText(object, TextProperty::alternateTitle, table);
}

void InterfaceLocalizer::localizeStringValueOfObject(host::InterfaceObject* object,
                                                     const QString& table) const {
    localizeText(object, TextProperty::stringValue, table);
}

void InterfaceLocalizer::localizePlaceholderStringOfObject(host::InterfaceObject* object,
                                                           const QString& table) const {
    localizeText(object, TextProperty::placeholderString, table);
}

void InterfaceLocalizer::localizeToolTipOfObject(host::InterfaceObject* object, const QString& table) const {
    localizeText(object, TextProperty::toolTip, table);
}

void InterfaceLocalizer::localizeLabelOfObject(host::InterfaceObject* object, const QString& table) const {
    localizeText(object, TextProperty::label, table);
}

void InterfaceLocalizer::localizeStringsInObject(host::InterfaceObject* object, const QString& table) const {
    if (auto* array = dynamic_cast<host::InterfaceArray*>(object)) {
        localizeEach(array->elements(), table);
    } else if (auto* cell = dynamic_cast<host::Cell*>(object)) {
        localizeCell(*cell, table);
    } else if (auto* menu = dynamic_cast<host::Menu*>(object)) {
        localizeTitleOfObject(menu, table);
        localizeEach(menu->items(), table);
    } else if (auto* item = dynamic_cast<host::MenuItem*>(object)) {
        localizeTitleOfObject(item, table);
        localizeToolTipOfObject(item, table);
        localizeStringsInObject(item->submenu().get(), table);
    } else if (auto* view = dynamic_cast<host::View*>(object)) {
        localizeToolTipOfObject(view, table);
        localizeView(*view, table);
        localizeEach(view->subviews(), table);
    } else if (auto* window = dynamic_cast<host::Window*>(object)) {
        localizeTitleOfObject(window, table);
        localizeStringsInObject(window->contentView().get(), table);
    } else if (auto* tabViewItem = dynamic_cast<host::TabViewItem*>(object)) {
        localizeLabelOfObject(tabViewItem, table);
        localizeStringsInObject(tabViewItem->view().get(), table);
    } else if (auto* column = dynamic_cast<host::TableColumn*>(object)) {
        localizeTitleOfObject(column->headerCell().get(), table);
    }
}

void InterfaceLocalizer::localizeCell(host::Cell& cell, const QString& table) const {
    switch (cell.kind()) {
    case host::CellKind::plain:
        return;
    case host::CellKind::button:
        // It shows no text; its title, often empty, is not the user's to read.
        if (cell.isImageOnly())
            return;
        localizeTitleOfObject(&cell, table);
        localizeStringValueOfObject(&cell, table);
        localizeAlternateTitleOfObject(&cell, table);
        return;
    case host::CellKind::path:
    case host::CellKind::tokenField:
        localizePlaceholderStringOfObject(&cell, table);
        return;
    case host::CellKind::textField:
        localizeStringValueOfObject(&cell, table);
        localizePlaceholderStringOfObject(&cell, table);
        return;
    case host::CellKind::action:
        if (cell.type() == host::textCellType) {
            localizeTitleOfObject(&cell, table);
            localizeStringValueOfObject(&cell, table);
        }
        return;
    }
}

void InterfaceLocalizer::localizeView(host::View& view, const QString& table) const {
    // Special kinds of control come before the kinds they refine.
    if (dynamic_cast<host::Box*>(&view)) {
        localizeTitleOfObject(&view, table);
    } else if (dynamic_cast<host::TextField*>(&view) || dynamic_cast<host::PathControl*>(&view)) {
        localizeBindings(static_cast<host::Control&>(view), table);
    } else if (auto* popUp = dynamic_cast<host::PopUpButton*>(&view)) {
        if (const auto menu = popUp->menu())
            localizeEach(menu->items(), table);
    } else if (auto* button = dynamic_cast<host::Button*>(&view)) {
        localizeStringsInObject(button->cell().get(), table);
    } else if (auto* matrix = dynamic_cast<host::Matrix*>(&view)) {
        const auto cells = matrix->cells();
        localizeEach(cells, table);
        for (const auto& cell : cells) {
            if (!cell)
                continue;
            const QString toolTip = localizedStringForString(matrix->toolTipForCell(*cell), table);
            if (!toolTip.isNull())
                matrix->setToolTipForCell(toolTip, *cell);
        }
    } else if (auto* segmented = dynamic_cast<host::SegmentedControl*>(&view)) {
        for (int segment = 0; segment < segmented->segmentCount(); ++segment) {
            if (const QString label = localizedStringForString(segmented->label(segment), table);
                !label.isNull())
                segmented->setLabel(label, segment);
            if (const QString tip = localizedStringForString(segmented->toolTip(segment), table);
                !tip.isNull())
                segmented->setToolTip(tip, segment);
            localizeStringsInObject(segmented->menu(segment).get(), table);
        }
    } else if (auto* tableView = dynamic_cast<host::TableView*>(&view)) {
        const auto columns = tableView->tableColumns();
        for (const auto& column : columns) {
            if (!column)
                continue;
            localizeStringValueOfObject(column->headerCell().get(), table);
            localizeToolTipOfObject(column.get(), table);
        }
        const int rows = tableView->numberOfRows();
        for (int column = 0; column < columns.size(); ++column)
            for (int row = 0; row < rows; ++row)
                localizeStringsInObject(tableView->preparedCell(column, row).get(), table);
    } else if (auto* control = dynamic_cast<host::Control*>(&view)) {
        localizeStringsInObject(control->cell().get(), table);
    } else if (auto* tabView = dynamic_cast<host::TabView*>(&view)) {
        localizeEach(tabView->tabViewItems(), table);
    }
}

void InterfaceLocalizer::localizeBindings(host::Control& control, const QString& table) const {
    const QString patternBinding = QString::fromLatin1(host::displayPatternValue1Binding);
    if (auto pattern = control.binding(patternBinding)) {
        const QString key = QString::fromLatin1(host::displayPatternBindingOption);
        if (const QString translated =
                localizedStringForString(pattern->options.value(key).toString(), table);
            !translated.isNull())
            pattern->options.insert(key, translated);
        control.bind(patternBinding, *pattern);
    }
    const QString valueBinding = QString::fromLatin1(host::valueBinding);
    if (auto value = control.binding(valueBinding)) {
        // Only the texts a user sees in place of a value; the others are not language.
        for (const char* option : placeholderBindingOptions) {
            const QString key = QString::fromLatin1(option);
            const QVariant placeholder = value->options.value(key);
            if (placeholder.typeId() != QMetaType::QString)
                continue;
            if (const QString translated = localizedStringForString(placeholder.toString(), table);
                !translated.isNull())
                value->options.insert(key, translated);
        }
        control.bind(valueBinding, *value);
    }
}

host::Class* LocalizingLoaders::defineCategoryClass(host::Runtime& runtime, const platform::Bundle& bundle) {
    host::Class* category = runtime.addClass(QString::fromLatin1(categoryClassName));
    if (!category)
        return nullptr;
    // Once merged and exchanged, the plug-in's names call the host's own loaders.
    auto systemLoaders = [](const host::Class& loadingClass) {
        return InterfaceLocalizer::SystemLoaders{
            [&loadingClass](const QString& name, const host::InterfaceOwnerPtr& owner) {
                return loadingClass
                    .invokeClassMethod(QString::fromLatin1(loadNibNamedSelector),
                                       {name, QVariant::fromValue(owner)})
                    .toBool();
            },
            [&loadingClass](const QString& path, const QVariantMap& nameTable) {
                return loadingClass
                    .invokeClassMethod(QString::fromLatin1(loadNibFileSelector),
                                       {path, nameTable, QVariant()})
                    .toBool();
            }};
    };
    category->addClassMethod(
        QString::fromLatin1(loadNibNamedSelector), [&bundle, systemLoaders](const host::Invocation& call) {
            return QVariant(InterfaceLocalizer(bundle).loadNibNamed(
                call.argument(0).toString(), call.argument(1).value<host::InterfaceOwnerPtr>(),
                systemLoaders(call.receiverClass)));
        });
    category->addClassMethod(
        QString::fromLatin1(loadNibFileSelector), [&bundle, systemLoaders](const host::Invocation& call) {
            return QVariant(InterfaceLocalizer(bundle).loadNibFile(
                call.argument(0).toString(), call.argument(1).toMap(), systemLoaders(call.receiverClass)));
        });
    return category;
}

} // namespace qm::plugin
