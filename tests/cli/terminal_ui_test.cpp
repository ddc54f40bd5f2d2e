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

platform::Bundle bundleIn(const QString& language) {
    return platform::Bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                            {language});
}

host::AlertRequest uploadSheet() {
    host::AlertRequest request;
    request.title = QStringLiteral("Quillmoor Attachment Reminder");
    request.informativeText = QStringLiteral("The attached files exceed the threshold.\nUpload them?");
    request.defaultButton = QStringLiteral("Upload Attachments");
    request.alternateButton = QStringLiteral("Cancel");
    request.otherButton = QStringLiteral("Send Attachments");
    return request;
}

class TerminalUiTest : public ::testing::Test {
protected:
    TerminalUiTest() { output.open(QIODevice::WriteOnly); }
    ~TerminalUiTest() override {
        for (int fd : pipes)
            ::close(fd);
    }

    // A person who types `typed` at the terminal; -1 for no terminal.
    int prompt(const std::optional<QByteArray>& typed) {
        int fds[2];
        if (!typed || ::pipe(fds) != 0)
            return -1;
        EXPECT_EQ(::write(fds[1], typed->constData(), static_cast<size_t>(typed->size())), typed->size());
        ::close(fds[1]);
        return pipes.emplaceBack(fds[0]);
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
    QList<int> pipes;
};

TEST_F(TerminalUiTest, EveryWayOfAnsweringTheSheet) {
    host::AlertRequest german = uploadSheet();
    german.defaultButton = QStringLiteral("Anhänge hochladen");
    german.alternateButton = QStringLiteral("Abbrechen");
    german.otherButton = QStringLiteral("Anhänge senden");
    host::AlertRequest reminder = uploadSheet(); // no upload button
    reminder.defaultButton = QStringLiteral("Send Attachments");
    reminder.alternateButton = QStringLiteral("Configure Quillmoor");
    reminder.otherButton.clear();
    const struct {
        const char* name;
        std::optional<AnswerRole> answer;
        std::optional<QByteArray> typed;
        host::AlertRequest request;
        std::optional<int> returned; // nothing: the run stops with `status` and `reason`
        int status = 0;
        const char* reason = "";
    } cases[] = {
        {"--answer send", AnswerRole::Send, {}, uploadSheet(), host::AlertOtherReturn},
        {"--answer cancel", AnswerRole::Cancel, {}, uploadSheet(), host::AlertAlternateReturn},
        {"--answer upload", AnswerRole::Upload, {}, uploadSheet(), host::AlertDefaultReturn},
        {"translated buttons", AnswerRole::Upload, {}, german, host::AlertDefaultReturn},
        {"no such button",
         AnswerRole::Upload,
         {},
         reminder,
         {},
         qm::cli::ExitUsage,
         "\"Upload Attachments\""},
        {"no answer, no terminal", {}, {}, uploadSheet(), {}, qm::cli::ExitUsage, "--answer"},
        {"typed by name", {}, "send attachments\n", uploadSheet(), host::AlertOtherReturn},
        {"typed role, no line end", {}, "upload", uploadSheet(), host::AlertDefaultReturn},
        {"end of input", {}, "", uploadSheet(), {}, qm::cli::ExitNotSent, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        output.close();
        output.setData({});
        output.open(QIODevice::WriteOnly);
        TerminalUi ui(bundleIn(c.request.alternateButton == u"Abbrechen" ? "de" : "en"),
                      {c.answer, prompt(c.typed), &output, false});
        EXPECT_EQ(show(ui, c.request), c.returned);
        EXPECT_TRUE(printed().contains(c.request.title + "\n" + c.request.informativeText + "\n"))
            << "the sheet is printed first, answered or not: " << printed().toStdString();
        if (c.returned) {
            EXPECT_EQ(ui.openSheetCount(), 0);
            continue;
        }
        ASSERT_TRUE(ui.stop());
        EXPECT_EQ(ui.stop()->exitStatus, c.status);
        EXPECT_TRUE(ui.stop()->reason.contains(c.reason)) << ui.stop()->reason.toStdString();
    }
}

TEST_F(TerminalUiTest, TheAnswerIsShownAndWrongTypingIsAskedAgain) {
    TerminalUi flag(bundleIn("en"), {AnswerRole::Send, -1, &output, false});
    EXPECT_EQ(show(flag, uploadSheet()), host::AlertOtherReturn);
    EXPECT_EQ(flag.lastAnswer(), AnswerRole::Send);
    EXPECT_TRUE(printed().contains("  3) Send Attachments\n"));
    EXPECT_TRUE(printed().contains("-> Send Attachments (--answer send)"));

    TerminalUi byNumber(bundleIn("en"), {std::nullopt, prompt("seven\n9\n2\n"), &output, false});
    EXPECT_EQ(show(byNumber, uploadSheet()), host::AlertAlternateReturn);
    EXPECT_EQ(printed().count("Choose 1-3: "), 3);
    EXPECT_EQ(printed().count("Please answer"), 2);
    EXPECT_EQ(byNumber.lastAnswer(), AnswerRole::Cancel);
}

TEST_F(TerminalUiTest, AlertsPrintTitleAndText) {
    TerminalUi ui(bundleIn("en"), {std::nullopt, -1, &output, false});
    host::AlertRequest alert;
    alert.title = QStringLiteral("Quillmoor Error");
    alert.informativeText = QStringLiteral("The upload failed.");
    EXPECT_EQ(ui.runModalAlert(alert).returnCode, host::AlertDefaultReturn);
    EXPECT_EQ(printed(), "\nQuillmoor Error\nThe upload failed.\n");
}

TEST_F(TerminalUiTest, ProgressPanelIsALinePerTenthOutsideATerminal) {
    TerminalUi ui(bundleIn("en"), {std::nullopt, -1, &output, false});
    bool cancelled = false;
    const auto loaded = ui.loadInterface("Base.lproj/UploadProgressView.ui",
                                         {{"cancelUpload:", [&cancelled] { cancelled = true; }}});
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(ui.loadInterface("Base.lproj/Preferences.ui", {}));
    auto panel = loaded->outlet<host::Panel>("progressPanel");
    auto bar = loaded->outlet<host::ProgressIndicator>("progressIndicator");
    auto text = loaded->outlet<host::TextField>("progressText");
    ASSERT_TRUE(panel && bar && text);
    text->setStringValue("Your attachments are uploaded.");
    bar->setDoubleValue(0);
    std::optional<int> ended;
    ui.beginSheet(panel, nullptr, [&ended](int code) { ended = code; });
    EXPECT_EQ(ui.openSheetCount(), 1);
    for (double value : {5.0, 12.0, 19.0, 55.5, 100.0})
        bar->setDoubleValue(value);
    EXPECT_EQ(bar->doubleValue(), 100.0);
    EXPECT_TRUE(ui.triggerPanelAction("cancelUpload:"));
    EXPECT_TRUE(cancelled);
    ui.endSheet(panel, 0);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(ui.openSheetCount(), 0);
    EXPECT_EQ(ui.panelSheetsShown(), 1);
    EXPECT_FALSE(ui.triggerPanelAction("cancelUpload:")) << "no panel is shown any more";
    EXPECT_EQ(
        printed(),
        "Your attachments are uploaded.\nUploading: 0%\nUploading: 10%\nUploading: 50%\nUploading: 100%\n");
}

TEST_F(TerminalUiTest, ProgressPanelIsABarRedrawnInPlaceOnATerminal) {
    TerminalUi ui(bundleIn("en"), {std::nullopt, -1, &output, true});
    const auto loaded = ui.loadInterface("Base.lproj/UploadProgressView.ui", {});
    auto panel = loaded->outlet<host::Panel>("progressPanel");
    ui.beginSheet(panel, nullptr, {});
    loaded->outlet<host::ProgressIndicator>("progressIndicator")->setDoubleValue(50);
    loaded->outlet<host::ProgressIndicator>("progressIndicator")
        ->setDoubleValue(50.4); // same percentage: not drawn
    ui.endSheet(panel, 0);
    EXPECT_EQ(printed(), "\r[                                        ]   0%\r[####################           "
                         "         ]  50%\n");
}

} // namespace
} // namespace qm::test::cli
