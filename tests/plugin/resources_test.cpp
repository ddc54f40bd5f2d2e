#include "platform/bundle.h"
#include "platform/property_list.h"
#include "platform/string_format.h"
#include "plugin/texts.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace qm::plugin {
namespace {

platform::Bundle bundleIn(const QString& language) {
    return platform::Bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                            {language});
}

const QStringList userTexts{texts::reminderTitle,
                            texts::perFileFormat,
                            texts::totalFormat,
                            texts::noServiceAppendix,
                            texts::sendAttachments,
                            texts::configureQuillmoor,
                            texts::uploadAttachments,
                            texts::cancel,
                            texts::progressAutoSend,
                            texts::progressManualSend,
                            texts::errorTitle,
                            texts::informationTitle,
                            texts::compressFilesFailed,
                            texts::compressFileFailed,
                            texts::compressFilesFailedBecause,
                            texts::compressFileFailedBecause,
                            texts::copyFailed,
                            texts::noLinkForFile,
                            texts::boxNotInserted,
                            texts::uploadInformationIncomplete,
                            texts::uploadNotStarted,
                            texts::uploadNeedsRecipients,
                            texts::welcomeMessage,
                            texts::yes,
                            texts::notNow,
                            "Welcome to Quillmoor",
                            QString::fromUtf8(texts::updateManagerMissingTitle),
                            QString::fromUtf8(texts::updateManagerMissingMessage),
                            texts::download};

TEST(ResourcesTest, EveryUserTextIsInTheEnglishAndGermanTables) {
    for (const QString& language : {QStringLiteral("en"), QStringLiteral("de")}) {
        const platform::Bundle bundle = bundleIn(language);
        for (const QString& text : userTexts) {
            const QString translated =
                bundle.localizedStringForLocalization(text, QStringLiteral("<missing>"), {}, language);
            EXPECT_NE(translated, QStringLiteral("<missing>"))
                << language.toStdString() << ": " << text.toStdString();
            if (language == QStringLiteral("en"))
                EXPECT_EQ(translated, text);
            else
                EXPECT_NE(translated, text) << "untranslated: " << text.toStdString();
        }
    }
}

TEST(ResourcesTest, GermanSheetTextsKeepTheNumbersInTheirPlaces) {
    const platform::Bundle german = bundleIn(QStringLiteral("de"));
    const QString perFile = platform::formatString(german.localized(texts::perFileFormat), {5.0, 8.0});
    EXPECT_TRUE(
        perFile.contains(QStringLiteral("mit ihren 8.00 MByte den eingestellten Schwellwert von 5.00 MByte")))
        << perFile.toStdString();
    const QString total = platform::formatString(german.localized(texts::totalFormat), {5.0, 15.0});
    EXPECT_TRUE(
        total.contains(QStringLiteral("insgesamt 15.00 MByte den eingestellten Schwellwert von 5.00 MByte")));
}

TEST(ResourcesTest, DefaultsHaveTheTypesTheirReadersExpect) {
    const platform::Bundle bundle = bundleIn(QStringLiteral("en"));
    const auto defaults = platform::plist::readFile(
        bundle.pathForResource(QStringLiteral("QuillmoorDefaults"), QStringLiteral("plist")));
    ASSERT_TRUE(defaults);
    const QVariantMap map = defaults->toMap();
    for (const char* key : {"QuillmoorAskBeforeUpload", "QuillmoorAutoSendEmail", "QuillmoorCompressFiles",
                            "QuillmoorCompressToSingleZIP", "QuillmoorTranslateInfoBox"})
        EXPECT_EQ(map.value(QString::fromLatin1(key)).typeId(), QMetaType::Bool) << key;
    EXPECT_EQ(map.value(QStringLiteral("QuillmoorMinFileSize")).typeId(), QMetaType::Double);
    EXPECT_GT(map.value(QStringLiteral("QuillmoorMinFileSize")).toDouble(), 0);
    EXPECT_FALSE(map.contains(QStringLiteral("QuillmoorSelectedService"))); // absent means "none chosen"
}

} // namespace
} // namespace qm::plugin
