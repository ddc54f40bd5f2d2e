#include "cli/terminal_ui.h"

#include "cli/exit_status.h"
#include "support/test_support.h"

#include <QBuffer>
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <unistd.h>

namespace qm::test::cli {
namespace {

using qm::cli::AnswerRole;
using qm::cli::TerminalUi;

class TerminalUiTest : public ::testing::Test {
protected:
    TerminalUiTest() { output.open(QIODevice::WriteOnly); }
    ~TerminalUiTest() override {
        if (promptPipe[0] >= 0)
            ::close(promptPipe[0]);
        if (promptPipe[1] >= 0)
            ::close(promptPipe[1]);
    }

    platform::Bundle bundle(const QString& language = QStringLiteral("en")) const {
        return platform::Bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"), {language});
    }

    // A person who types `typed` at the terminal.
    int prompt(const QByteArray& typed) {
        EXPECT_EQ(::pipe(promptPipe), 0);
        EXPECT_EQ(::write(promptPipe[1], typed.constData(), static_cast<size_t>(typed.size())), typed.size());
        ::close(promptPipe[1]);
        promptPipe[1] = -1;
        return promptPipe[0];
    }

    static host::AlertRequest uploadSheet() {
        host::AlertRequest request;
        request.title = QStringLiteral("Quillmoor Attachment Reminder");
        request.informativeText = QStringLiteral("The attached files exceed the threshold.\nUpload them?");
        request.defaultButton = QStringLiteral("Upload Attachments");
        request.alternateButton = QStringLiteral("Cancel");
        request.otherButton = QStringLiteral("Send Attachments");
        return request;
    }

    // Begins a sheet and runs the event loop until it is answered or the interface gives up.
    std::optional<int> show(TerminalUi& ui, const host::AlertRequest& request) {
        std::optional<int> answered;
        ui.beginAlertSheet(request, nullptr, [&answered](int code) { answered = code; });
        EXPECT_FALSE(answered) << "the sheet is answered after beginAlertSheet returns";
        EXPECT_EQ(ui.openSheetCount(), 1);
        waitUntil([&] { return answered || ui.stop(); }, 2000);
        return answered;
    }

    QString printed() const { return QString::fromUtf8(output.data()); }

    QBuffer output;
    int promptPipe[2] = {-1, -1};
};

TEST_F(TerminalUiTest, AnswerFlagPressesTheButtonOfItsRoleAndTheSheetIsPrintedAnyway) {
    TerminalUi ui(bundle(), {AnswerRole::Send, -1, &output, false});
    EXPECT_EQ(show(ui, uploadSheet()), host::AlertOtherReturn);
    EXPECT_EQ(ui.openSheetCount(), 0);
    EXPECT_EQ(ui.lastAnswer(), AnswerRole::Send);
    EXPECT_TRUE(printed().contains(QStringLiteral("Quillmoor Attachment Reminder\nThe attached files exceed the threshold.\nUpload them?\n")));
    EXPECT_TRUE(printed().contains(QStringLiteral("  3) Send Attachments\n")));
    EXPECT_TRUE(printed().contains(QStringLiteral("-> Send Attachments (--answer send)")));

    TerminalUi cancel(bundle(), {AnswerRole::Cancel, -1, &output, false});
    EXPECT_EQ(show(cancel, uploadSheet()), host::AlertAlternateReturn);
    TerminalUi upload(bundle(), {AnswerRole::Upload, -1, &output, false});
    EXPECT_EQ(show(upload, uploadSheet()), host::AlertDefaultReturn);
}

TEST_F(TerminalUiTest, AnswerFlagFindsTranslatedButtons) {
    host::AlertRequest request = uploadSheet();
    request.defaultButton = QStringLiteral("Anhänge hochladen");
    request.alternateButton = QStringLiteral("Abbrechen");
    request.otherButton = QStringLiteral("Anhänge senden");
    TerminalUi ui(bundle(QStringLiteral("de")), {AnswerRole::Upload, -1, &output, false});
    EXPECT_EQ(show(ui, request), host::AlertDefaultReturn);
}

TEST_F(TerminalUiTest, AnswerFlagWithoutSuchAButtonStopsTheRun) {
    host::AlertRequest reminder = uploadSheet();
    reminder.defaultButton = QStringLiteral("Send Attachments");
    reminder.alternateButton = QStringLiteral("Configure Quillmoor");
    reminder.otherButton.clear();
    TerminalUi ui(bundle(), {AnswerRole::Upload, -1, &output, false});
    EXPECT_FALSE(show(ui, reminder));
    ASSERT_TRUE(ui.stop());
    EXPECT_EQ(ui.stop()->exitStatus, qm::cli::ExitUsage);
    EXPECT_TRUE(ui.stop()->reason.contains(QStringLiteral("\"Upload Attachments\"")));
}

TEST_F(TerminalUiTest, WithoutAnswerAndWithoutTerminalTheRunStops) {
    TerminalUi ui(bundle(), {std::nullopt, -1, &output, false});
    EXPECT_FALSE(show(ui, uploadSheet()));
    ASSERT_TRUE(ui.stop());
    EXPECT_EQ(ui.stop()->exitStatus, qm::cli::ExitUsage);
    EXPECT_TRUE(ui.stop()->reason.contains(QStringLiteral("--answer")));
    EXPECT_TRUE(printed().contains(QStringLiteral("Quillmoor Attachment Reminder"))) << "the sheet is shown first";
}

TEST_F(TerminalUiTest, APersonAnswersAtThePromptByNumberOrName) {
    TerminalUi byNumber(bundle(), {std::nullopt, prompt("seven\n9\n2\n"), &output, false});
    EXPECT_EQ(show(byNumber, uploadSheet()), host::AlertAlternateReturn);
    EXPECT_EQ(printed().count(QStringLiteral("Choose 1-3: ")), 3);
    EXPECT_EQ(printed().count(QStringLiteral("Please answer")), 2);
    EXPECT_EQ(byNumber.lastAnswer(), AnswerRole::Cancel);
    ::close(promptPipe[0]);

    TerminalUi byName(bundle(), {std::nullopt, prompt("send attachments\n"), &output, false});
    EXPECT_EQ(show(byName, uploadSheet()), host::AlertOtherReturn);
    ::close(promptPipe[0]);

    TerminalUi byRole(bundle(), {std::nullopt, prompt("upload"), &output, false});
    EXPECT_EQ(show(byRole, uploadSheet()), host::AlertDefaultReturn) << "the last line needs no line end";
}

TEST_F(TerminalUiTest, EndOfInputAtThePromptStopsTheRun) {
    TerminalUi ui(bundle(), {std::nullopt, prompt(""), &output, false});
    EXPECT_FALSE(show(ui, uploadSheet()));
    ASSERT_TRUE(ui.stop());
    EXPECT_EQ(ui.stop()->exitStatus, qm::cli::ExitNotSent);
}

TEST_F(TerminalUiTest, AlertsPrintTitleAndText) {
    TerminalUi ui(bundle(), {std::nullopt, -1, &output, false});
    host::AlertRequest alert;
    alert.title = QStringLiteral("Quillmoor Error");
    alert.informativeText = QStringLiteral("The upload failed.");
    EXPECT_EQ(ui.runModalAlert(alert).returnCode, host::AlertDefaultReturn);
    EXPECT_EQ(printed(), QStringLiteral("\nQuillmoor Error\nThe upload failed.\n"));
}

TEST_F(TerminalUiTest, ProgressPanelIsALinePerTenthOutsideATerminal) {
    TerminalUi ui(bundle(), {std::nullopt, -1, &output, false});
    bool cancelled = false;
    const auto loaded = ui.loadInterface({}, QStringLiteral("UploadProgressView"),
                                         {{QStringLiteral("cancelUpload:"), [&cancelled] { cancelled = true; }}});
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(ui.loadInterface({}, QStringLiteral("Preferences"), {}));
    auto panel = loaded->outlet<host::Panel>(QStringLiteral("progressPanel"));
    auto bar = loaded->outlet<host::ProgressIndicator>(QStringLiteral("progressIndicator"));
    auto text = loaded->outlet<host::TextField>(QStringLiteral("progressText"));
    ASSERT_TRUE(panel && bar && text);
    text->setStringValue(QStringLiteral("Your attachments are uploaded."));
    bar->setDoubleValue(0);
    std::optional<int> ended;
    ui.beginSheet(panel, nullptr, [&ended](int code) { ended = code; });
    EXPECT_EQ(ui.openSheetCount(), 1);
    for (double value : {5.0, 12.0, 19.0, 55.5, 100.0})
        bar->setDoubleValue(value);
    EXPECT_EQ(bar->doubleValue(), 100.0);
    EXPECT_TRUE(ui.triggerPanelAction(QStringLiteral("cancelUpload:")));
    EXPECT_TRUE(cancelled);
    ui.endSheet(panel, 0);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(ui.openSheetCount(), 0);
    EXPECT_EQ(ui.panelSheetsShown(), 1);
    EXPECT_FALSE(ui.triggerPanelAction(QStringLiteral("cancelUpload:"))) << "no panel is shown any more";
    EXPECT_EQ(printed(), QStringLiteral("Your attachments are uploaded.\nUploading: 0%\nUploading: 10%\nUploading: 50%\nUploading: 100%\n"));
}

TEST_F(TerminalUiTest, ProgressPanelIsABarRedrawnInPlaceOnATerminal) {
    TerminalUi ui(bundle(), {std::nullopt, -1, &output, true});
    const auto loaded = ui.loadInterface({}, QStringLiteral("UploadProgressView"), {});
    auto panel = loaded->outlet<host::Panel>(QStringLiteral("progressPanel"));
    auto bar = loaded->outlet<host::ProgressIndicator>(QStringLiteral("progressIndicator"));
    ui.beginSheet(panel, nullptr, {});
    bar->setDoubleValue(50);
    bar->setDoubleValue(50.4);   // same percentage: not drawn again
    ui.endSheet(panel, 0);
    EXPECT_EQ(printed(), QStringLiteral("\r[                                        ]   0%") +
                             QStringLiteral("\r[####################                    ]  50%\n"));
}

} // namespace
} // namespace qm::test::cli
