#include "plugin/interface_localizer.h"

#include "platform/property_list.h"
#include "support/test_host.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::plugin {
namespace {

using host::TextProperty;
using TP = TextProperty;

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

using Texts = std::initializer_list<std::pair<TP, QString>>;

template <typename T> std::shared_ptr<T> with(std::shared_ptr<T> object, Texts texts) {
    for (const auto& [property, text] : texts)
        object->setText(property, text);
    return object;
}
template <typename T> std::shared_ptr<T> make(Texts texts = {}) {
    return with(std::make_shared<T>(), texts);
}
std::shared_ptr<host::Cell> cell(host::CellKind kind, Texts texts, int type = host::textCellType) {
    return with(std::make_shared<host::Cell>(kind, type), texts);
}

// The host's loader: records each call and hands out the objects the test prepared.
class RecordingLoader final : public host::UiServices {
public:
    QList<QString> loads; // "<bundle path>|<name>"
    QList<host::InterfaceObjectPtr> objects;

    std::optional<host::LoadedInterface> loadInterface(const QString& bundlePath, const QString& name,
                                                       const host::InterfaceActions&) override {
        loads.append(bundlePath + u'|' + name);
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

    platform::Bundle bundleIn(const QString& language) const {
        return platform::Bundle(bundlePath, {language});
    }
    void walk(const host::InterfaceObjectPtr& object) {
        localizer.localizeStringsInObject(object.get(), table);
    }

    QTemporaryDir dir;
    const QString bundlePath = makeBundle();
    platform::Bundle german = bundleIn(QStringLiteral("de"));
    RecordingLoader loader;
    InterfaceLocalizer localizer{german, loader};
    const QString table = QStringLiteral("Panel");
};

using InterfaceLocalizerStrings = InterfaceLocalizerTest;
using InterfaceLocalizerWalk = InterfaceLocalizerTest;
using InterfaceLocalizerLoading = InterfaceLocalizerTest;

TEST_F(InterfaceLocalizerStrings, TranslationTextItselfOrNullForNothing) {
    EXPECT_EQ(localizer.localizedStringForString(QStringLiteral("Cancel"), table), de("Cancel"));
    EXPECT_EQ(localizer.localizedStringForString(QStringLiteral("Unlisted"), table),
              QStringLiteral("Unlisted"));
    EXPECT_TRUE(localizer.localizedStringForString(QString(), table).isNull());
    EXPECT_TRUE(localizer.localizedStringForString(QStringLiteral(""), table).isNull());
    // The placeholder for a missing entry never leaks out, even when asked for itself.
    EXPECT_EQ(localizer.localizedStringForString(QStringLiteral("I AM THE DEFAULT VALUE"), table),
              QStringLiteral("I AM THE DEFAULT VALUE"));
}

TEST_F(InterfaceLocalizerStrings, HelpersTouchOnlyThePropertiesAnObjectHas) {
    auto object =
        make<host::InterfaceObject>({{TP::title, "Window"}, {TP::label, ""}, {TP::toolTip, "Unlisted"}});
    for (auto helper :
         {&InterfaceLocalizer::localizeTitleOfObject, &InterfaceLocalizer::localizeAlternateTitleOfObject,
          &InterfaceLocalizer::localizeStringValueOfObject,
          &InterfaceLocalizer::localizePlaceholderStringOfObject,
          &InterfaceLocalizer::localizeToolTipOfObject, &InterfaceLocalizer::localizeLabelOfObject})
        (localizer.*helper)(object.get(), table);
    localizer.localizeTitleOfObject(nullptr, table);
    EXPECT_EQ(textOf(*object, TP::title), de("Window"));
    EXPECT_EQ(textOf(*object, TP::label), QStringLiteral(""));
    EXPECT_EQ(textOf(*object, TP::toolTip), QStringLiteral("Unlisted"));
    for (TP absent : {TP::alternateTitle, TP::stringValue, TP::placeholderString})
        EXPECT_FALSE(object->text(absent));
}

TEST_F(InterfaceLocalizerWalk, CellsByKind) {
    using K = host::CellKind;
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

    EXPECT_EQ(textOf(*button, TP::title), de("Button"));
    EXPECT_EQ(textOf(*button, TP::stringValue), de("Button value"));
    EXPECT_EQ(textOf(*button, TP::alternateTitle), de("Button alt"));
    EXPECT_EQ(textOf(*imageOnly, TP::title), QStringLiteral("Button"));
    EXPECT_EQ(textOf(*path, TP::placeholderString), de("Path placeholder"));
    EXPECT_EQ(textOf(*path, TP::title), QStringLiteral("Button"));
    EXPECT_EQ(textOf(*token, TP::placeholderString), de("Token placeholder"));
    EXPECT_EQ(textOf(*token, TP::stringValue), QStringLiteral("Field value"));
    EXPECT_EQ(textOf(*field, TP::stringValue), de("Field value"));
    EXPECT_EQ(textOf(*field, TP::placeholderString), de("Field placeholder"));
    EXPECT_EQ(textOf(*textAction, TP::title), de("Action title"));
    EXPECT_EQ(textOf(*textAction, TP::stringValue), de("Action value"));
    EXPECT_EQ(textOf(*imageAction, TP::title), QStringLiteral("Action title"));
    EXPECT_EQ(textOf(*plain, TP::title), QStringLiteral("Action title"));
}

TEST_F(InterfaceLocalizerWalk, MenusWithSubmenusAndPopUpButtons) {
    auto subitem = make<host::MenuItem>({{TP::title, "Subitem"}, {TP::toolTip, "Unlisted"}});
    auto submenu = make<host::Menu>({{TP::title, "Submenu"}});
    submenu->setItems({subitem});
    auto item = make<host::MenuItem>({{TP::title, "Item"}, {TP::toolTip, "Item tip"}});
    item->setSubmenu(submenu);
    auto menu = make<host::Menu>({{TP::title, "Menu"}});
    menu->setItems({item, make<host::MenuItem>()});
    walk(menu);
    EXPECT_EQ(textOf(*menu, TP::title), de("Menu"));
    EXPECT_EQ(textOf(*item, TP::title), de("Item"));
    EXPECT_EQ(textOf(*item, TP::toolTip), de("Item tip"));
    EXPECT_EQ(textOf(*submenu, TP::title), de("Submenu"));
    EXPECT_EQ(textOf(*subitem, TP::title), de("Subitem"));
    EXPECT_EQ(textOf(*subitem, TP::toolTip), QStringLiteral("Unlisted"));

    // A pop-up button's menu is reached for its items only.
    auto popUpMenu = make<host::Menu>({{TP::title, "Menu"}});
    auto popUpItem = make<host::MenuItem>({{TP::title, "Popup item"}});
    popUpMenu->setItems({popUpItem});
    auto popUp = make<host::PopUpButton>();
    popUp->setMenu(popUpMenu);
    walk(popUp);
    EXPECT_EQ(textOf(*popUpItem, TP::title), de("Popup item"));
    EXPECT_EQ(textOf(*popUpMenu, TP::title), QStringLiteral("Menu"));
}

TEST_F(InterfaceLocalizerWalk, WindowContentBoxesButtonsTabsAndOtherControls) {
    auto buttonCell = cell(host::CellKind::button, {{TP::title, "Button"}});
    auto button = make<host::Button>({{TP::toolTip, "Window tip"}});
    button->setCell(buttonCell);
    auto controlCell = cell(host::CellKind::textField, {{TP::stringValue, "Control cell"}});
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
    EXPECT_EQ(textOf(*window, TP::title), de("Window"));
    EXPECT_EQ(textOf(*window, TP::toolTip), QStringLiteral("Window tip")); // windows have none to show
    EXPECT_EQ(textOf(*content, TP::toolTip), de("Window tip"));
    EXPECT_EQ(textOf(*content, TP::title), QStringLiteral("Box")); // only boxes show a title
    EXPECT_EQ(textOf(*box, TP::title), de("Box"));
    EXPECT_EQ(textOf(*button, TP::toolTip), de("Window tip"));
    EXPECT_EQ(textOf(*buttonCell, TP::title), de("Button"));
    EXPECT_EQ(textOf(*controlCell, TP::stringValue), de("Control cell"));
    EXPECT_EQ(textOf(*tab, TP::label), de("Tab"));
    EXPECT_EQ(textOf(*inside, TP::toolTip), de("Tab content tip"));
}

TEST_F(InterfaceLocalizerWalk, MatrixCellsAndSegmentsWithTheirToolTips) {
    auto first = cell(host::CellKind::button, {{TP::title, "Matrix cell"}});
    auto second = cell(host::CellKind::button, {{TP::title, "Unlisted"}});
    auto matrix = make<host::Matrix>();
    matrix->setCells({first, second});
    matrix->setToolTipForCell(QStringLiteral("Matrix tip"), *first);
    walk(matrix);
    EXPECT_EQ(textOf(*first, TP::title), de("Matrix cell"));
    EXPECT_EQ(textOf(*second, TP::title), QStringLiteral("Unlisted"));
    EXPECT_EQ(matrix->toolTipForCell(*first), de("Matrix tip"));
    EXPECT_TRUE(matrix->toolTipForCell(*second).isEmpty());

    auto segmentItem = make<host::MenuItem>({{TP::title, "Segment item"}});
    auto segmentMenu = make<host::Menu>();
    segmentMenu->setItems({segmentItem});
    auto segmented = make<host::SegmentedControl>();
    segmented->setSegments({{QStringLiteral("Segment"), QStringLiteral("Segment tip"), segmentMenu},
                            {QStringLiteral("Unlisted"), QString(), nullptr}});
    walk(segmented);
    EXPECT_EQ(segmented->label(0), de("Segment"));
    EXPECT_EQ(segmented->toolTip(0), de("Segment tip"));
    EXPECT_EQ(textOf(*segmentItem, TP::title), de("Segment item"));
    EXPECT_EQ(segmented->label(1), QStringLiteral("Unlisted"));
    EXPECT_TRUE(segmented->toolTip(1).isNull());
}

TEST_F(InterfaceLocalizerWalk, TableViewHeadersAndEveryPreparedCell) {
    auto header = cell(host::CellKind::textField, {{TP::stringValue, "Header"}, {TP::title, "Header"}});
    auto column = make<host::TableColumn>({{TP::toolTip, "Header tip"}});
    column->setHeaderCell(header);
    auto table = make<host::TableView>();
    table->setTableColumns({column, make<host::TableColumn>()});
    table->setNumberOfRows(2);
    QList<std::shared_ptr<host::Cell>> prepared;
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 2; ++r)
            table->setPreparedCell(
                c, r, prepared.emplaceBack(cell(host::CellKind::textField, {{TP::stringValue, "Row"}})));
    walk(table);
    EXPECT_EQ(textOf(*header, TP::stringValue), de("Header"));
    EXPECT_EQ(textOf(*header, TP::title), QStringLiteral("Header")); // a column's title is its own business
    EXPECT_EQ(textOf(*column, TP::toolTip), de("Header tip"));
    for (const auto& rowCell : prepared)
        EXPECT_EQ(textOf(*rowCell, TP::stringValue), de("Row"));

    // A column met on its own: the title of its header.
    walk(column);
    EXPECT_EQ(textOf(*header, TP::title), de("Header"));
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

TEST_F(InterfaceLocalizerWalk, TextFieldsAndPathControlsAreReboundWithTranslatedOptions) {
    auto controller = std::make_shared<host::InterfaceObject>();
    auto field = std::make_shared<BindingTextField>();
    field->setStringValue(QStringLiteral("Field value"));
    field->setText(TP::placeholderString, QStringLiteral("Field placeholder"));
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
    const auto pattern = field->binding("displayPatternValue1");
    ASSERT_TRUE(pattern);
    EXPECT_EQ(pattern->object, controller);
    EXPECT_EQ(pattern->keyPath, QStringLiteral("selection.size"));
    EXPECT_EQ(pattern->options.value("NSDisplayPattern").toString(), de("Value: %{value1}@"));
    EXPECT_TRUE(pattern->options.value("NSRaisesForNotApplicableKeys").toBool());
    const auto value = field->binding("value");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->object, controller);
    EXPECT_EQ(value->keyPath, QStringLiteral("selection.name"));
    EXPECT_EQ(value->options.value("NSNullPlaceholder").toString(), de("No value"));
    EXPECT_TRUE(value->options.value("NSContinuouslyUpdatesValue").toBool());
    // A text field's own texts are left to its bindings and to the code that fills it.
    EXPECT_EQ(field->stringValue(), QStringLiteral("Field value"));
    EXPECT_EQ(textOf(*field, TP::placeholderString), QStringLiteral("Field placeholder"));

    auto path = make<host::PathControl>();
    path->bind("value", {controller, "selection.path", {{"NSNullPlaceholder", "No value"}}});
    walk(path);
    EXPECT_EQ(path->binding("value")->options.value("NSNullPlaceholder").toString(), de("No value"));

    auto unbound = std::make_shared<BindingTextField>();
    walk(unbound);
    EXPECT_EQ(unbound->binds, 0);
}

TEST_F(InterfaceLocalizerWalk, ArraysNestAndSkipNulls) {
    auto window = make<host::Window>({{TP::title, "Window"}});
    auto menu = make<host::Menu>({{TP::title, "Menu"}});
    auto inner = std::make_shared<host::InterfaceArray>(QList<host::InterfaceObjectPtr>{menu, nullptr});
    walk(std::make_shared<host::InterfaceArray>(QList<host::InterfaceObjectPtr>{window, nullptr, inner}));
    EXPECT_EQ(textOf(*window, TP::title), de("Window"));
    EXPECT_EQ(textOf(*menu, TP::title), de("Menu"));
    walk(nullptr);
    walk(std::make_shared<host::InterfaceArray>());
}

TEST_F(InterfaceLocalizerLoading, GermanTablePassesTheHostsObjectsThroughTheWalk) {
    auto window = make<host::Window>({{TP::title, "Window"}});
    loader.objects = {window, make<host::Menu>({{TP::title, "Unlisted"}})};
    const auto loaded = localizer.loadNibNamed(QStringLiteral("Panel"), {});
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loader.loads, (QStringList{german.bundlePath() + QStringLiteral("|Panel")}));
    EXPECT_EQ(loaded->topLevelObjects().size(), 2);
    EXPECT_EQ(textOf(*window, TP::title), de("Window"));
}

TEST_F(InterfaceLocalizerLoading, EnglishNoTableOrAForeignInterfaceLeaveTheHostsLoadingAlone) {
    auto window = make<host::Window>({{TP::title, "Window"}});
    loader.objects = {window};
    const platform::Bundle english = bundleIn(QStringLiteral("en"));
    EXPECT_TRUE(InterfaceLocalizer(english, loader).loadNibNamed(QStringLiteral("Panel"), {}));
    EXPECT_TRUE(localizer.loadNibNamed(QStringLiteral("Untranslated"), {}));
    EXPECT_TRUE(localizer.loadNibNamed(QStringLiteral("HostsOwn"), {}));
    EXPECT_EQ(loader.loads, (QStringList{english.bundlePath() + QStringLiteral("|Panel"),
                                         german.bundlePath() + QStringLiteral("|Untranslated"),
                                         german.bundlePath() + QStringLiteral("|HostsOwn")}));
    EXPECT_EQ(textOf(*window, TP::title), QStringLiteral("Window"));
}

TEST(InterfaceLocalizerBundle, TheProgressPanelLoadsInGerman) {
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle");
    for (const QString& language : {QStringLiteral("de"), QStringLiteral("en")}) {
        test::TestHost host;
        const platform::Bundle bundle(path, {language});
        const auto loaded =
            InterfaceLocalizer(bundle, host.ui()).loadNibNamed(QStringLiteral("UploadProgressView"), {});
        ASSERT_TRUE(loaded);
        const auto& panel = host.testUi().interfaces.last();
        EXPECT_EQ(loaded->topLevelObjects(), QList<host::InterfaceObjectPtr>{panel.panel});
        EXPECT_EQ(loaded->outlet<host::TextField>(QStringLiteral("progressText")), panel.text);
        EXPECT_EQ(textOf(*panel.panel, TP::title), QStringLiteral("Quillmoor"));
        EXPECT_EQ(textOf(*panel.cancelButton->cell(), TP::title),
                  language == u"de" ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel"));
        // Filled by the upload controller, in the user's language, before the panel is shown.
        EXPECT_EQ(panel.text->stringValue(),
                  QStringLiteral("Your email attachments are currently uploaded into the cloud."));
    }
}

} // namespace
} // namespace qm::plugin
