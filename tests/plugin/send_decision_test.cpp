#include "plugin/active_service.h"
#include "plugin/attachment_selection.h"
#include "support/plugin_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
constexpr qint64 MiB = 1048576;

class SendDecisionTest : public PluginFixture {
protected:
    std::shared_ptr<TestComposeWindow> window =
        host.newComposeWindow(QStringLiteral("<p>See the files.</p>"));

    void setThreshold(double mbytes, int mode) {
        EXPECT_TRUE(settings.setFloat(mbytes, keys::minFileSize));
        EXPECT_TRUE(settings.setInteger(mode, keys::fileSizeMode));
    }

    std::optional<QStringList> selection(double* critical) {
        return plugin::attachmentIDArrayWithCriticalFileSize(host::ComposeWindow(window), settings, critical);
    }
};

TEST_F(SendDecisionTest, BelowOrAtTheThresholdTheHostSendsAtOnce) {
    linkService();
    setThreshold(5, 0);
    host.pressSend(window); // no attachments at all
    attach(window, QStringLiteral("a"), 3 * MiB);
    attach(window, QStringLiteral("b"), 2 * MiB); // exactly 5 MiB together
    host.pressSend(window);

    ASSERT_EQ(window->sent.size(), 2);
    EXPECT_TRUE(host.testUi().sheets.isEmpty());
    EXPECT_TRUE(pipeline.started.isEmpty());
}

TEST_F(SendDecisionTest, TheThresholdIsStrictAndCountsMebibytes) {
    setThreshold(5, 1);
    attach(window, QStringLiteral("decimal"), 5000000);
    double critical = -1;
    EXPECT_EQ(selection(&critical), QStringList());
    EXPECT_EQ(critical, 0);

    attach(window, QStringLiteral("one-byte-over"), 5 * MiB + 1);
    EXPECT_EQ(selection(&critical), QStringList{QStringLiteral("one-byte-over")});
    EXPECT_GT(critical, 5.0);
}

TEST_F(SendDecisionTest, PerFileAndTotalModesSelectDifferently) {
    attach(window, QStringLiteral("one"), 1 * MiB);
    attach(window, QStringLiteral("six"), 6 * MiB);
    attach(window, QStringLiteral("eight"), 8 * MiB);

    setThreshold(5, 1);
    double critical = 0;
    EXPECT_EQ(selection(&critical), (QStringList{QStringLiteral("six"), QStringLiteral("eight")}));
    EXPECT_DOUBLE_EQ(critical, 8.0);

    setThreshold(5, 0);
    EXPECT_EQ(selection(&critical),
              (QStringList{QStringLiteral("one"), QStringLiteral("six"), QStringLiteral("eight")}));
    EXPECT_DOUBLE_EQ(critical, 15.0);

    setThreshold(20, 0);
    EXPECT_EQ(selection(&critical), std::nullopt);
    EXPECT_EQ(critical, 0);
}

TEST_F(SendDecisionTest, OnlyAttachmentsTheBodyRefersToAreMeasured) {
    setThreshold(5, 0);
    // The record's ID contains the ID in the body: containment, not equality, makes it match.
    window->addAttachment(
        {QStringLiteral("abc-12345-xyz"), QStringLiteral("/nonexistent"), QStringLiteral("a.pdf"), 4 * MiB},
        false);
    window->setBodyHTML(window->document().body().innerHTML() +
                        QStringLiteral("<div><object data=\"cid:12345\"></object></div>"
                                       "<object type=\"no-data\"></object>"
                                       "<object data=\"cid:orphan\"></object>"));
    // Attached but never referenced by the body: not measured.
    window->addAttachment(
        {QStringLiteral("unreferenced"), QStringLiteral("/nonexistent"), QStringLiteral("b.pdf"), 50 * MiB},
        false);

    double critical = 0;
    EXPECT_EQ(selection(&critical), std::nullopt); // 4 MiB only

    window->addAttachment(
        {QStringLiteral("orphan"), QStringLiteral("/nonexistent"), QStringLiteral("c.pdf"), 2 * MiB}, false);
    EXPECT_EQ(selection(&critical), (QStringList{QStringLiteral("12345"), QStringLiteral("orphan")}));
    EXPECT_DOUBLE_EQ(critical, 6.0);
}

TEST_F(SendDecisionTest, WithoutALinkedServiceTheReminderOffersSendOrConfigure) {
    setThreshold(5, 1);
    EXPECT_TRUE(settings.setBool(false, keys::askBeforeUpload)); // ignored: there is nowhere to upload to
    EXPECT_TRUE(settings.setInteger(9, keys::selectedService));  // selected, but not linked
    attach(window, QStringLiteral("big"), 8 * MiB);

    host.pressSend(window);
    ASSERT_EQ(host.testUi().sheets.size(), 1);
    const host::AlertRequest& sheet = host.testUi().sheets.first().request;
    EXPECT_EQ(sheet.title, QStringLiteral("Quillmoor Attachment Reminder"));
    EXPECT_TRUE(sheet.informativeText.startsWith(
        "At least one of the attached files exceeds the configured threshold "
        "of 5.00 MByte with its 8.00 MByte.\n"));
    EXPECT_TRUE(sheet.informativeText.endsWith(
        "Do you want to configure a cloud service now or just send the email?"));
    EXPECT_EQ(sheet.defaultButton, QStringLiteral("Send Attachments"));
    EXPECT_EQ(sheet.alternateButton, QStringLiteral("Configure Quillmoor"));
    EXPECT_TRUE(sheet.otherButton.isEmpty());
    EXPECT_EQ(host.testUi().sheets.first().window, window->window);
    EXPECT_TRUE(sheet.iconPath.endsWith(QStringLiteral("Quillmoor.png")));

    ASSERT_TRUE(host.testUi().answerOpenSheet(host::AlertAlternateReturn));
    EXPECT_EQ(host.preferencesShown, 1);
    EXPECT_EQ(host.preferencesOwnersShown.size(), 1);
    EXPECT_TRUE(window->sent.isEmpty());

    host.pressSend(window);
    ASSERT_TRUE(host.testUi().answerOpenSheet(host::AlertDefaultReturn));
    ASSERT_EQ(window->sent.size(), 1);
    EXPECT_EQ(window->sent.first().sender.lock(), window); // the editor is the sender
    EXPECT_TRUE(window->sent.first().bodyHTML.contains(QStringLiteral("cid:big")));
    EXPECT_TRUE(pipeline.started.isEmpty());
}

TEST_F(SendDecisionTest, UploadSheetAnswersEachHaveTheirAction) {
    linkService();
    setThreshold(5, 0);
    EXPECT_TRUE(settings.setBool(true, keys::askBeforeUpload));
    attach(window, QStringLiteral("x"), 4 * MiB);
    attach(window, QStringLiteral("y"), 4 * MiB);
    const QString bodyBefore = window->bodyHTML();

    host.testUi().scriptSheetAnswers(
        {host::AlertAlternateReturn, host::AlertOtherReturn, host::AlertDefaultReturn});
    host.pressSend(window);
    drainEvents();
    ASSERT_EQ(host.testUi().sheets.size(), 1);
    const host::AlertRequest& sheet = host.testUi().sheets.first().request;
    EXPECT_TRUE(
        sheet.informativeText.startsWith("The attached files of this email message exceed the configured "
                                         "threshold of 5.00 MByte with a total of 8.00 MByte.\n"));
    EXPECT_FALSE(sheet.informativeText.contains("configure a cloud service"));
    EXPECT_EQ(sheet.defaultButton, QStringLiteral("Upload Attachments"));
    EXPECT_EQ(sheet.alternateButton, QStringLiteral("Cancel"));
    EXPECT_EQ(sheet.otherButton, QStringLiteral("Send Attachments"));
    // Cancel: nothing happens to the message.
    EXPECT_TRUE(window->sent.isEmpty());
    EXPECT_TRUE(pipeline.started.isEmpty());
    EXPECT_EQ(window->bodyHTML(), bodyBefore);

    host.pressSend(window); // "Send Attachments"
    drainEvents();
    ASSERT_EQ(window->sent.size(), 1);
    EXPECT_EQ(window->sent.first().sender.lock(), window);

    host.pressSend(window); // "Upload Attachments"
    drainEvents();
    ASSERT_EQ(pipeline.started.size(), 1);
    EXPECT_EQ(pipeline.started.first(), window);
    EXPECT_EQ(window->sent.size(), 1);
}

TEST_F(SendDecisionTest, NotAskingStartsTheUploadAtOnceWithTheSelectedIDs) {
    linkService();
    setThreshold(5, 1);
    EXPECT_TRUE(settings.setBool(false, keys::askBeforeUpload));
    attach(window, QStringLiteral("small"), 2 * MiB);
    attach(window, QStringLiteral("large"), 9 * MiB);

    host.pressSend(window);
    EXPECT_TRUE(host.testUi().sheets.isEmpty());
    ASSERT_EQ(pipeline.started.size(), 1);
    // The pipeline asks again and gets exactly the large file.
    double critical = 0;
    EXPECT_EQ(plugin::attachmentIDArrayWithCriticalFileSize(host::ComposeWindow(pipeline.started.first()),
                                                            settings, &critical),
              QStringList{QStringLiteral("large")});
}

TEST_F(SendDecisionTest, ClosingTheWindowLetsThePipelineForgetItThenRunsTheHostsClose) {
    host.closeWindow(window);
    ASSERT_EQ(pipeline.closed.size(), 1);
    EXPECT_EQ(pipeline.closed.first(), window);
    EXPECT_EQ(window->closeCount, 1);
}

TEST_F(SendDecisionTest, ASheetAnsweredAfterItsWindowWentAwayDoesNothing) {
    linkService();
    EXPECT_TRUE(settings.setBool(true, keys::askBeforeUpload));
    setThreshold(1, 0);
    attach(window, QStringLiteral("x"), 2 * MiB);
    host.pressSend(window);
    window.reset();
    EXPECT_TRUE(host.testUi().answerOpenSheet(host::AlertDefaultReturn));
    EXPECT_TRUE(pipeline.started.isEmpty());
}

TEST_F(SendDecisionTest, ActiveServiceNeedsASelectedAndLinkedService) {
    using upload::ServiceId;
    EXPECT_EQ(plugin::activeService(settings, services), ServiceId::None); // nothing selected
    services.setIsLinked(true, ServiceId::Generic);
    EXPECT_EQ(plugin::activeService(settings, services), ServiceId::None);
    EXPECT_TRUE(settings.setInteger(0, keys::selectedService)); // Dropbox: no class in this build
    EXPECT_EQ(plugin::selectedService(settings), ServiceId::Dropbox);
    EXPECT_EQ(plugin::activeService(settings, services), ServiceId::None);
    EXPECT_TRUE(settings.setInteger(9, keys::selectedService));
    EXPECT_EQ(plugin::activeService(settings, services), ServiceId::Generic);
    EXPECT_TRUE(settings.setInteger(12, keys::selectedService)); // names no service
    EXPECT_EQ(plugin::selectedService(settings), ServiceId::None);
    EXPECT_TRUE(settings.setInteger(9, keys::selectedService));
    services.setIsLinked(false, ServiceId::Generic);
    EXPECT_EQ(plugin::activeService(settings, services), ServiceId::None);
}

class MuteComposeWindowTest : public PluginFixture {
protected:
    MuteComposeWindowTest()
        : PluginFixture(TestHost::Options{QStringLiteral("DocumentEditor"), false, {}}) {}
};

TEST_F(MuteComposeWindowTest, AWindowWhoseObjectsAnswerNothingIsSentUnchanged) {
    linkService();
    auto window = host.newComposeWindow(QStringLiteral("<object data=\"cid:x\"></object>"));
    host.pressSend(window);
    EXPECT_EQ(window->sent.size(), 1);
    EXPECT_TRUE(host.testUi().sheets.isEmpty());
    EXPECT_TRUE(pipeline.started.isEmpty());
}

} // namespace
} // namespace qm::test
