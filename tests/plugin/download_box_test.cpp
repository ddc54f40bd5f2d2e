#include "plugin/download_box.h"

#include "accounts/settings_keys.h"
#include "platform/html_dom.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::plugin {
namespace {

namespace dom = platform::dom;

const QString headEn = QStringLiteral("Download Attachments");
const QString oneEn = QStringLiteral("The following file was uploaded with Quillmoor and can be downloaded:");
const QString multEn =
    QStringLiteral("The following files were uploaded with Quillmoor and can be downloaded:");
const QString headDe = QStringLiteral("Anhänge herunterladen");
const QString listStart = QStringLiteral("<ul style=\"padding-left:0px;\">");

FileInfo file(const QString& path, quint64 size, const QString& link, const QString& icon = {}) {
    FileInfo info{{file_info::path, path}, {file_info::size, size}, {file_info::linkURL, QUrl(link)}};
    if (!icon.isNull())
        info.insert(file_info::iconURL, QUrl(icon));
    return info;
}

template <typename T> T valueOf(const platform::Result<T>& result) {
    if (!result) {
        ADD_FAILURE() << result.error().localizedDescription.toStdString();
        return T();
    }
    return *result;
}

class DownloadBoxTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    platform::SettingsStore settings{folder.filePath(QStringLiteral("settings.plist"))};
    platform::Bundle bundle{QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                            {QStringLiteral("en")}};
    DownloadBox box{bundle, settings};

    void storeTemplate(const QString& text) {
        EXPECT_TRUE(settings.setObject(text, accounts::keys::infoBoxTemplate));
    }
    QString html(const QList<FileInfo>& files, bool richText, const QString& language = {}) {
        return valueOf(box.boxHTML(files, richText, language));
    }
    QString phrase(const QString& key, const QString& language) {
        return valueOf(box.localizedStringForKey(key, language));
    }
};

TEST_F(DownloadBoxTest, OneFileTakesTheSingularSubhead) {
    storeTemplate(QStringLiteral("<h3>BOX_HEADLINE</h3><p>BOX_SUBHEAD</p>BOX_LINKLIST"));
    const QString one = html({file(QStringLiteral("/w/all.zip"), 10, QStringLiteral("https://x/1"))}, true);
    EXPECT_TRUE(
        one.startsWith(QStringLiteral("<h3>") + headEn + QStringLiteral("</h3><p>") + oneEn + "</p>"));
    const QString two = html({file(QStringLiteral("/w/a.pdf"), 10, QStringLiteral("https://x/1")),
                              file(QStringLiteral("/w/b.pdf"), 10, QStringLiteral("https://x/2"))},
                             true);
    EXPECT_TRUE(two.contains(multEn));
}

TEST_F(DownloadBoxTest, PlainTextWithoutMarkersUsesTheBuiltInLayout) {
    storeTemplate(QStringLiteral("<div>BOX_HEADLINE BOX_SUBHEAD BOX_LINKLIST BOX_AD</div>"));
    const QString text = html({file(QStringLiteral("/w/a.pdf"), 999, QStringLiteral("https://x/a")),
                               file(QStringLiteral("/w/b.zip"), 1500, QStringLiteral("https://x/b"))},
                              false);
    EXPECT_EQ(text,
              QStringLiteral("<br><br>") + headEn + "<br>" + QString(68, u'=') + "<br>" + multEn + "<br>" +
                  "&nbsp;&nbsp;- a.pdf (999 B): https://x/a<br>&nbsp;&nbsp;- b.zip (1.5 kB): https://x/b" +
                  "<br><br><br>");
}

TEST_F(DownloadBoxTest, MarkedPlainVariantHasItsLineBreaksAsBreakTags) {
    storeTemplate(
        QStringLiteral("<p>BOX_HEADLINE</p>BOX_LINKLIST<!--PLAINTEXT--\nBOX_HEADLINE\nBOX_LINKLIST\n"
                       "BOX_AD--PLAINTEXT-->after"));
    const QList<FileInfo> files{file(QStringLiteral("/w/a.pdf"), 2500000, QStringLiteral("https://x/a"))};
    EXPECT_EQ(html(files, false),
              QStringLiteral("<br>") + headEn + "<br>&nbsp;&nbsp;- a.pdf (2.5 MB): https://x/a<br>");
    EXPECT_EQ(html(files, true),
              QStringLiteral("<p>") + headEn + "</p>" + listStart +
                  "<li><a href=\"https://x/a\">a.pdf</a>&nbsp;(&nbsp;<a href=\"https://x/a\">"
                  "https://x/a</a>&nbsp;)<br><small style=\"color:#777;\">(2.5 MB)</small></li>"
                  "</ul>");
}

TEST_F(DownloadBoxTest, StoredTemplateWithoutLinkListGivesWayToTheDefault) {
    const QString defaultTemplate = QString::fromUtf8(
        test::readFile(bundle.pathForResource(QStringLiteral("DefaultTemplate"), QStringLiteral("html"))));
    ASSERT_FALSE(defaultTemplate.isEmpty());
    EXPECT_EQ(valueOf(box.chooseTemplate()), defaultTemplate);
    storeTemplate(QStringLiteral("<p>BOX_HEADLINE</p>"));
    EXPECT_EQ(valueOf(box.chooseTemplate()), defaultTemplate);
    storeTemplate(QStringLiteral("<p>BOX_LINKLIST</p>"));
    EXPECT_EQ(valueOf(box.chooseTemplate()), QStringLiteral("<p>BOX_LINKLIST</p>"));
}

TEST_F(DownloadBoxTest, IconTemplateGivesIconItemsInRichTextAndLinesInPlainText) {
    const QList<FileInfo> files{file(QStringLiteral("/w/a.pdf"), 999, QStringLiteral("https://x/a"),
                                     QStringLiteral("https://i/a.png")),
                                file(QStringLiteral("/w/b.zip"), 1500, QStringLiteral("https://x/b"))};
    const QString rich = html(files, true);
    EXPECT_TRUE(rich.contains(QStringLiteral(
        "<li style=\"background:url('https://i/a.png') no-repeat;background-size:32px 32px;"
        "padding:1px 36px 2px;min-height:36px;list-style-type:none;\"><a href=\"https://x/a\">a.pdf"
        "</a>&nbsp;(&nbsp;<a href=\"https://x/a\">https://x/a</a>&nbsp;)<br>"
        "<small style=\"color:#777;\">(999 B)</small></li>")))
        << rich.toStdString();
    EXPECT_TRUE(rich.contains(QStringLiteral("url('https://icons.quillmoor.org/quillmoor/icon/zip/')")));
    EXPECT_FALSE(rich.contains(QStringLiteral("BOX_")));
    EXPECT_FALSE(rich.contains(QStringLiteral("PLAINTEXT")));

    const QString plain = html(files, false);
    EXPECT_TRUE(plain.contains(QStringLiteral("&nbsp;&nbsp;- a.pdf (999 B): https://x/a<br>"
                                              "&nbsp;&nbsp;- b.zip (1.5 kB): https://x/b")));
    EXPECT_FALSE(plain.contains(QStringLiteral("<li")));
    EXPECT_FALSE(plain.contains(QStringLiteral("BOX_")));
    EXPECT_TRUE(plain.contains(QString(68, u'=')));
}

TEST_F(DownloadBoxTest, DefaultTemplateIsSelfContainedAndHasEveryPlaceholder) {
    const QString text = valueOf(box.chooseTemplate());
    const QString rich = text.left(text.indexOf(QStringLiteral("<!--PLAINTEXT--")));
    for (const char* placeholder : {"BOX_HEADLINE", "BOX_SUBHEAD", "BOX_LINKLIST_IMAGE", "BOX_AD"})
        EXPECT_TRUE(rich.contains(QLatin1String(placeholder))) << placeholder;
    for (const char* outside : {"<script", "<style", "<link", "@import", "class="})
        EXPECT_FALSE(text.contains(QLatin1String(outside), Qt::CaseInsensitive)) << outside;
    EXPECT_TRUE(text.contains(QStringLiteral("--PLAINTEXT-->")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nBOX_LINKLIST\n")));
}

TEST_F(DownloadBoxTest, PhrasesFollowTheLanguageAndFallBackToEnglish) {
    EXPECT_EQ(phrase(QStringLiteral("BOX_HEAD"), QString()), headEn);
    EXPECT_EQ(phrase(QStringLiteral("BOX_HEAD"), QStringLiteral("de")), headDe);
    EXPECT_TRUE(
        html({file(QStringLiteral("/w/a.pdf"), 1, QStringLiteral("https://x/a"))}, true, QStringLiteral("de"))
            .contains(QStringLiteral("Die folgende Datei wurde mit Quillmoor hochgeladen")));
    for (const QString& language : {QStringLiteral("sv"), QStringLiteral("ja"), QStringLiteral("../de")})
        EXPECT_EQ(phrase(QStringLiteral("BOX_SUBHEAD_MULT"), language), multEn) << language.toStdString();
}

TEST_F(DownloadBoxTest, MissingPhraseOrTemplateIsAnInternalError) {
    test::writeFile(
        folder.filePath(QStringLiteral("Bare.bundle/Contents/Resources/en.lproj/Localizable.strings")),
        "\"BOX_HEAD\" = \"Files\";\n");
    test::writeFile(
        folder.filePath(QStringLiteral("Bare.bundle/Contents/Resources/de.lproj/Localizable.strings")),
        "\"BOX_HEAD\" = \"\";\n");
    const DownloadBox bare(
        platform::Bundle(folder.filePath(QStringLiteral("Bare.bundle")), {QStringLiteral("en")}), settings);
    EXPECT_EQ(valueOf(bare.localizedStringForKey(QStringLiteral("BOX_HEAD"), QStringLiteral("de"))),
              QStringLiteral("Files"));
    const auto missing = bare.localizedStringForKey(QStringLiteral("BOX_SUBHEAD_1"), QString());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().localizedDescription,
              QStringLiteral("Translation for Quillmoor Download Box not found"));

    const auto noTemplate = bare.chooseTemplate();
    ASSERT_FALSE(noTemplate);
    EXPECT_EQ(noTemplate.error().localizedDescription,
              QStringLiteral("Info box template should not be nil!"));
}

TEST_F(DownloadBoxTest, HostileNamesAndLinksStayText) {
    storeTemplate(QStringLiteral("<div>BOX_LINKLIST_IMAGE</div>"));
    // A file name holds no "/", so markup without closing tags stands in for "<b>x</b>".
    const QString name = QStringLiteral("<b>x<b>&y<img src=x onerror=alert(1)>.pdf\"'onload=alert(1)");
    const QString link = QStringLiteral("https://x/d?a=1&b=\"q\"'s'<i>");
    const QString rich =
        html({file(QStringLiteral("/w/") + name, 5, link, QStringLiteral("https://i/it's(1).png"))}, true);

    const dom::Document document = dom::Document::parseHTML(rich);
    EXPECT_TRUE(document.body().getElementsByTagName(QStringLiteral("b")).isEmpty()) << rich.toStdString();
    EXPECT_TRUE(document.body().getElementsByTagName(QStringLiteral("i")).isEmpty());
    EXPECT_TRUE(document.body().getElementsByTagName(QStringLiteral("img")).isEmpty());
    const QList<dom::Node> anchors = document.body().getElementsByTagName(QStringLiteral("a"));
    ASSERT_EQ(anchors.size(), 2);
    EXPECT_EQ(anchors[0].textContent(), name);
    EXPECT_EQ(anchors[0].getAttribute(QStringLiteral("href")), QUrl(link).toString(QUrl::FullyEncoded));
    EXPECT_FALSE(anchors[0].hasAttribute(QStringLiteral("onload")));
    EXPECT_EQ(anchors[1].textContent(), QUrl(link).toString(QUrl::FullyEncoded));

    const QList<dom::Node> items = document.body().getElementsByTagName(QStringLiteral("li"));
    ASSERT_EQ(items.size(), 1);
    const QString style = items[0].getAttribute(QStringLiteral("style"));
    const QString cssURL = style.section(QStringLiteral("url('"), 1).section(QStringLiteral("')"), 0, 0);
    EXPECT_EQ(cssURL, QStringLiteral("https://i/it%27s%281%29.png")) << style.toStdString();
    EXPECT_TRUE(style.endsWith(QStringLiteral("list-style-type:none;")));

    const QString plain = html({file(QStringLiteral("/w/") + name, 5, link)}, false);
    EXPECT_FALSE(plain.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(
        plain.contains(QStringLiteral("- &lt;b&gt;x&lt;b&gt;&amp;y&lt;img src=x onerror=alert(1)&gt;.pdf")));
    EXPECT_FALSE(plain.contains(QStringLiteral("<i>")));

    // Of a path with "</b>" only the part after its "/" is the name.
    const QString slashed = html({file(QStringLiteral("/w/<b>x</b>&y.pdf\"'onload="), 5, link)}, true);
    EXPECT_TRUE(slashed.contains(QStringLiteral(">b&gt;&amp;y.pdf\"'onload=</a>"))) << slashed.toStdString();
}

TEST_F(DownloadBoxTest, ScriptLinksLoseTheirTarget) {
    storeTemplate(QStringLiteral("BOX_LINKLIST_IMAGE"));
    const QString rich =
        html({file(QStringLiteral("/w/a.pdf"), 5, QStringLiteral("JavaScript:alert(document.cookie)"),
                   QStringLiteral("javascript:alert(2)"))},
             true);
    EXPECT_FALSE(rich.contains(QStringLiteral("href=\"javascript"), Qt::CaseInsensitive))
        << rich.toStdString();
    EXPECT_TRUE(rich.contains(QStringLiteral("<a href=\"#\">a.pdf</a>")));
    EXPECT_TRUE(rich.contains(QStringLiteral("url('https://icons.quillmoor.org/quillmoor/icon/pdf/')")));
    // Services with a scheme of their own keep their links.
    EXPECT_TRUE(html({file(QStringLiteral("/w/a.pdf"), 5, QStringLiteral("smb://nas/share/a.pdf"))}, true)
                    .contains(QStringLiteral("<a href=\"smb://nas/share/a.pdf\">a.pdf</a>")));
}

TEST_F(DownloadBoxTest, PlaceholderWordsInFileNamesSurvive) {
    storeTemplate(QStringLiteral("BOX_HEADLINE|BOX_LINKLIST|BOX_AD"));
    const QString rich =
        html({file(QStringLiteral("/w/BOX_AD BOX_HEADLINE.pdf"), 5, QStringLiteral("https://x/a"))}, true);
    EXPECT_TRUE(rich.startsWith(headEn + u'|'));
    EXPECT_TRUE(rich.endsWith(QStringLiteral("</ul>|")));
    EXPECT_TRUE(rich.contains(QStringLiteral(">BOX_AD BOX_HEADLINE.pdf</a>")));
}

TEST(DownloadBoxIconTest, DefaultIconNamesTheExtension) {
    EXPECT_EQ(DownloadBox::defaultIconURL(QStringLiteral("Report 2024.tar.gz")),
              QUrl(QStringLiteral("https://icons.quillmoor.org/quillmoor/icon/gz/")));
    EXPECT_EQ(DownloadBox::defaultIconURL(QStringLiteral("a.p%d#f")).toString(QUrl::FullyEncoded),
              QStringLiteral("https://icons.quillmoor.org/quillmoor/icon/p%25d%23f/"));
}

TEST(DownloadBoxLanguageTest, OnlyTheWritersOwnTextCounts) {
    const QString body = QStringLiteral(
        "<body><div>Hallo Peter,</div><div>anbei findest du die Unterlagen für das Treffen am Montag. Bitte "
        "sieh "
        "sie dir vorher noch einmal an, damit wir schnell entscheiden können.</div>"
        "<!-- This comment is written in English and talks about many different things at length. -->"
        "<div id=\"AppleMailSignature\">Sent from my phone. Best regards and have a wonderful weekend with "
        "your "
        "family and friends.</div>"
        "<blockquote type=\"cite\"><div>On Monday, John wrote:</div><div>Could you please send me the "
        "documents "
        "for our meeting next week? I would like to read them before we talk about the budget and the "
        "schedule "
        "of the whole project, which is running late again. Thank you very much for your help, I really "
        "appreciate it.</div></blockquote></body>");
    EXPECT_EQ(emailLanguage(body), QStringLiteral("de"));

    const QString reply = QStringLiteral("<body><p>Thanks a lot, I will read the documents before our "
                                         "meeting on Monday and send you my notes.</p>"
                                         "<blockquote type=\"cite\">Hallo John, anbei findest du die "
                                         "Unterlagen für das Treffen am Montag. Bitte "
                                         "sieh sie dir vorher noch einmal an.</blockquote></body>");
    EXPECT_EQ(emailLanguage(reply), QStringLiteral("en"));
}

TEST(DownloadBoxLanguageTest, NullWithoutText) {
    EXPECT_TRUE(emailLanguage(QString()).isNull());
    EXPECT_TRUE(emailLanguage(QStringLiteral("<body><img src=\"cid:1\"></body>")).isNull());
    EXPECT_TRUE(
        emailLanguage(QStringLiteral("<body><blockquote type=\"cite\">Hallo Peter, anbei findest du die "
                                     "Unterlagen für das Treffen.</blockquote></body>"))
            .isNull());
}

} // namespace
} // namespace qm::plugin
