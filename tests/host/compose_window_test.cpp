#include "host/application.h"
#include "host/compose_window.h"
#include "host/in_memory_compose.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::host {
namespace {

class ComposeWindowTest : public ::testing::Test {
protected:
    Runtime runtime;
    QStringList events;
    Class* compose = InMemoryComposeClasses::define(
        runtime, QStringLiteral("DocumentEditor"),
        [this](InMemoryComposeWindow& window, const QVariant&) {
            events << QStringLiteral("send ") + window.subject;
        },
        [this](InMemoryComposeWindow&, const QVariant&) { events << QStringLiteral("close"); });
    std::shared_ptr<InMemoryComposeWindow> window = std::make_shared<InMemoryComposeWindow>(*compose);
    QTemporaryDir folder;
};

TEST_F(ComposeWindowTest, FacadesReadTheWindowThroughItsOperations) {
    window->subject = QStringLiteral("Report");
    window->recipients = {QStringLiteral("Ada <ada@example.org>"), QStringLiteral("bob@example.org")};
    window->richText = false;
    window->setBodyHTML(QStringLiteral("<p>Grüße</p>"));
    const QString path = folder.filePath(QStringLiteral("report.pdf"));
    test::writeFile(path, QByteArray("%PDF-1.4 contents"));
    window->addAttachment({QStringLiteral("cid-1"), path, {}, {}});
    window->addAttachment({QStringLiteral("cid-2"), path, QStringLiteral("claimed.bin"), 7 * 1048576}, false);

    const ComposeWindow editor(window);
    EXPECT_EQ(editor.backEnd().subject(), QStringLiteral("Report"));
    EXPECT_EQ(editor.backEnd().allRecipients(), window->recipients);
    EXPECT_FALSE(editor.webViewEditor().allowsRichText());
    EXPECT_EQ(editor.composeBody().outerHTML(),
              QStringLiteral("<body><p>Grüße</p><object data=\"cid:cid-1\" "
                             "type=\"application/octet-stream\"></object></body>"));
    EXPECT_EQ(editor.webViewEditor().webView().document().body(), editor.composeBody());

    const QList<AttachmentView> views = editor.backEnd().attachments();
    ASSERT_EQ(views.size(), 2);
    const AttachmentRecord first = views[0].attachment(), second = views[1].attachment();
    EXPECT_EQ(QStringList({first.contentID(), first.filename(), second.filename()}),
              QStringList({"cid-1", "report.pdf", "claimed.bin"}));
    EXPECT_EQ(first.approximateSize(), 17);
    EXPECT_EQ(second.approximateSize(), 7 * 1048576);

    const QString copy = folder.filePath(QStringLiteral("copy.pdf"));
    EXPECT_TRUE(first.fileWrapper().writeTo(copy));
    EXPECT_EQ(test::readFile(copy), QByteArray("%PDF-1.4 contents"));
    EXPECT_FALSE(first.fileWrapper().writeTo(folder.filePath(QStringLiteral("missing-folder/x"))));

    EXPECT_TRUE(editor.saveMessageToDrafts());
    EXPECT_EQ(window->draftsSaved, 1);
    editor.call(QStringLiteral("send:"), {QVariant()});
    EXPECT_EQ(events, QStringList{QStringLiteral("send Report")});
}

TEST_F(ComposeWindowTest, PartsHandedOutDoNotKeepTheWindowAlive) {
    const ComposeBackEnd backEnd = ComposeWindow(window).backEnd();
    const WebViewEditor editor = ComposeWindow(window).webViewEditor();
    window.reset();
    EXPECT_TRUE(backEnd.subject().isNull());
    EXPECT_TRUE(backEnd.attachments().isEmpty());
    EXPECT_TRUE(editor.webView().contentElement().isNull());
}

TEST(MissingOperationsTest, EveryFacadeAnswersNilZeroOrNoWhenNothingIsAnswered) {
    Runtime runtime;
    Class* mute = runtime.addClass(QStringLiteral("MuteEditor"));
    const ComposeWindow nothing(std::make_shared<Object>(*mute));
    const ComposeWindow null;

    for (const ComposeWindow& editor : {nothing, null}) {
        EXPECT_TRUE(editor.backEnd().isNull());
        EXPECT_TRUE(editor.backEnd().attachments().isEmpty());
        EXPECT_TRUE(editor.backEnd().subject().isNull());
        EXPECT_TRUE(editor.backEnd().allRecipients().isEmpty());
        EXPECT_FALSE(editor.webViewEditor().allowsRichText());
        EXPECT_TRUE(editor.composeBody().isNull());
        EXPECT_TRUE(editor.webViewEditor().webView().document().isNull());
        EXPECT_EQ(editor.window(), nullptr);
        EXPECT_FALSE(editor.saveMessageToDrafts());
        EXPECT_FALSE(editor.call(QStringLiteral("send:")).isValid());
    }
    const AttachmentRecord record(std::make_shared<Object>(*mute));
    EXPECT_TRUE(record.contentID().isNull());
    EXPECT_EQ(record.approximateSize(), 0);
    EXPECT_FALSE(record.fileWrapper().writeTo(QStringLiteral("/tmp/never")));

    EXPECT_TRUE(PreferencesController::shared(runtime).isNull());
    Application(nullptr).showPreferencesPanel(); // quietly nothing
}

TEST(MissingOperationsTest, AnswersOfTheWrongKindCountAsNothing) {
    Runtime runtime;
    Class* odd = runtime.addClass(QStringLiteral("OddBackEnd"));
    odd->addInstanceMethod(QStringLiteral("subject"), [](const Invocation&) { return QVariant(42); });
    odd->addInstanceMethod(QStringLiteral("allRecipients"), [](const Invocation&) {
        return QVariant(QVariantList{QStringLiteral("a@example.org"), 7});
    });
    odd->addInstanceMethod(QStringLiteral("attachments"),
                           [](const Invocation&) { return QVariant(QStringLiteral("no list")); });
    const ComposeBackEnd backEnd(std::make_shared<Object>(*odd));
    EXPECT_TRUE(backEnd.subject().isNull());
    EXPECT_EQ(backEnd.allRecipients(), QStringList{QStringLiteral("a@example.org")});
    for (const AttachmentView& view : backEnd.attachments())
        EXPECT_TRUE(view.attachment().isNull());
}

TEST(CopyFileIntoTest, TheCopyIsWholeOrAbsentAndTheReservedNameKept) {
    QTemporaryDir folder;
    const QString from = folder.filePath(QStringLiteral("a.bin"));
    const QString to = folder.filePath(QStringLiteral("copy.bin"));
    const QByteArray bytes = QByteArray(1 << 20, 'a') + "end";
    test::writeFile(from, bytes);
    test::writeFile(to, {}); // the name a caller reserved
    ASSERT_TRUE(copyFileInto(from, to));
    EXPECT_EQ(test::readFile(to), bytes);

    const QString refused = folder.filePath(QStringLiteral("refused.bin"));
    test::writeFile(refused, {});
    {
        test::FileSizeLimit limit(64 * 1024);
        const auto copied = copyFileInto(from, refused);
        ASSERT_FALSE(copied);
        EXPECT_FALSE(copied.error().localizedDescription.isEmpty());
    }
    EXPECT_EQ(QFileInfo(refused).size(), 0);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 3);
}

} // namespace
} // namespace qm::host
