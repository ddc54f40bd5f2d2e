#include "plugin/interface_localizer.h"

#include "platform/property_list.h"
#include "support/test_host.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::plugin {
namespace {

using TP = host::TextProperty;
using K = host::CellKind;
using Texts = std::initializer_list<std::pair<TP, QString>>;

// Every text the German table knows; each becomes "<text> [de]".
const QStringList known =
    QStringLiteral("Window|Window tip|Box|Button|Button value|Button alt|Path placeholder|"
                   "Token placeholder|Field value|Field placeholder|Action title|Action value|"
                   "Menu|Item|Item tip|Submenu|Subitem|Popup item|Matrix cell|Matrix tip|"
                   "Segment|Segment tip|Segment item|Header|Header tip|Row|Tab|"
                   "Tab content tip|Value: %{value1}@|No value|Control cell|Cancel")
        .split(u'|');

QString de(const QString& text) {
    return text + QStringLiteral(" [de]");
}

QString textOf(const host::InterfaceObject& object, TP property) {
    return object.text(property).value_or(QStringLiteral("<none>"));
}

template <typename T> std::shared_ptr<T> with(std::shared_ptr<T> object, Texts texts) {
    for (const auto& [property, text] : texts)
        object->setText(property, text);
    return object;
}
template <typename T> std::shared_ptr<T> make(Texts texts = {}) {
    return with(std::make_shared<T>(), texts);
}
std::shared_ptr<host::Cell> cell(K kind, Texts texts, int type = host::textCellType) {
    return with(std::make_shared<host::Cell>(kind, type), texts);
}

// The texts of `object` in `translated` came out in German, those in `kept` as they were.
void expectTexts(const host::InterfaceObject& object, Texts translated, Texts kept = {}) {
    for (const auto& [property, text] : translated)
        EXPECT_EQ(textOf(object, property), de(text));
    for (const auto& [property, text] : kept)
        EXPECT_EQ(textOf(object, property), text);
}

// The host's loader: records each file loaded and hands out the objects the test prepared.
class RecordingLoader final : public host::UiServices {
public:
    QStringList loads;
    QList<host::InterfaceObjectPtr> objects;

    std::optional<host::LoadedInterface> loadInterface(const QString& path,
                                                       const host::InterfaceActions&) override {
        loads.append(path);
        host::LoadedInterface loaded;
        for (const auto& object : objects)
            loaded.addTopLevelObject(object);
        return loaded;
    }
    void beginAlertSheet(const host::AlertRequest&, const host::ObjectPtr&,
                         std::function<void(int)>) override {}
    host::AlertResponse runModalAlert(const host::AlertRequest&) override { return {}; }
    bool openUrl(const QUrl&) override { return false; }
    void beginSheet(const std::shared_ptr<host::Panel>&, const host::ObjectPtr&,
                    std::function<void(int)>) override {}
    void endSheet(const std::shared_ptr<host::Panel>&, int) override {}
};

// A host runtime whose loading class has the plug-in's loaders in front of its own, as start-up leaves it.
struct LoadingRuntime {
    LoadingRuntime(host::UiServices& ui, const platform::Bundle& plugin) {
        host::defineInterfaceLoadingClass(runtime, ui);
        putPluginInFront(runtime, plugin);
    }
    static void putPluginInFront(host::Runtime& runtime, const platform::Bundle& plugin) {
        host::Class* loading = runtime.classNamed(QString::fromLatin1(host::interface_loading::className));
        ASSERT_NE(loading, nullptr);
        loading->addMethodsFrom(*LocalizingLoaders::defineCategoryClass(runtime, plugin));
        ASSERT_TRUE(loading->exchangeClassMethods(host::interface_loading::loadNibNamed,
                                                  LocalizingLoaders::loadNibNamedSelector));
        ASSERT_TRUE(loading->exchangeClassMethods(host::interface_loading::loadNibFile,
                                                  LocalizingLoaders::loadNibFileSelector));
    }
    bool loadNamed(const QString& name, const host::InterfaceOwnerPtr& owner) {
        return host::loadInterfaceNamed(runtime, name, owner);
    }
    bool loadFile(const QString& path, const QVariantMap& nameTable) {
        return runtime.classNamed(QString::fromLatin1(host::interface_loading::className))
            ->invokeClassMethod(host::interface_loading::loadNibFile, {path, nameTable, QVariant()})
            .toBool();
    }
    host::Runtime runtime;
};

// A bundle with the interface "Panel" in Base.lproj, a German table for it, and an English one that would
// give itself away if it were ever used.
class InterfaceLocalizerTest : public ::testing::Test {
protected:
    // Before any member bundle: a bundle reads its folder list once, when made.
    QString makeBundle() {
        const QString bundle = dir.filePath(QStringLiteral("Test.bundle"));
        const QString resources = bundle + QStringLiteral("/Contents/Resources/");
        test::writeFile(bundle + QStringLiteral("/Contents/Info.plist"),
                        platform::plist::toXml(
                            QVariantMap{{"CFBundleName", "Test"}, {"CFBundleDevelopmentRegion", "en"}}));
        test::writeFile(resources + QStringLiteral("Base.lproj/Panel.ui"), "<ui version=\"4.0\"/>");
        test::writeFile(resources + QStringLiteral("Base.lproj/Untranslated.ui"), "<ui version=\"4.0\"/>");
        QByteArray german, english;
        for (const QString& text : known) {
            german += '"' + text.toUtf8() + "\" = \"" + de(text).toUtf8() + "\";\n";
            english += '"' + text.toUtf8() + "\" = \"" + text.toUtf8() + " [en]\";\n";
        }
        test::writeFile(resources + QStringLiteral("de.lproj/Panel.strings"), german);
        test::writeFile(resources + QStringLiteral("en.lproj/Panel.strings"), english);
        // A table without an interface file: the host's own interface of that name is not the plug-in's.
        test::writeFile(resources + QStringLiteral("de.lproj/HostsOwn.strings"), german);
        return bundle;
    }

    void walk(const host::InterfaceObjectPtr& object) {
        localizer.localizeStringsInObject(object.get(), table);
    }
    QString translate(const QString& text) { return localizer.localizedStringForString(text, table); }

    QTemporaryDir dir;
    const QString bundlePath = makeBundle();
    platform::Bundle german{bundlePath, {QStringLiteral("de")}};
    RecordingLoader loader;
    InterfaceLocalizer localizer{german};
    const QString table = QStringLiteral("Panel");
};

TEST_F(InterfaceLocalizerTest, StringsTranslateOrStayAndHelpersTouchOnlyWhatAnObjectHas) {
    EXPECT_EQ(translate("Cancel"), de("Cancel"));
    EXPECT_EQ(translate("Unlisted"), "Unlisted");
    EXPECT_TRUE(translate(QString()).isNull());
    EXPECT_TRUE(translate("").isNull());
    // The placeholder for a missing entry never leaks out, even when asked for itself.
    EXPECT_EQ(translate("I AM THE DEFAULT VALUE"), "I AM THE DEFAULT VALUE");

    auto object =
        make<host::InterfaceObject>({{TP::title, "Window"}, {TP::label, ""}, {TP::toolTip, "Unlisted"}});
    for (auto helper :
         {&InterfaceLocalizer::localizeTitleOfObject, &InterfaceLocalizer::localizeAlternateTitleOfObject,
          &InterfaceLocalizer::localizeStringValueOfObject,
          &InterfaceLocalizer::localizePlaceholderStringOfObject,
          &InterfaceLocalizer::localizeToolTipOfObject, &InterfaceLocalizer::localizeLabelOfObject})
        (localizer.*helper)(object.get(), table);
    localizer.localizeTitleOfObject(nullptr, table);
    expectTexts(*object, {{TP::title, "Window"}}, {{TP::label, ""}, {TP::toolTip, "Unlisted"}});
    for (TP absent : {TP::alternateTitle, TP::stringValue, TP::placeholderString})
        EXPECT_FALSE(object->text(absent));
}

TEST_F(InterfaceLocalizerTest, CellsByKind) {
    auto button =
        cell(K::button,
             {{TP::title, "Button"}, {TP::stringValue, "Button value"}, {TP::alternateTitle, "Button alt"}});
    auto imageOnly = cell(K::button, {{TP::title, "Button"}});
    imageOnly->setImageOnly(true);
    auto path = cell(K::path, {{TP::placeholderString, "Path placeholder"}, {TP::title, "Button"}});
    auto token =
        cell(K::tokenField, {{TP::placeholderString, "Token placeholder"}, {TP::stringValue, "Field value"}});
    auto field =
        cell(K::textField, {{TP::stringValue, "Field value"}, {TP::placeholderString, "Field placeholder"}});
    auto textAction = cell(K::action, {{TP::title, "Action title"}, {TP::stringValue, "Action value"}});
    auto imageAction = cell(K::action, {{TP::title, "Action title"}}, host::imageCellType);
    auto plain = cell(K::plain, {{TP::title, "Action title"}});
    walk(std::make_shared<host::InterfaceArray>(QList<host::InterfaceObjectPtr>{
        button, imageOnly, path, token, field, textAction, imageAction, plain}));

    expectTexts(
        *button,
        {{TP::title, "Button"}, {TP::stringValue, "Button value"}, {TP::alternateTitle, "Button alt"}});
    expectTexts(*imageOnly, {}, {{TP::title, "Button"}});
    expectTexts(*path, {{TP::placeholderString, "Path placeholder"}}, {{TP::title, "Button"}});
    expectTexts(*token, {{TP::placeholderString, "Token placeholder"}}, {{TP::stringValue, "Field value"}});
    expectTexts(*field, {{TP::stringValue, "Field value"}, {TP::placeholderString, "Field placeholder"}});
    expectTexts(*textAction, {{TP::title, "Action title"}, {TP::stringValue, "Action value"}});
    expectTexts(*imageAction, {}, {{TP::title, "Action title"}});
    expectTexts(*plain, {}, {{TP::title, "Action title"}});
}

TEST_F(InterfaceLocalizerTest, MenusWithSubmenusAndPopUpButtons) {
    auto subitem = make<host::MenuItem>({{TP::title, "Subitem"}, {TP::toolTip, "Unlisted"}});
    auto submenu = make<host::Menu>({{TP::title, "Submenu"}});
    submenu->setItems({subitem});
    auto item = make<host::MenuItem>({{TP::title, "Item"}, {TP::toolTip, "Item tip"}});
    item->setSubmenu(submenu);
    auto menu = make<host::Menu>({{TP::title, "Menu"}});
    menu->setItems({item, make<host::MenuItem>()});
    walk(menu);
    expectTexts(*menu, {{TP::title, "Menu"}});
    expectTexts(*item, {{TP::title, "Item"}, {TP::toolTip, "Item tip"}});
    expectTexts(*submenu, {{TP::title, "Submenu"}});
    expectTexts(*subitem, {{TP::title, "Subitem"}}, {{TP::toolTip, "Unlisted"}});

    // A pop-up button's menu is reached for its items only.
    auto popUpMenu = make<host::Menu>({{TP::title, "Menu"}});
    auto popUpItem = make<host::MenuItem>({{TP::title, "Popup item"}});
    popUpMenu->setItems({popUpItem});
    auto popUp = make<host::PopUpButton>();
    popUp->setMenu(popUpMenu);
    walk(popUp);
    expectTexts(*popUpItem, {{TP::title, "Popup item"}});
    expectTexts(*popUpMenu, {}, {{TP::title, "Menu"}});
}

TEST_F(InterfaceLocalizerTest, WindowContentBoxesButtonsTabsAndOtherControls) {
    auto buttonCell = cell(K::button, {{TP::title, "Button"}});
    auto button = make<host::Button>({{TP::toolTip, "Window tip"}});
    button->setCell(buttonCell);
    auto controlCell = cell(K::textField, {{TP::stringValue, "Control cell"}});
    auto control = make<host::Control>();
    control->setCell(controlCell);
    auto inside = make<host::View>({{TP::toolTip, "Tab content tip"}});
    auto tab = make<host::TabViewItem>({{TP::label, "Tab"}});
    tab->setView(inside);
    auto tabs = make<host::TabView>();
    tabs->setTabViewItems({tab, make<host::TabViewItem>()});
    auto box = make<host::Box>({{TP::title, "Box"}});
    box->setSubviews({button, control, tabs});
    auto content = make<host::View>({{TP::toolTip, "Window tip"}, {TP::title, "Box"}});
    content->setSubviews({box});
    auto window = make<host::Window>({{TP::title, "Window"}, {TP::toolTip, "Window tip"}});
    window->setContentView(content);
    walk(window);
    expectTexts(*window, {{TP::title, "Window"}},
                {{TP::toolTip, "Window tip"}});                                 // windows have no tip to show
    expectTexts(*content, {{TP::toolTip, "Window tip"}}, {{TP::title, "Box"}}); // only boxes show a title
    expectTexts(*box, {{TP::title, "Box"}});
    expectTexts(*button, {{TP::toolTip, "Window tip"}});
    expectTexts(*buttonCell, {{TP::title, "Button"}});
    expectTexts(*controlCell, {{TP::stringValue, "Control cell"}});
    expectTexts(*tab, {{TP::label, "Tab"}});
    expectTexts(*inside, {{TP::toolTip, "Tab content tip"}});
}

TEST_F(InterfaceLocalizerTest, MatrixCellsAndSegmentsWithTheirToolTips) {
    auto first = cell(K::button, {{TP::title, "Matrix cell"}});
    auto second = cell(K::button, {{TP::title, "Unlisted"}});
    auto matrix = make<host::Matrix>();
    matrix->setCells({first, second});
    matrix->setToolTipForCell(QStringLiteral("Matrix tip"), *first);
    walk(matrix);
    expectTexts(*first, {{TP::title, "Matrix cell"}});
    expectTexts(*second, {}, {{TP::title, "Unlisted"}});
    EXPECT_EQ(matrix->toolTipForCell(*first), de("Matrix tip"));
    EXPECT_TRUE(matrix->toolTipForCell(*second).isEmpty());

    auto segmentItem = make<host::MenuItem>({{TP::title, "Segment item"}});
    auto segmentMenu = make<host::Menu>();
    segmentMenu->setItems({segmentItem});
    auto segmented = make<host::SegmentedControl>();
    segmented->setSegments({{"Segment", "Segment tip", segmentMenu}, {"Unlisted", QString(), nullptr}});
    walk(segmented);
    EXPECT_EQ(segmented->label(0), de("Segment"));
    EXPECT_EQ(segmented->toolTip(0), de("Segment tip"));
    expectTexts(*segmentItem, {{TP::title, "Segment item"}});
    EXPECT_EQ(segmented->label(1), "Unlisted");
    EXPECT_TRUE(segmented->toolTip(1).isNull());
}

TEST_F(InterfaceLocalizerTest, TableViewHeadersAndEveryPreparedCell) {
    auto header = cell(K::textField, {{TP::stringValue, "Header"}, {TP::title, "Header"}});
    auto column = make<host::TableColumn>({{TP::toolTip, "Header tip"}});
    column->setHeaderCell(header);
    auto table = make<host::TableView>();
    table->setTableColumns({column, make<host::TableColumn>()});
    table->setNumberOfRows(2);
    QList<std::shared_ptr<host::Cell>> prepared;
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 2; ++r)
            table->setPreparedCell(c, r,
                                   prepared.emplaceBack(cell(K::textField, {{TP::stringValue, "Row"}})));
    walk(table);
    expectTexts(*header, {{TP::stringValue, "Header"}},
                {{TP::title, "Header"}}); // a column's title is its own
    expectTexts(*column, {{TP::toolTip, "Header tip"}});
    for (const auto& rowCell : prepared)
        expectTexts(*rowCell, {{TP::stringValue, "Row"}});
    walk(column); // a column met on its own: the title of its header
    expectTexts(*header, {{TP::title, "Header"}});
}

// Counts the bindings made, so a binding made again with equal options still shows.
class BindingTextField final : public host::TextField {
public:
    void bind(const QString& name, const host::Binding& binding) override {
        ++binds;
        TextField::bind(name, binding);
    }
    int binds = 0;
};

TEST_F(InterfaceLocalizerTest, TextFieldsAndPathControlsAreReboundWithTranslatedOptions) {
    auto controller = std::make_shared<host::InterfaceObject>();
    auto field = std::make_shared<BindingTextField>();
    field->setStringValue("Field value");
    field->setText(TP::placeholderString, "Field placeholder");
    field->TextField::bind("displayPatternValue1", {controller,
                                                    "selection.size",
                                                    {{"NSDisplayPattern", "Value: %{value1}@"},
                                                     {"NSRaisesForNotApplicableKeys", true}}});
    field->TextField::bind("value",
                           {controller,
                            "selection.name",
                            {{"NSNullPlaceholder", "No value"}, {"NSContinuouslyUpdatesValue", true}}});
    walk(field);
    EXPECT_EQ(field->binds, 2);
    for (const auto& [name, keyPath, option, text, other] :
         {std::tuple{"displayPatternValue1", "selection.size", "NSDisplayPattern", "Value: %{value1}@",
                     "NSRaisesForNotApplicableKeys"},
          std::tuple{"value", "selection.name", "NSNullPlaceholder", "No value",
                     "NSContinuouslyUpdatesValue"}}) {
        const auto binding = field->binding(name);
        ASSERT_TRUE(binding) << name;
        EXPECT_EQ(binding->object, controller);
        EXPECT_EQ(binding->keyPath, keyPath);
        EXPECT_EQ(binding->options.value(option).toString(), de(text));
        EXPECT_TRUE(binding->options.value(other).toBool());
    }
    // A text field's own texts are left to its bindings and to the code that fills it.
    EXPECT_EQ(field->stringValue(), "Field value");
    expectTexts(*field, {}, {{TP::placeholderString, "Field placeholder"}});

    auto path = make<host::PathControl>();
    path->bind("value", {controller, "selection.path", {{"NSNullPlaceholder", "No value"}}});
    walk(path);
    EXPECT_EQ(path->binding("value")->options.value("NSNullPlaceholder").toString(), de("No value"));
    auto unbound = std::make_shared<BindingTextField>();
    walk(unbound);
    EXPECT_EQ(unbound->binds, 0);
}

TEST_F(InterfaceLocalizerTest, ArraysNestAndSkipNulls) {
    auto window = make<host::Window>({{TP::title, "Window"}});
    auto menu = make<host::Menu>({{TP::title, "Menu"}});
    auto inner = std::make_shared<host::InterfaceArray>(QList<host::InterfaceObjectPtr>{menu, nullptr});
    walk(std::make_shared<host::InterfaceArray>(QList<host::InterfaceObjectPtr>{window, nullptr, inner}));
    expectTexts(*window, {{TP::title, "Window"}});
    expectTexts(*menu, {{TP::title, "Menu"}});
    walk(nullptr);
    walk(std::make_shared<host::InterfaceArray>());
}

TEST_F(InterfaceLocalizerTest, LoadingByNameTranslatesOnlyThePlugInsOwnInterfacesInAForeignLanguage) {
    auto window = make<host::Window>({{TP::title, "Window"}});
    loader.objects = {window};
    const QString panelFile = bundlePath + QStringLiteral("/Contents/Resources/Base.lproj/Panel.ui");
    auto owner = [](const QString& bundle) {
        return std::make_shared<host::InterfaceOwner>(host::InterfaceOwner{bundle, {}, {}});
    };

    // English, an interface without a table, and another bundle's interface that the plug-in has a table
    // for: the host's loading alone.
    const platform::Bundle english(bundlePath, {QStringLiteral("en")});
    EXPECT_TRUE(LoadingRuntime(loader, english).loadNamed("Panel", owner(bundlePath)));
    LoadingRuntime loading(loader, german);
    EXPECT_TRUE(loading.loadNamed("Untranslated", owner(bundlePath)));
    const QString hostBundle = dir.filePath(QStringLiteral("Host.bundle"));
    test::writeFile(hostBundle + QStringLiteral("/Contents/Resources/Base.lproj/HostsOwn.ui"),
                    "<ui version=\"4.0\"/>");
    EXPECT_TRUE(loading.loadNamed("HostsOwn", owner(hostBundle)));
    EXPECT_FALSE(loading.loadNamed("Missing", owner(bundlePath)));
    expectTexts(*window, {}, {{TP::title, "Window"}});

    loader.objects.append(make<host::Menu>({{TP::title, "Unlisted"}}));
    const auto panelOwner = owner(bundlePath);
    ASSERT_TRUE(loading.loadNamed("Panel", panelOwner));
    ASSERT_TRUE(panelOwner->loaded);
    EXPECT_EQ(panelOwner->loaded->topLevelObjects().size(), 2);
    expectTexts(*window, {{TP::title, "Window"}});
    EXPECT_EQ(
        loader.loads,
        (QStringList{panelFile, bundlePath + QStringLiteral("/Contents/Resources/Base.lproj/Untranslated.ui"),
                     hostBundle + QStringLiteral("/Contents/Resources/Base.lproj/HostsOwn.ui"), panelFile}));
}

TEST_F(InterfaceLocalizerTest, LoadingByFileCollectsTheTopLevelObjectsInTheCallersTableOrACopy) {
    LoadingRuntime loading(loader, german);
    const QString panelFile = bundlePath + QStringLiteral("/Contents/Resources/Base.lproj/Panel.ui");
    auto first = make<host::Window>({{TP::title, "Window"}});
    loader.objects = {first};

    auto collected = std::make_shared<host::InterfaceArray>();
    auto owner = std::make_shared<host::InterfaceOwner>();
    const QVariantMap table{{host::interface_loading::ownerKey, QVariant::fromValue(owner)},
                            {host::interface_loading::topLevelObjectsKey, QVariant::fromValue(collected)}};
    ASSERT_TRUE(loading.loadFile(panelFile, table));
    EXPECT_EQ(collected->elements(), QList<host::InterfaceObjectPtr>{first});
    ASSERT_TRUE(owner->loaded);
    expectTexts(*first, {{TP::title, "Window"}});

    auto second = make<host::Window>({{TP::title, "Window"}});
    loader.objects = {second};
    ASSERT_TRUE(loading.loadFile(panelFile, {})); // no array of the caller's: translated all the same
    expectTexts(*second, {{TP::title, "Window"}});

    // A file of that name outside the plug-in bundle is not the plug-in's to translate.
    const QString foreign = dir.filePath(QStringLiteral("elsewhere/Panel.ui"));
    test::writeFile(foreign, "<ui version=\"4.0\"/>");
    auto third = make<host::Window>({{TP::title, "Window"}});
    loader.objects = {third};
    ASSERT_TRUE(loading.loadFile(foreign, {}));
    expectTexts(*third, {}, {{TP::title, "Window"}});
    EXPECT_FALSE(loading.loadFile(dir.filePath(QStringLiteral("missing.ui")), {}));
}

TEST(InterfaceLocalizerBundle, TheProgressPanelLoadsInGermanThroughTheHost) {
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle");
    for (const QString language : {"de", "en"}) {
        test::TestHost host;
        const platform::Bundle bundle(path, {language});
        LoadingRuntime::putPluginInFront(host.runtime(), bundle);
        auto owner = std::make_shared<host::InterfaceOwner>(host::InterfaceOwner{path, {}, {}});
        ASSERT_TRUE(host::loadInterfaceNamed(host.runtime(), "UploadProgressView", owner));
        ASSERT_TRUE(owner->loaded);
        const auto& panel = host.testUi().interfaces.last();
        EXPECT_EQ(owner->loaded->topLevelObjects(), QList<host::InterfaceObjectPtr>{panel.panel});
        EXPECT_EQ(owner->loaded->outlet<host::TextField>(QStringLiteral("progressText")), panel.text);
        EXPECT_EQ(textOf(*panel.cancelButton->cell(), TP::title), language == u"de" ? "Abbrechen" : "Cancel");
    }
}

} // namespace
} // namespace qm::plugin
