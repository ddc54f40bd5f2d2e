#include "cli_test_support.h"

#include "cli/cli_error.h"
#include "cli/cli_host.h"
#include "cli/compose_body.h"
#include "cli/message_loader.h"
#include "cli/message_writer.h"
#include "cli/outgoing_message.h"
#include "cli/terminal_ui.h"
#include "plugin/attachment_pipeline.h"
#include "support/test_support.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

using qm::cli::LoadedMessage;
using qm::cli::MessageWriter;
using qm::cli::OutgoingMessage;

// Loads a fixture into a compose window, lets a test change the window, and writes what the host's send
// would write.
class MessageWriterTest : public ::testing::Test {
protected:
    MessageWriterTest()
        : bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                 {QStringLiteral("en")})
        , ui(bundle, {std::nullopt, -1, &errors, false})
        , host(ui, [](host::InMemoryComposeWindow&, const QVariant&) {}, {}) {
        errors.open(QIODevice::WriteOnly);
    }

    std::shared_ptr<host::InMemoryComposeWindow> open(const QString& fixture) {
        auto result = qm::cli::MessageLoader(folder.path()).load(fixturePath(fixture));
        if (!result) {
            ADD_FAILURE() << result.error().localizedDescription.toStdString();
            return nullptr;
        }
        loaded = *result;
        auto window = host.newComposeWindow();
        loaded.fill(*window);
        return window;
    }

    ParsedMessage write(const host::InMemoryComposeWindow& window, MessageWriter::Options options = {}) {
        const QString path = folder.filePath(QStringLiteral("out-%1.eml").arg(++written));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        const auto written =
            MessageWriter::write(OutgoingMessage::fromWindow(window, loaded), file.handle(), options);
        EXPECT_TRUE(written) << (written ? std::string()
                                         : written.error().localizedDescription.toStdString());
        file.close();
        lastBytes = readFile(path);
        return parseMessageFile(path);
    }

    // A change the plug-in could make that leaves the text alone: the message is then composed anew.
    static void edit(host::InMemoryComposeWindow& window) {
        window.document().body().setAttribute(QStringLiteral("data-edited"), QStringLiteral("yes"));
    }
    // The bytes from the first boundary or body line on, where the headers end.
    // Files are written with the local line ends, whatever the fixture has.
    static QByteArray bodyOf(QByteArray bytes) {
        bytes.replace("\r\n", "\n");
        return bytes.mid(bytes.indexOf("\n\n"));
    }

    QTemporaryDir folder;
    platform::Bundle bundle;
    QBuffer errors;
    qm::cli::TerminalUi ui;
    qm::cli::CliHost host;
    LoadedMessage loaded;
    QByteArray lastBytes;
    int written = 0;
};

TEST_F(MessageWriterTest, RichMessageWithAttachmentsHasAlternativeBodyAndTheFilesByteForByte) {
    auto window = open(QStringLiteral("html_attachments.eml"));
    ASSERT_TRUE(window);
    edit(*window);
    const ParsedMessage sent = write(*window);
    ASSERT_TRUE(sent.valid);
    EXPECT_EQ(sent.structure,
              (QStringList{QStringLiteral("multipart/mixed"), QStringLiteral(" multipart/alternative"),
                           QStringLiteral("  text/plain"), QStringLiteral("  text/html"),
                           QStringLiteral(" application/pdf"), QStringLiteral(" application/octet-stream")}));
    ASSERT_EQ(sent.attachmentNames(),
              (QStringList{QStringLiteral("report.pdf"), QStringLiteral("data.bin")}));
    EXPECT_EQ(sent.attachments[0].bytes, fixturePdf());
    EXPECT_EQ(sent.attachments[0].contentID, QStringLiteral("report-3F2A@example.org"));
    EXPECT_EQ(sent.attachments[1].bytes, fixtureBinary());
    EXPECT_EQ(sent.text, QStringLiteral("Hi Ada,\n\nhere is the report and the raw data.\n\nBest,\nJane\n"));
    EXPECT_FALSE(sent.html.contains(QStringLiteral("<object")));
    EXPECT_TRUE(sent.html.contains(QStringLiteral("here is the report and the raw data.")));
}

TEST_F(MessageWriterTest, HeadersAreKeptExceptBccAndDateAndMessageIDAreNew) {
    auto window = open(QStringLiteral("html_attachments.eml"));
    ASSERT_TRUE(window);
    const ParsedMessage sent = write(*window);
    EXPECT_EQ(sent.headers.value(QStringLiteral("subject")), QStringLiteral("Quarterly report"));
    EXPECT_EQ(sent.headers.value(QStringLiteral("x-mailer")), QStringLiteral("Apple Mail (2.3774.600.62)"));
    EXPECT_TRUE(sent.headers.value(QStringLiteral("cc")).contains(QStringLiteral("carol@example.com")));
    EXPECT_FALSE(sent.headers.contains(QStringLiteral("bcc")));
    EXPECT_NE(sent.headers.value(QStringLiteral("message-id")),
              QStringLiteral("<A1B2C3D4-0001@example.org>"));
    EXPECT_TRUE(sent.headers.value(QStringLiteral("message-id")).endsWith(QStringLiteral("@example.org>")));
    EXPECT_FALSE(sent.headers.value(QStringLiteral("date")).contains(QStringLiteral("2024")));
    EXPECT_EQ(sent.headerNames.count(QStringLiteral("Date")), 1);
    EXPECT_EQ(sent.headerNames.count(QStringLiteral("MIME-Version")), 1);
    EXPECT_FALSE(lastBytes.contains("\r\n"));

    const ParsedMessage forSendmail = write(*window, {.keepBcc = true, .crlf = true});
    EXPECT_EQ(forSendmail.headers.value(QStringLiteral("bcc")), QStringLiteral("archive@example.org"));
    EXPECT_EQ(lastBytes.count("\n"), lastBytes.count("\r\n")) << "every line ends in CRLF";
}

TEST_F(MessageWriterTest, HiddenAttachmentsAndRemovedObjectsAreNotSentAndLeaveNoTrace) {
    auto window = open(QStringLiteral("html_attachments.eml"));
    ASSERT_TRUE(window);
    // What the pipeline does while uploading: the object becomes a comment holding its markup.
    plugin::AttachmentPipeline::commentAttachmentsForIDs(host::ComposeWindow(window),
                                                         {loaded.attachments[1].attachment.contentID});
    const ParsedMessage sent = write(*window);
    EXPECT_EQ(sent.attachmentNames(), QStringList{QStringLiteral("report.pdf")});
    EXPECT_FALSE(sent.html.contains(QStringLiteral("<!--")));
    EXPECT_FALSE(sent.html.contains(QStringLiteral("object")));
    EXPECT_TRUE(window->bodyHTML().contains(QStringLiteral("<!--<object")))
        << "the window itself is left alone";

    // An attachment whose object element is gone from the body is not sent either.
    for (platform::dom::Node object : window->document().nodesForXPath(QStringLiteral("//object")))
        object.detach();
    const ParsedMessage bare = write(*window);
    EXPECT_TRUE(bare.attachments.isEmpty());
    EXPECT_EQ(bare.structure, (QStringList{QStringLiteral("multipart/alternative"),
                                           QStringLiteral(" text/plain"), QStringLiteral(" text/html")}));
}

TEST_F(MessageWriterTest, PlainTextMessageStaysPlainText) {
    auto window = open(QStringLiteral("plain_text.eml"));
    ASSERT_TRUE(window);
    edit(*window);
    const ParsedMessage sent = write(*window);
    EXPECT_EQ(sent.structure, QStringList{QStringLiteral("text/plain")});
    EXPECT_EQ(
        sent.text,
        QStringLiteral(
            "Hallo Ada,\n\nanbei nichts, nur ein Grüß aus Köln. Dieser Absatz ist so lang, dass er "
            "umbrochen wird und weiterläuft.\n\n  Eingerückt bleibt eingerückt.\n\nViele Grüße\nJürgen\n"));
    EXPECT_EQ(sent.headers.value(QStringLiteral("subject")), QStringLiteral("Grüße aus Köln"));
}

TEST_F(MessageWriterTest, InlineImagesAreSentAgainAsRelatedParts) {
    auto window = open(QStringLiteral("related_inline.eml"));
    ASSERT_TRUE(window);
    edit(*window);
    const ParsedMessage sent = write(*window);
    EXPECT_EQ(sent.structure,
              (QStringList{QStringLiteral("multipart/mixed"), QStringLiteral(" multipart/alternative"),
                           QStringLiteral("  text/plain"), QStringLiteral("  multipart/related"),
                           QStringLiteral("   text/html"), QStringLiteral("   image/png"),
                           QStringLiteral(" image/png"), QStringLiteral(" application/pdf")}));
    ASSERT_EQ(sent.inlineParts.size(), 1);
    EXPECT_EQ(sent.inlineParts[0].contentID, QStringLiteral("logo.png@example.org"));
    EXPECT_EQ(sent.inlineParts[0].bytes, fixturePng());
    EXPECT_TRUE(sent.html.contains(QStringLiteral("cid:logo.png@example.org")));
    EXPECT_EQ(sent.attachmentNames(),
              (QStringList{QStringLiteral("unused.png"), QStringLiteral("programme.pdf")}));
}

TEST_F(MessageWriterTest, ReplyKeepsItsQuoteAndNonAsciiNamesSurvive) {
    auto reply = open(QStringLiteral("reply_quoted.eml"));
    ASSERT_TRUE(reply);
    edit(*reply);
    const ParsedMessage sentReply = write(*reply);
    EXPECT_TRUE(sentReply.text.contains(QStringLiteral(
        "On 05.03.24 09:14, Jane Doe wrote:\n> Hi Ada,\n> here is the report.\n>> Earlier still.\n")))
        << sentReply.text.toStdString();
    EXPECT_EQ(sentReply.headers.value(QStringLiteral("in-reply-to")),
              QStringLiteral("<A1B2C3D4-0001@example.org>"));

    auto names = open(QStringLiteral("non_ascii_names.eml"));
    ASSERT_TRUE(names);
    const ParsedMessage sentNames = write(*names);
    EXPECT_EQ(sentNames.attachmentNames(),
              (QStringList{QStringLiteral("Übersicht März.pdf"), QStringLiteral("Präsentation für 東京.bin"),
                           QStringLiteral("école.png")}));
    ASSERT_TRUE(sentNames.attachmentNamed(QStringLiteral("école.png")));
    EXPECT_EQ(sentNames.attachmentNamed(QStringLiteral("école.png"))->bytes, fixturePng());
}

TEST_F(MessageWriterTest, AForwardedMessageTravelsAsMessageRfc822) {
    const QString path = folder.filePath(QStringLiteral("forward.eml"));
    writeFile(
        path,
        "From: a@example.org\nTo: b@example.org\nSubject: Fwd: plans\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=f\n\n--f\nContent-Type: text/plain\n\nSee below.\n"
        "--f\nContent-Type: message/rfc822\n\nFrom: c@example.org\nSubject: plans\n\nThe plans.\n--f--\n");
    auto result = qm::cli::MessageLoader(folder.path()).load(path);
    ASSERT_TRUE(result);
    loaded = *result;
    ASSERT_EQ(loaded.attachments.size(), 1);
    EXPECT_EQ(loaded.attachments[0].attachment.filename, QStringLiteral("plans.eml"));
    EXPECT_EQ(loaded.attachments[0].mimeType, QStringLiteral("message/rfc822"));
    auto window = host.newComposeWindow();
    loaded.fill(*window);
    edit(*window);
    const ParsedMessage sent = write(*window);
    EXPECT_TRUE(sent.structure.contains(QStringLiteral(" message/rfc822")));
    EXPECT_FALSE(lastBytes.contains("Content-Transfer-Encoding: base64"))
        << "message/rfc822 is never encoded";
    ASSERT_EQ(sent.attachments.size(), 1);
    EXPECT_TRUE(sent.attachments[0].bytes.contains("Subject: plans"));
    EXPECT_TRUE(sent.attachments[0].bytes.contains("The plans."));
}

TEST_F(MessageWriterTest, AnUnreadableAttachmentIsAnError) {
    auto window = open(QStringLiteral("alternative_attachments.eml"));
    ASSERT_TRUE(window);
    // Only an attachment that is not the part it came as is read from its file.
    window->addAttachment({QStringLiteral("added@example.org"), folder.filePath(QStringLiteral("gone.bin")),
                           QStringLiteral("gone.bin"), std::nullopt},
                          false);
    window->setBodyHTML(loaded.bodyHTML +
                        qm::cli::compose_body::objectElement(QStringLiteral("added@example.org"),
                                                             QStringLiteral("application/octet-stream")));
    QFile file(folder.filePath(QStringLiteral("broken.eml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const auto written =
        MessageWriter::write(OutgoingMessage::fromWindow(*window, loaded), file.handle(), {});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, qm::cli::AttachmentFailed);
}

TEST_F(MessageWriterTest, WhatTheWindowDidNotChangeLeavesAsItCame) {
    for (const char* fixture : {"html_attachments.eml", "inline_text_between.eml", "related_inline.eml",
                                "apple_pdf_between_html.eml"}) {
        SCOPED_TRACE(fixture);
        auto window = open(QString::fromLatin1(fixture));
        ASSERT_TRUE(window);
        write(*window);
        EXPECT_EQ(bodyOf(lastBytes), bodyOf(readFile(fixturePath(QString::fromLatin1(fixture)))));
    }
    // Composed anew, the attachment that stays is still the part it came as: its headers and its Base64
    // lines.
    auto window = open(QStringLiteral("html_attachments.eml"));
    ASSERT_TRUE(window);
    plugin::AttachmentPipeline::commentAttachmentsForIDs(host::ComposeWindow(window),
                                                         {loaded.attachments[1].attachment.contentID});
    write(*window);
    const QByteArray source = readFile(fixturePath(QStringLiteral("html_attachments.eml")));
    const qsizetype pdf = source.indexOf("Content-Disposition: attachment;\n\tfilename=report.pdf");
    EXPECT_TRUE(lastBytes.contains(source.mid(pdf, source.indexOf("\n--", pdf) - pdf)));
}

TEST_F(MessageWriterTest, ANulOrABareCrInAHeaderBreaksNoOtherHeader) {
    writeFile(folder.filePath(QStringLiteral("nul.eml")),
              QByteArrayLiteral("From: a@example.org\nTo: b@example.org\nX-Cut: one\0two\n"
                                "Subject: kept\nX-Carriage: bare\rreturn\n\nHello.\n"));
    auto result = qm::cli::MessageLoader(folder.path()).load(folder.filePath(QStringLiteral("nul.eml")));
    ASSERT_TRUE(result);
    loaded = *result;
    EXPECT_TRUE(loaded.warnings.join(u' ').contains(QStringLiteral("\"X-Cut\" is cut short by a NUL")));
    auto window = host.newComposeWindow();
    loaded.fill(*window);
    for (const bool crlf : {false, true}) {
        const ParsedMessage sent = write(*window, {.keepBcc = false, .crlf = crlf});
        EXPECT_EQ(sent.headers.value(QStringLiteral("subject")), QStringLiteral("kept"));
        EXPECT_EQ(lastBytes.count('\r'), crlf ? lastBytes.count('\n') : 0);
    }
}

} // namespace
} // namespace qm::test::cli
