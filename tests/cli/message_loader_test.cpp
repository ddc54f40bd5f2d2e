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
    LoadedMessage load(const QString& fixture) {
        auto result = MessageLoader(folder.path()).load(fixturePath(fixture));
        if (const auto* error = std::get_if<platform::Error>(&result)) {
            ADD_FAILURE() << error->localizedDescription.toStdString();
            return {};
        }
        return std::get<LoadedMessage>(result);
    }

    static dom::Document bodyOf(const LoadedMessage& message) {
        return dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(message.bodyHTML));
    }

    static QStringList objectIDs(const LoadedMessage& message) {
        QStringList ids;
        for (const dom::Node& object : bodyOf(message).nodesForXPath(QStringLiteral("//object")))
            ids.append(object.getAttribute(QStringLiteral("data")).mid(4));
        return ids;
    }

    static QStringList names(const LoadedMessage& message) {
        QStringList list;
        for (const auto& attachment : message.attachments)
            list.append(attachment.attachment.filename);
        return list;
    }

    QTemporaryDir folder;
};

TEST_F(MessageLoaderTest, HtmlWithAttachmentsBecomesRichBodyWithObjectsInPlace) {
    const LoadedMessage message = load(QStringLiteral("html_attachments.eml"));
    EXPECT_TRUE(message.richText);
    EXPECT_EQ(message.subject, QStringLiteral("Quarterly report"));
    EXPECT_EQ(message.recipients, (QStringList{QStringLiteral("Ada Lovelace <ada@example.com>"),
                                               QStringLiteral("bob@example.com"),
                                               QStringLiteral("Carol (Finance) <carol@example.com>"),
                                               QStringLiteral("archive@example.org")}));
    EXPECT_EQ(message.sender, QStringLiteral("jane@example.org"));
    EXPECT_EQ(message.envelopeRecipients.size(), 4);
    ASSERT_EQ(names(message), (QStringList{QStringLiteral("report.pdf"), QStringLiteral("data.bin")}));
    EXPECT_EQ(message.attachments[0].attachment.contentID, QStringLiteral("report-3F2A@example.org"));
    EXPECT_EQ(message.attachments[0].mimeType, QStringLiteral("application/pdf"));
    EXPECT_FALSE(message.attachments[1].attachment.contentID.isEmpty());
    EXPECT_EQ(readFile(message.attachments[0].attachment.filePath), fixturePdf());
    EXPECT_EQ(readFile(message.attachments[1].attachment.filePath), fixtureBinary());
    // Decoded into the folder given, nowhere else.
    EXPECT_EQ(QFileInfo(message.attachments[1].attachment.filePath).absolutePath(), QDir(folder.path()).absolutePath());

    EXPECT_EQ(objectIDs(message), (QStringList{message.attachments[0].attachment.contentID,
                                               message.attachments[1].attachment.contentID}));
    // The objects stand between the two HTML parts, where the sender put the attachments.
    const QString body = message.bodyHTML;
    EXPECT_LT(body.indexOf(QStringLiteral("raw data")), body.indexOf(QStringLiteral("<object")));
    EXPECT_LT(body.lastIndexOf(QStringLiteral("<object")), body.indexOf(QStringLiteral("Best,")));
    EXPECT_TRUE(body.contains(QStringLiteral("p.note"))) << "the head's style sheet is kept";
    EXPECT_TRUE(message.source);
}

TEST_F(MessageLoaderTest, PlainTextOnlyIsAPlainTextMessageWithDecodedCharsetAndFlowedLinesJoined) {
    const LoadedMessage message = load(QStringLiteral("plain_text.eml"));
    EXPECT_FALSE(message.richText);
    EXPECT_EQ(message.subject, QStringLiteral("Grüße aus Köln"));
    EXPECT_EQ(message.recipients, QStringList{QStringLiteral("Ada <ada@example.com>")});
    EXPECT_TRUE(message.attachments.isEmpty());
    const dom::Document body = bodyOf(message);
    const QString text = body.body().textContent();
    EXPECT_TRUE(text.contains(QStringLiteral("Grüß aus Köln")));
    EXPECT_TRUE(text.contains(QStringLiteral("umbrochen wird und weiterläuft."))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  Eingerückt"))) << "space-stuffing is undone once";
    EXPECT_EQ(body.nodesForXPath(QStringLiteral("//br")).size(), 8);
}

TEST_F(MessageLoaderTest, AlternativeWithAttachmentsTakesTheHtmlAlternative) {
    const LoadedMessage message = load(QStringLiteral("alternative_attachments.eml"));
    EXPECT_TRUE(message.richText);
    EXPECT_TRUE(message.bodyHTML.contains(QStringLiteral("<div dir=\"ltr\">")));
    EXPECT_EQ(message.bodyHTML.count(QStringLiteral("the photo and the data are attached")), 1) << "one alternative only";
    ASSERT_EQ(names(message), (QStringList{QStringLiteral("photo.png"), QStringLiteral("data.bin")}));
    EXPECT_EQ(message.attachments[0].attachment.contentID, QStringLiteral("f_lt1photo0"));
    EXPECT_EQ(readFile(message.attachments[0].attachment.filePath), fixturePng());
    EXPECT_EQ(objectIDs(message).size(), 2);
}

TEST_F(MessageLoaderTest, InlineImagesOfARelatedBodyStayInlineAndAreNotAttachments) {
    const LoadedMessage message = load(QStringLiteral("related_inline.eml"));
    EXPECT_TRUE(message.richText);
    EXPECT_TRUE(message.bodyHTML.contains(QStringLiteral("src=\"cid:logo.png@example.org\"")));
    ASSERT_EQ(message.source->inlineParts.size(), 1);
    EXPECT_EQ(message.source->inlineParts[0].contentID, QStringLiteral("logo.png@example.org"));
    // The image the HTML never shows would be lost as a related part; it travels as an attachment.
    EXPECT_EQ(names(message), (QStringList{QStringLiteral("unused.png"), QStringLiteral("programme.pdf")}));
    EXPECT_FALSE(objectIDs(message).contains(QStringLiteral("logo.png@example.org")));
}

TEST_F(MessageLoaderTest, QuotedMessageWithItsCitationLineIsWrapped) {
    const LoadedMessage message = load(QStringLiteral("reply_quoted.eml"));
    const dom::Document body = bodyOf(message);
    const QList<dom::Node> wrappers = body.body().descendantsWithClassName(QStringLiteral("AppleOriginalContents"));
    ASSERT_EQ(wrappers.size(), 1);
    const dom::Node wrapper = wrappers.first();
    EXPECT_TRUE(wrapper.textContent().contains(QStringLiteral("Jane Doe wrote:")));
    EXPECT_TRUE(wrapper.textContent().contains(QStringLiteral("Earlier still.")));
    EXPECT_FALSE(wrapper.textContent().contains(QStringLiteral("Thanks, my notes")));
    EXPECT_FALSE(wrapper.textContent().contains(QStringLiteral("PS: see you Monday")));
    EXPECT_EQ(wrapper.getElementsByTagName(QStringLiteral("blockquote")).size(), 2) << "the inner quote stays inside";
    EXPECT_EQ(names(message), QStringList{QStringLiteral("notes.pdf")});
}

TEST_F(MessageLoaderTest, PlainTextQuoteIsWrappedWithItsCitationLine) {
    const QString path = folder.filePath(QStringLiteral("reply.eml"));
    writeFile(path, "From: a@example.org\nTo: b@example.org\nSubject: Re: x\nContent-Type: text/plain; charset=utf-8\n\n"
                    "Fine by me.\n\nOn Monday, B wrote:\n> first\n> second\n\n-- \nA\n");
    auto result = MessageLoader(folder.path()).load(path);
    ASSERT_TRUE(std::holds_alternative<LoadedMessage>(result));
    const LoadedMessage message = std::get<LoadedMessage>(result);
    const dom::Document body = bodyOf(message);
    const auto wrappers = body.body().descendantsWithClassName(QStringLiteral("AppleOriginalContents"));
    ASSERT_EQ(wrappers.size(), 1);
    EXPECT_EQ(wrappers.first().textContent(), QStringLiteral("On Monday, B wrote:> first> second"));
}

TEST_F(MessageLoaderTest, Rfc2231AndRfc2047NamesAreDecoded) {
    const LoadedMessage message = load(QStringLiteral("non_ascii_names.eml"));
    EXPECT_EQ(message.subject, QStringLiteral("Übersicht und Präsentation"));
    EXPECT_EQ(message.recipients, QStringList{QStringLiteral("Renée François <renee@example.fr>")});
    EXPECT_EQ(names(message), (QStringList{QStringLiteral("Übersicht März.pdf"), QStringLiteral("Präsentation für 東京.bin"),
                                           QStringLiteral("école.png")}));
    EXPECT_EQ(readFile(message.attachments[1].attachment.filePath), fixtureBinary());
}

TEST_F(MessageLoaderTest, ContentIDsThatContainOneAnotherAreMadeUnique) {
    const QString path = folder.filePath(QStringLiteral("ids.eml"));
    writeFile(path, "From: a@example.org\nTo: b@example.org\nSubject: ids\nMIME-Version: 1.0\n"
                    "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n"
                    "--b\nContent-Type: application/octet-stream; name=a.bin\nContent-ID: <part1>\n\nA\n"
                    "--b\nContent-Type: application/octet-stream; name=b.bin\nContent-ID: <part10>\n\nB\n"
                    "--b\nContent-Type: application/octet-stream; name=c.bin\nContent-ID: <part1>\n\nC\n--b--\n");
    auto result = MessageLoader(folder.path()).load(path);
    ASSERT_TRUE(std::holds_alternative<LoadedMessage>(result));
    const LoadedMessage message = std::get<LoadedMessage>(result);
    ASSERT_EQ(message.attachments.size(), 3);
    EXPECT_EQ(message.attachments[0].attachment.contentID, QStringLiteral("part1"));
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (i != j) {
                EXPECT_FALSE(message.attachments[i].attachment.contentID.contains(message.attachments[j].attachment.contentID));
            }
        }
    }
}

TEST_F(MessageLoaderTest, MalformedMessagesAreRefusedWithAReason) {
    for (const QString& fixture : {QStringLiteral("malformed_no_boundary.eml"), QStringLiteral("malformed_not_a_message.eml")}) {
        auto result = MessageLoader(folder.path()).load(fixturePath(fixture));
        ASSERT_TRUE(std::holds_alternative<platform::Error>(result)) << fixture.toStdString();
        const platform::Error error = std::get<platform::Error>(result);
        EXPECT_EQ(error.code, qm::cli::MalformedMessage);
        EXPECT_TRUE(error.localizedDescription.contains(fixture));
    }
    auto missing = MessageLoader(folder.path()).load(folder.filePath(QStringLiteral("absent.eml")));
    ASSERT_TRUE(std::holds_alternative<platform::Error>(missing));
    EXPECT_EQ(std::get<platform::Error>(missing).code, qm::cli::UnreadableMessage);
    auto directory = MessageLoader(folder.path()).load(folder.path());
    ASSERT_TRUE(std::holds_alternative<platform::Error>(directory));
}

TEST_F(MessageLoaderTest, TheMessageFileIsLeftUntouched) {
    const QString copy = folder.filePath(QStringLiteral("copy.eml"));
    ASSERT_TRUE(QFile::copy(fixturePath(QStringLiteral("html_attachments.eml")), copy));
    const QByteArray before = readFile(copy);
    const QDateTime modified = QFileInfo(copy).lastModified();
    load(QStringLiteral("html_attachments.eml"));
    auto result = MessageLoader(folder.path()).load(copy);
    ASSERT_TRUE(std::holds_alternative<LoadedMessage>(result));
    EXPECT_EQ(readFile(copy), before);
    EXPECT_EQ(QFileInfo(copy).lastModified(), modified);
}

TEST_F(MessageLoaderTest, SpoolCopiesADescriptorToAFile) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const QByteArray bytes = readFile(fixturePath(QStringLiteral("plain_text.eml")));
    ASSERT_EQ(::write(fds[1], bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    ::close(fds[1]);
    const QString path = folder.filePath(QStringLiteral("spooled.eml"));
    EXPECT_FALSE(MessageLoader::spool(fds[0], path));
    ::close(fds[0]);
    EXPECT_EQ(readFile(path), bytes);
}

} // namespace
} // namespace qm::test::cli
