#include "platform/bundle.h"

#include "platform/property_list.h"
#include "platform/system_log.h"
#include "support/test_support.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace qm::platform;
using qm::test::writeFile;

namespace {

QByteArray utf16(const QString& text, QStringConverter::Encoding encoding = QStringConverter::Utf16LE) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.filePath("Test.bundle");
        writeFile(root + "/Contents/Info.plist",
                  plist::toXml(QVariantMap{{"CFBundleName", "Quillmoor"},
                                           {"CFBundleVersion", "42"},
                                           {"CFBundleShortVersionString", "1.2"},
                                           {"CFBundleIdentifier", "org.example.quillmoor"},
                                           {"CFBundleDevelopmentRegion", "en"},
                                           {"Custom", QVariantList{1, 2}}}));
        resources = root + "/Contents/Resources";
        for (const char* file :
             {"icon.png", "logo.png", "help.html", "de.lproj/help.html", "de.lproj/welcome.html",
              "en.lproj/welcome.html", "en.lproj/only-en.txt", "pt-BR.lproj/welcome.html"})
            writeFile(resources + "/" + file, file);
        writeFile(resources + "/en.lproj/Localizable.strings",
                  utf16("\"Hello\" = \"Hello\";\n\"Only English\" = \"Only English (en)\";\n"));
        writeFile(resources + "/de.lproj/Localizable.strings",
                  utf16("/* German */\n\"Hello\" = \"Hallo\";\n\"Cancel\" = \"Abbrechen\";\n",
                        QStringConverter::Utf16BE));
        writeFile(resources + "/de.lproj/Menus.strings", utf16("\"File\" = \"Datei\";"));
        writeFile(resources + "/pt-BR.lproj/Localizable.strings", utf16("\"Hello\" = \"Olá\";"));
        writeFile(resources + "/pt.lproj/Localizable.strings",
                  utf16("\"Hello\" = \"Olá (pt)\";\n\"Cancel\" = \"Cancelar\";"));
    }

    Bundle bundle(const QStringList& languages) const { return Bundle(root, languages); }

    QTemporaryDir dir;
    QString root;
    QString resources;
};

} // namespace

TEST_F(BundleTest, InfoDictionaryAndItsDamage) {
    const Bundle b = bundle({"en"});
    EXPECT_EQ(b.resourcePath(), resources);
    EXPECT_EQ(QStringList({b.name(), b.version(), b.shortVersion(), b.identifier()}),
              QStringList({"Quillmoor", "42", "1.2", "org.example.quillmoor"}));
    EXPECT_EQ(b.objectForInfoDictionaryKey("Custom").toList().size(), 2);
    EXPECT_FALSE(b.objectForInfoDictionaryKey("Missing").isValid());

    EXPECT_TRUE(Bundle(dir.filePath("Nothing.bundle"), {"en"}).infoDictionary().isEmpty());
    writeFile(root + "/Contents/Info.plist", "<plist><dict><key>CFBundleName</key>");
    QStringList log;
    SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    const Bundle damaged = bundle({"en"});
    EXPECT_TRUE(damaged.infoDictionary().isEmpty());
    EXPECT_TRUE(damaged.name().isEmpty());
    EXPECT_EQ(damaged.developmentLocalization(), "en");
    EXPECT_EQ(log.filter("Info.plist").size(), 1);
}

TEST_F(BundleTest, LanguagesMatchLocalizationsInPreferenceOrder) {
    EXPECT_EQ(bundle({"en"}).localizations(), (QStringList{"de", "en", "pt", "pt-BR"}));
    EXPECT_EQ(bundle({"de-DE", "de", "en"}).preferredLocalizations(), (QStringList{"de", "en"}));
    EXPECT_EQ(bundle({"pt-BR"}).preferredLocalizations(), (QStringList{"pt-BR", "pt", "en"}));
    EXPECT_EQ(bundle({"pt_PT"}).preferredLocalizations(), (QStringList{"pt", "en"}));
    EXPECT_EQ(bundle({"fr-FR", "de-AT"}).preferredLocalizations(), (QStringList{"de", "en"}));
    EXPECT_EQ(bundle({"fr"}).preferredLocalizations(), (QStringList{"en"}));

    writeFile(root + "/Contents/Info.plist", plist::toXml(QVariantMap{{"CFBundleDevelopmentRegion", "de"}}));
    EXPECT_EQ(bundle({"fr"}).developmentLocalization(), "de");
    EXPECT_EQ(bundle({"fr"}).preferredLocalizations(), (QStringList{"de"}));
    EXPECT_EQ(bundle({"fr"}).localizedString("Hello"), "Hallo");
}

TEST_F(BundleTest, ResourceSearchOrder) {
    const Bundle german = bundle({"de-DE", "en"});
    EXPECT_EQ(german.pathForResource("help", "html"), resources + "/help.html"); // plain Resources/ first
    EXPECT_EQ(german.pathForResource("welcome", "html"), resources + "/de.lproj/welcome.html");
    EXPECT_EQ(german.pathForResource("only-en", "txt"), resources + "/en.lproj/only-en.txt");
    EXPECT_EQ(german.pathForResource("icon.png", ""), resources + "/icon.png");
    EXPECT_EQ(german.pathForResource("icon", ".png"), resources + "/icon.png");
    EXPECT_TRUE(german.pathForResource("missing", "png").isNull());

    EXPECT_EQ(bundle({"pt-BR"}).pathForResource("welcome", "html"), resources + "/pt-BR.lproj/welcome.html");
    EXPECT_EQ(bundle({"fr"}).pathForResource("welcome", "html"), resources + "/en.lproj/welcome.html");

    // An explicit localization looks only there.
    EXPECT_EQ(german.pathForResource("welcome", "html", "en"), resources + "/en.lproj/welcome.html");
    EXPECT_EQ(german.pathForResource("help", "html", "de"), resources + "/de.lproj/help.html");
    EXPECT_TRUE(german.pathForResource("only-en", "txt", "de").isNull());
}

TEST_F(BundleTest, FindsLprojFoldersAndResourcesOfAType) {
    const Bundle b = bundle({"en"});
    EXPECT_EQ(b.pathForResource("de", "lproj"), resources + "/de.lproj");
    EXPECT_EQ(b.pathForResource("pt-BR", "lproj"), resources + "/pt-BR.lproj");
    EXPECT_TRUE(b.pathForResource("fr", "lproj").isNull());
    EXPECT_EQ(b.pathsForResourcesOfType("png"),
              (QStringList{resources + "/icon.png", resources + "/logo.png"}));
    EXPECT_TRUE(b.pathsForResourcesOfType("txt").isEmpty()); // localized ones are not listed
}

TEST_F(BundleTest, LocalizedStringsFallBackThroughPreferredLocalizations) {
    const Bundle german = bundle({"de-DE", "de", "en"});
    EXPECT_EQ(german.localized("Hello"), "Hallo");
    EXPECT_EQ(german.localizedString("Only English"), "Only English (en)");
    EXPECT_EQ(german.localizedString("File", {}, "Menus"), "Datei");
    EXPECT_EQ(german.localizedString("Hello", {}, "NoSuchTable"), "Hello");

    EXPECT_EQ(german.localizedString("Unknown", "Fallback text"), "Fallback text");
    EXPECT_EQ(german.localized("Not translated"), "Not translated");

    const Bundle brazilian = bundle({"pt-BR"});
    EXPECT_EQ(brazilian.localizedString("Hello"), QStringLiteral("Olá"));
    EXPECT_EQ(brazilian.localizedString("Cancel"), "Cancelar"); // from pt.lproj

    const Bundle copy = german; // copies share the parsed tables
    EXPECT_EQ(copy.localizedString("Cancel"), "Abbrechen");

    // A single localization does not fall back.
    EXPECT_EQ(german.localizedStringForLocalization("Cancel", {}, {}, "de"), "Abbrechen");
    EXPECT_EQ(german.localizedStringForLocalization("Only English", {}, {}, "de"), "Only English");
    EXPECT_EQ(german.localizedStringForLocalization("Only English", "Value", {}, "de"), "Value");
    EXPECT_EQ(german.localizedStringForLocalization("Cancel", {}, {}, "fr"), "Cancel");
}

TEST_F(BundleTest, DamagedTableIsIgnoredAndReportedOnce) {
    writeFile(resources + "/de.lproj/Broken.strings", "\"a\" = \"1\"\n\"b\" = \"2\";");
    QStringList log;
    SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    const Bundle b = bundle({"de", "en"});
    EXPECT_EQ(b.localizedString("a", {}, "Broken"), "a");
    EXPECT_EQ(b.localizedString("b", "B", "Broken"), "B");
    ASSERT_EQ(log.filter("Broken.strings").size(), 1);
    EXPECT_TRUE(log.filter("Broken.strings")[0].contains("line 1"));
}

TEST_F(BundleTest, LocateHonoursQuillmoorBundle) {
    const bool had = qEnvironmentVariableIsSet("QUILLMOOR_BUNDLE");
    const QByteArray saved = qgetenv("QUILLMOOR_BUNDLE");
    qputenv("QUILLMOOR_BUNDLE", root.toUtf8());
    const auto found = Bundle::locate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bundlePath(), root);
    EXPECT_EQ(found->name(), "Quillmoor");
    qputenv("QUILLMOOR_BUNDLE", dir.filePath("Missing.bundle").toUtf8());
    EXPECT_FALSE(Bundle::locate().has_value());
    had ? qputenv("QUILLMOOR_BUNDLE", saved) : qunsetenv("QUILLMOOR_BUNDLE");
}

TEST(BundleLanguages, SystemPreferredLanguagesAreNeverEmpty) {
    const QStringList languages = Bundle::systemPreferredLanguages();
    ASSERT_FALSE(languages.isEmpty());
    EXPECT_FALSE(languages.contains("C"));
    QStringList unique = languages;
    EXPECT_EQ(unique.removeDuplicates(), 0);
}
