#include "cli_test_support.h"

#include "cli/cli_error.h"
#include "cli/message_loader.h"
#include "cli/source_message.h"
#include "platform/html_dom.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace qm::test::cli {
namespace {

using qm::cli::LoadedMessage;
using qm::cli::MessageLoader;
namespace dom = platform::dom;

class MessageLoaderTest : public ::testing::Test {
protected:
    LoadedMessage loadPath(const QString& path) {
        auto result = MessageLoader(folder.path()).load(path);
        if (!result) {
            ADD_FAILURE() << result.error().localizedDescription.toStdString();
            return {};
        }
        return std::move(*result);
    }
    LoadedMessage load(const QString& fixture) { return loadPath(fixturePath(fixture)); }
    // A message of the test's own, written to a file first.
    LoadedMessage loadText(const QByteArray& text) {
        writeFile(folder.filePath("own.eml"), text);
        return loadPath(folder.filePath("own.eml"));
    }

    static dom::Document bodyOf(const LoadedMessage& message) {
        return dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(message.bodyHTML));
    }
    static QStringList objectIDs(const LoadedMessage& message) {
        QStringList ids;
        for (const dom::Node& object : bodyOf(message).nodesForXPath("//object"))
            ids.append(object.getAttribute("data").mid(4));
        return ids;
    }
    static QStringList names(const LoadedMessage& message) {
        QStringList list;
        for (const auto& attachment : message.attachments)
            list.append(attachment.attachment.filename);
        return list;
    }
    // The text of the one quoted-message wrapper, or how many there were.
    static QString quoted(const LoadedMessage& message) {
        const dom::Document body = bodyOf(message);
        const auto wrappers = body.body().descendantsWithClassName("AppleOriginalContents");
        return wrappers.size() == 1 ? wrappers.first().textContent() : QString::number(wrappers.size());
    }

    QTemporaryDir folder;
};

TEST_F(MessageLoaderTest, EveryKindOfFixtureMessageLoads) {
    const struct {
        const char* fixture;
        bool richText;
        const char* subject;
        QStringList attachments;
    } cases[] = {
        {"html_attachments.eml", true, "Quarterly report", {"report.pdf", "data.bin"}},
        {"plain_text.eml", false, "Grüße aus Köln", {}},
        {"alternative_attachments.eml", true, "Photos and data", {"photo.png", "data.bin"}},
        // The image the HTML never shows would be lost as a related part; it travels as an attachment.
        {"related_inline.eml", true, "Spring newsletter", {"unused.png", "programme.pdf"}},
        {"reply_quoted.eml", true, "Re: Quarterly report", {"notes.pdf"}},
        {"non_ascii_names.eml",
         false,
         "Übersicht und Präsentation",
         {"Übersicht März.pdf", "Präsentation für 東京.bin", "école.png"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        const LoadedMessage message = load(c.fixture);
        EXPECT_EQ(message.richText, c.richText);
        EXPECT_EQ(message.subject, QString::fromUtf8(c.subject));
        EXPECT_EQ(names(message), c.attachments);
        EXPECT_TRUE(message.source);
        for (const auto& attachment : message.attachments) // decoded into the folder given, nowhere else
            EXPECT_EQ(QFileInfo(attachment.attachment.filePath).absolutePath(),
                      QDir(folder.path()).absolutePath());
    }
}

TEST_F(MessageLoaderTest, HtmlWithAttachmentsHasItsAddressesFilesAndObjectsInPlace) {
    const LoadedMessage message = load("html_attachments.eml");
    EXPECT_EQ(message.recipients,
              (QStringList{"Ada Lovelace <ada@example.com>", "bob@example.com",
                           "Carol (Finance) <carol@example.com>", "archive@example.org"}));
    EXPECT_EQ(message.sender, "jane@example.org");
    EXPECT_EQ(message.envelopeRecipients.size(), 4);
    ASSERT_EQ(message.attachments.size(), 2);
    EXPECT_EQ(message.attachments[0].attachment.contentID, "report-3F2A@example.org");
    EXPECT_EQ(message.attachments[0].mimeType, "application/pdf");
    EXPECT_FALSE(message.attachments[1].attachment.contentID.isEmpty());
    EXPECT_EQ(readFile(message.attachments[0].attachment.filePath), fixturePdf());
    EXPECT_EQ(readFile(message.attachments[1].attachment.filePath), fixtureBinary());
    EXPECT_EQ(objectIDs(message), (QStringList{message.attachments[0].attachment.contentID,
                                               message.attachments[1].attachment.contentID}));
    // The objects stand between the two HTML parts, where the sender put the attachments.
    const QString body = message.bodyHTML;
    EXPECT_LT(body.indexOf("raw data"), body.indexOf("<object"));
    EXPECT_LT(body.lastIndexOf("<object"), body.indexOf("Best,"));
    EXPECT_TRUE(body.contains("p.note")) << "the head's style sheet is kept";
}

TEST_F(MessageLoaderTest, PlainTextHasItsCharsetDecodedAndFlowedLinesJoined) {
    const LoadedMessage message = load("plain_text.eml");
    EXPECT_EQ(message.recipients, QStringList{"Ada <ada@example.com>"});
    const dom::Document body = bodyOf(message);
    const QString text = body.body().textContent();
    EXPECT_TRUE(text.contains("Grüß aus Köln"));
    EXPECT_TRUE(text.contains("umbrochen wird und weiterläuft.")) << text.toStdString();
    EXPECT_TRUE(text.contains("  Eingerückt")) << "space-stuffing is undone once";
    EXPECT_EQ(body.nodesForXPath("//br").size(), 8);
}

TEST_F(MessageLoaderTest, AlternativeRelatedAndNonAsciiDetails) {
    const LoadedMessage alternative = load("alternative_attachments.eml");
    EXPECT_TRUE(alternative.bodyHTML.contains("<div dir=\"ltr\">"));
    EXPECT_EQ(alternative.bodyHTML.count("the photo and the data are attached"), 1) << "one alternative only";
    EXPECT_EQ(alternative.attachments[0].attachment.contentID, "f_lt1photo0");
    EXPECT_EQ(readFile(alternative.attachments[0].attachment.filePath), fixturePng());
    EXPECT_EQ(objectIDs(alternative).size(), 2);

    const LoadedMessage related = load("related_inline.eml");
    EXPECT_TRUE(related.bodyHTML.contains("src=\"cid:logo.png@example.org\""));
    ASSERT_EQ(related.source->inlineParts.size(), 1);
    EXPECT_EQ(related.source->inlineParts[0].contentID, "logo.png@example.org");
    EXPECT_FALSE(objectIDs(related).contains("logo.png@example.org"));

    const LoadedMessage named = load("non_ascii_names.eml");
    EXPECT_EQ(named.recipients, QStringList{"Renée François <renee@example.fr>"});
    EXPECT_EQ(readFile(named.attachments[1].attachment.filePath), fixtureBinary());
}

TEST_F(MessageLoaderTest, QuotedMessagesAreWrappedWithTheirCitationLine) {
    const LoadedMessage message = load("reply_quoted.eml");
    const QString wrapper = quoted(message);
    EXPECT_TRUE(wrapper.contains("Jane Doe wrote:"));
    EXPECT_TRUE(wrapper.contains("Earlier still."));
    EXPECT_FALSE(wrapper.contains("Thanks, my notes"));
    EXPECT_FALSE(wrapper.contains("PS: see you Monday"));
    const dom::Document body = bodyOf(message);
    const auto wrappers = body.body().descendantsWithClassName("AppleOriginalContents");
    ASSERT_EQ(wrappers.size(), 1);
    EXPECT_EQ(wrappers.first().getElementsByTagName("blockquote").size(), 2)
        << "the inner quote stays inside";

    EXPECT_EQ(quoted(loadText(
                  "From: a@example.org\nTo: b@example.org\nSubject: Re: x\nContent-Type: text/plain; "
                  "charset=utf-8\n\nFine by me.\n\nOn Monday, B wrote:\n> first\n> second\n\n-- \nA\n")),
              "On Monday, B wrote:> first> second");
}

TEST_F(MessageLoaderTest, ContentIDsThatContainOneAnotherAreMadeUnique) {
    const LoadedMessage message = loadText(
        "From: a@example.org\nTo: b@example.org\nSubject: ids\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n"
        "--b\nContent-Type: application/octet-stream; name=a.bin\nContent-ID: <part1>\n\nA\n"
        "--b\nContent-Type: application/octet-stream; name=b.bin\nContent-ID: <part10>\n\nB\n"
        "--b\nContent-Type: application/octet-stream; name=c.bin\nContent-ID: <part1>\n\nC\n--b--\n");
    ASSERT_EQ(message.attachments.size(), 3);
    EXPECT_EQ(message.attachments[0].attachment.contentID, "part1");
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (i != j) {
                EXPECT_FALSE(message.attachments[i].attachment.contentID.contains(
                    message.attachments[j].attachment.contentID));
            }
        }
    }
}

TEST_F(MessageLoaderTest, MalformedMessagesAreRefusedWithAReason) {
    for (const QString fixture : {"malformed_no_boundary.eml", "malformed_not_a_message.eml"}) {
        auto result = MessageLoader(folder.path()).load(fixturePath(fixture));
        ASSERT_FALSE(result) << fixture.toStdString();
        const platform::Error error = result.error();
        EXPECT_EQ(error.code, qm::cli::MalformedMessage);
        EXPECT_TRUE(error.localizedDescription.contains(fixture));
    }
    auto missing = MessageLoader(folder.path()).load(folder.filePath("absent.eml"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, qm::cli::UnreadableMessage);
    EXPECT_FALSE(MessageLoader(folder.path()).load(folder.path()));
}

TEST_F(MessageLoaderTest, DamageIsRefusedOrNamedWithItsRealReason) {
    auto cut = MessageLoader(folder.path()).load(fixturePath("truncated_attachment.eml"), "standard input");
    ASSERT_FALSE(cut) << "a message cut off inside an attachment is not sent";
    EXPECT_EQ(cut.error().code, qm::cli::MalformedMessage);
    EXPECT_TRUE(cut.error().localizedDescription.startsWith("standard input: malformed message: "));
    EXPECT_TRUE(cut.error().localizedDescription.contains("cut off"));

    const LoadedMessage base64 =
        loadText("From: a@example.org\nTo: b@example.org\nSubject: b64\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n"
                 "--b\nContent-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: "
                 "base64\n\nQUJDRA\n"
                 "--b\nContent-Type: application/octet-stream; name=b.bin\nContent-Transfer-Encoding: "
                 "base64\n\n!!!!\n--b--\n");
    ASSERT_EQ(base64.attachments.size(), 2);
    EXPECT_EQ(readFile(base64.attachments[0].attachment.filePath), "ABCD")
        << "an unpadded last group is decoded whole";
    EXPECT_EQ(base64.warnings,
              QStringList{"the attachment \"b.bin\" is not valid Base64: 4 characters that are not Base64 "
                          "were skipped: it arrives empty"});

    // A full disk while decoding says so.
    QTemporaryDir full;
    ASSERT_TRUE(QFile::link("/dev/full", full.filePath("attachment-1")));
    auto error = MessageLoader(full.path()).load(fixturePath("html_attachments.eml"));
    ASSERT_FALSE(error);
    EXPECT_EQ(error.error().code, qm::cli::AttachmentFailed);
    EXPECT_TRUE(error.error().localizedDescription.contains("\"report.pdf\""));
    EXPECT_TRUE(error.error().localizedDescription.contains("No space left on device"));
}

TEST_F(MessageLoaderTest, PartsKeepTheRoleTheSenderGaveThem) {
    for (const auto& [fixture, protection] :
         {std::pair{"pgp_signed.eml", "signed"}, std::pair{"smime_encrypted.eml", "encrypted"}}) {
        const LoadedMessage message = load(fixture);
        EXPECT_EQ(message.protection, protection);
        EXPECT_TRUE(message.attachments.isEmpty()) << "nothing of it is taken apart";
        EXPECT_EQ(message.envelopeRecipients, QStringList{"ada@example.com"});
    }
    const LoadedMessage between = load("inline_text_between.eml");
    EXPECT_EQ(names(between), QStringList{"photo.png"});
    EXPECT_TRUE(between.bodyHTML.contains("Taken at the harbour at dawn."));
    const LoadedMessage apple = load("apple_pdf_between_html.eml");
    EXPECT_EQ(names(apple), QStringList{"draft.pdf"});
    EXPECT_LT(apple.bodyHTML.indexOf("the draft:"), apple.bodyHTML.indexOf("<object"));
    EXPECT_LT(apple.bodyHTML.indexOf("<object"), apple.bodyHTML.indexOf("my notes"));
}

TEST_F(MessageLoaderTest, TheMessageFileIsLeftUntouchedAndSpoolCopiesADescriptor) {
    const QString copy = folder.filePath("copy.eml");
    ASSERT_TRUE(QFile::copy(fixturePath("html_attachments.eml"), copy));
    const QByteArray before = readFile(copy);
    const QDateTime modified = QFileInfo(copy).lastModified();
    loadPath(copy);
    EXPECT_EQ(readFile(copy), before);
    EXPECT_EQ(QFileInfo(copy).lastModified(), modified);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], before.constData(), static_cast<size_t>(before.size())), before.size());
    ::close(fds[1]);
    EXPECT_TRUE(MessageLoader::spool(fds[0], folder.filePath("spooled.eml")));
    ::close(fds[0]);
    EXPECT_EQ(readFile(folder.filePath("spooled.eml")), before);
}

} // namespace
} // namespace qm::test::cli
