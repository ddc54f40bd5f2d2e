#include "support/plugin_fixture.h"
#include "support/test_support.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <zip.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
constexpr qint64 MiB = 1048576;

QStringList namesInArchive(const QString& path) {
    QStringList names;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i)
        names.append(
            QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS)));
    zip_discard(archive);
    names.sort();
    return names;
}

class PipelineTest : public PluginFixture {
protected:
    PipelineTest()
        : PluginFixture(TestHost::Options(), true) {
        linkService();
        EXPECT_TRUE(settings.setFloat(5, keys::minFileSize));
        EXPECT_TRUE(settings.setInteger(0, keys::fileSizeMode));
        EXPECT_TRUE(settings.setBool(false, keys::askBeforeUpload));
        EXPECT_TRUE(settings.setBool(true, keys::autoSendEmail));
        EXPECT_TRUE(
            settings.setObject(QStringLiteral("<p>BOX_HEADLINE</p>BOX_LINKLIST"), keys::infoBoxTemplate));
        window->subject = QStringLiteral("Holiday photos 2013!");
        window->recipients = {QStringLiteral("Ada <ada@example.org>")};
    }

    std::shared_ptr<TestComposeWindow> window =
        host.newComposeWindow(QStringLiteral("<p>Hallo Ada,</p><p>anbei die Dateien.</p>"));

    // A real file with `content`, claimed by the compose window to be `claimedBytes` large.
    QString attachFile(const QString& id, const QString& name, const QByteArray& content, qint64 claimedBytes,
                       const std::shared_ptr<TestComposeWindow>& target = nullptr) {
        const QString path = folder.filePath(QStringLiteral("source/%1/%2").arg(id, name));
        writeFile(path, content);
        (target ? target : window)->addAttachment({id, path, name, claimedBytes});
        return path;
    }

    // An attachment whose file is `content` and whose name in the message is `name`.
    void attachNamed(const QString& id, const QString& name, const QByteArray& content) {
        const QString path = folder.filePath(QStringLiteral("source/%1/file").arg(id));
        writeFile(path, content);
        window->addAttachment({id, path, name, 6 * MiB});
    }

    QString alertText() {
        const auto& alerts = host.testUi().modalAlerts;
        return waitUntil([&] { return !alerts.isEmpty(); }) ? alerts.first().informativeText : QString();
    }

    QString workPath(const QString& name) const {
        return attachmentPipeline->workingDirectory() + u'/' + name;
    }

    TestUploader* uploader() const { return testService->lastCreated; }

    // Waits until the uploader was asked for its `count`-th file.
    bool waitForUploads(int count) {
        return waitUntil([&] { return uploader() && uploader()->started.size() >= count; });
    }

    QStringList objectIDs() const {
        QStringList ids;
        for (const auto& object : window->document().body().getElementsByTagName(QStringLiteral("object")))
            ids.append(object.getAttribute(QStringLiteral("data")));
        return ids;
    }

    // Answers the uploads from the `first`-th on with `links`, one after the other.
    void uploadAll(const QStringList& links, int first = 1) {
        for (qsizetype i = 0; i < links.size(); ++i) {
            ASSERT_TRUE(waitForUploads(first + static_cast<int>(i)));
            uploader()->finish(QUrl(links[i]));
            drainEvents();
        }
        // The uploaded copies are removed on the pool.
        QThreadPool::globalInstance()->waitForDone();
    }
};

TEST_F(PipelineTest, FilesGoOneAfterTheOtherAndTheBoxReplacesThem) {
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "AAAA", 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("b.pdf"), "BBBB", 3 * MiB);
    attachFile(QStringLiteral("c"), QStringLiteral("c.pdf"), "CCCC", 3 * MiB);
    host.pressSend(window);

    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(window->draftsSaved, 1);
    EXPECT_TRUE(objectIDs().isEmpty()) << "attachments are hidden while they upload";
    ASSERT_EQ(host.testUi().panelSheetsShown.size(), 1);
    const auto& panel = host.testUi().interfaces.last();
    EXPECT_TRUE(panel.text->text.contains(QStringLiteral("your email is sent to the recipient(s)")));

    uploader()->progress(0.5);
    drainEvents();
    EXPECT_NEAR(panel.indicator->doubleValue(), 100.0 / 6, 0.01); // half of one third
    EXPECT_EQ(uploader()->started.size(), 1) << "the second file waits for the first link";
    uploader()->finish(QUrl(QStringLiteral("https://files.example/a")));
    drainEvents();
    ASSERT_EQ(uploader()->started.size(), 2);
    EXPECT_NEAR(panel.indicator->doubleValue(), 100.0 / 3, 0.01);
    uploadAll({QStringLiteral("https://files.example/b"), QStringLiteral("https://files.example/c")}, 2);

    EXPECT_EQ(uploader()->started, (QStringList{workPath("a.pdf"), workPath("b.pdf"), workPath("c.pdf")}));
    EXPECT_DOUBLE_EQ(panel.indicator->doubleValue(), 100);
    EXPECT_EQ(host.testUi().panelSheetsEnded, 1);
    ASSERT_EQ(window->sent.size(), 1);
    const QString sent = window->sent.first().bodyHTML;
    EXPECT_LT(sent.indexOf(QStringLiteral("https://files.example/a")),
              sent.indexOf(QStringLiteral("https://files.example/c")));
    EXPECT_TRUE(
        sent.contains(QStringLiteral("<div id=\"QuillmoorAttachmentInfo\"><p>Download Attachments</p>")));
    EXPECT_TRUE(sent.contains(QStringLiteral("<br><div id=\"QuillmoorAttachmentInfo\">"))); // at the end
    EXPECT_FALSE(QFileInfo::exists(workPath("a.pdf")));
    EXPECT_TRUE(host.testUi().modalAlerts.isEmpty());
}

TEST_F(PipelineTest, PerFileModeLeavesTheSmallFileAttached) {
    EXPECT_TRUE(settings.setInteger(1, keys::fileSizeMode));
    attachFile(QStringLiteral("small"), QStringLiteral("notes.txt"), "n", 2 * MiB);
    attachFile(QStringLiteral("large"), QStringLiteral("film.mov"), "f", 9 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(uploader()->started, QStringList{workPath("film.mov")});
    EXPECT_FALSE(QFileInfo::exists(workPath("notes.txt")));
    EXPECT_EQ(objectIDs(), QStringList{QStringLiteral("cid:small")});
    uploadAll({QStringLiteral("https://files.example/film")});
    ASSERT_EQ(window->sent.size(), 1);
    EXPECT_TRUE(window->sent.first().bodyHTML.contains(QStringLiteral("cid:small")));
}

TEST_F(PipelineTest, OneArchiveNamedAfterTheSubjectHoldsEveryFile) {
    EXPECT_TRUE(settings.setBool(true, keys::compressToSingleZip));
    attachFile(QStringLiteral("a"), QStringLiteral("beach.jpg"), QByteArray(5000, 'x'), 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("hills.jpg"), QByteArray(5000, 'y'), 3 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    const QString archive = workPath("Holiday_photos_2013_.zip");
    EXPECT_EQ(uploader()->started, QStringList{archive});
    EXPECT_EQ(namesInArchive(archive), (QStringList{QStringLiteral("Holiday_photos_2013_/"),
                                                    QStringLiteral("Holiday_photos_2013_/beach.jpg"),
                                                    QStringLiteral("Holiday_photos_2013_/hills.jpg")}));
    EXPECT_FALSE(QFileInfo::exists(workPath("beach.jpg")));
}

TEST_F(PipelineTest, ASubjectWithoutTextGivesTheGenericArchiveName) {
    EXPECT_TRUE(settings.setBool(true, keys::compressToSingleZip));
    window->subject = QStringLiteral("  \n ");
    attachFile(QStringLiteral("a"), QStringLiteral("a.txt"), "a", 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("b.txt"), "b", 3 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(uploader()->started, QStringList{workPath("attachments.zip")});
}

TEST_F(PipelineTest, EachFileIsArchivedExceptArchivesAndFoldersKeepTheirName) {
    EXPECT_TRUE(settings.setBool(true, keys::compressFiles));
    attachFile(QStringLiteral("r"), QStringLiteral("report.pdf"), "%PDF", 3 * MiB);
    attachFile(QStringLiteral("z"), QStringLiteral("bundle.zip"), "PK", 3 * MiB);
    const QString folderPath = folder.filePath(QStringLiteral("source/Slides"));
    writeFile(folderPath + QStringLiteral("/intro.key"), "slides");
    writeFile(folderPath + QStringLiteral("/media/clip.mov"), "clip");
    window->addAttachment({QStringLiteral("f"), folderPath, QStringLiteral("Slides"), 3 * MiB});

    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    uploadAll({QStringLiteral("https://f/1"), QStringLiteral("https://f/2"), QStringLiteral("https://f/3")});
    EXPECT_EQ(uploader()->started,
              (QStringList{workPath("report.pdf.zip"), workPath("bundle.zip"), workPath("Slides.zip")}));
    ASSERT_EQ(window->sent.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(workPath("Slides.zip")));
}

TEST_F(PipelineTest, AFolderIsArchivedWithItselfAsTopEntryEvenWithoutCompression) {
    const QString folderPath = folder.filePath(QStringLiteral("source/Slides"));
    writeFile(folderPath + QStringLiteral("/intro.key"), "slides");
    writeFile(folderPath + QStringLiteral("/media/clip.mov"), "clip");
    window->addAttachment({QStringLiteral("f"), folderPath, QStringLiteral("Slides"), 6 * MiB});
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(uploader()->started, QStringList{workPath("Slides.zip")});
    EXPECT_EQ(namesInArchive(workPath("Slides.zip")),
              (QStringList{QStringLiteral("Slides/"), QStringLiteral("Slides/intro.key"),
                           QStringLiteral("Slides/media/"), QStringLiteral("Slides/media/clip.mov")}));
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), workPath("Slides.zip")});
    ASSERT_TRUE(unzip.waitForFinished());
    EXPECT_EQ(unzip.exitCode(), 0) << unzip.readAllStandardOutput().toStdString();
}

TEST_F(PipelineTest, SameNamesGetNumberedAndNamesCannotLeaveTheWorkingDirectory) {
    attachFile(QStringLiteral("one"), QStringLiteral("scan.pdf"), "1", 2 * MiB);
    attachFile(QStringLiteral("two"), QStringLiteral("scan.pdf"), "2", 2 * MiB);
    const QString hostile = folder.filePath(QStringLiteral("source/evil.txt"));
    writeFile(hostile, "evil");
    window->addAttachment({QStringLiteral("three"), hostile, QStringLiteral("../../escape.txt"), 2 * MiB});
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    uploadAll({QStringLiteral("https://f/1"), QStringLiteral("https://f/2"), QStringLiteral("https://f/3")});
    EXPECT_EQ(uploader()->started,
              (QStringList{workPath("scan.pdf"), workPath("scan-1.pdf"), workPath("escape.txt")}));
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("escape.txt"))));
}

TEST_F(PipelineTest, ArchivesTakeFreeNamesBesideTheUsersOwnArchives) {
    EXPECT_TRUE(settings.setBool(true, keys::compressFiles));
    attachFile(QStringLiteral("c"), QStringLiteral("data.csv"), "a,b", 3 * MiB);
    attachFile(QStringLiteral("z"), QStringLiteral("data.csv.zip"), "PK own", 3 * MiB);
    writeFile(folder.filePath(QStringLiteral("source/X/x.txt")), "x");
    window->addAttachment(
        {QStringLiteral("f"), folder.filePath(QStringLiteral("source/X")), QStringLiteral("X"), 3 * MiB});
    attachFile(QStringLiteral("y"), QStringLiteral("X.zip"), "PK X", 3 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(readFile(workPath("data.csv.zip")), "PK own");
    uploadAll({QStringLiteral("https://f/1"), QStringLiteral("https://f/2"), QStringLiteral("https://f/3"),
               QStringLiteral("https://f/4")});
    EXPECT_EQ(uploader()->started, (QStringList{workPath("data.csv-1.zip"), workPath("data.csv.zip"),
                                                workPath("X-1.zip"), workPath("X.zip")}));
    EXPECT_EQ(window->sent.size(), 1);
}

TEST_F(PipelineTest, TheSingleArchiveHoldsEveryFileWhateverTheNamesBesideIt) {
    EXPECT_TRUE(settings.setBool(true, keys::compressToSingleZip));
    window->subject = QStringLiteral("report");
    attachFile(QStringLiteral("r"), QStringLiteral("report"), "R", 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("b.bin"), "B", 3 * MiB);
    attachFile(QStringLiteral("z"), QStringLiteral("report.zip"), "PK own", 3 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(uploader()->started, QStringList{workPath("report.zip")});
    EXPECT_EQ(namesInArchive(workPath("report.zip")),
              (QStringList{QStringLiteral("report/"), QStringLiteral("report/b.bin"),
                           QStringLiteral("report/report"), QStringLiteral("report/report.zip")}));
}

TEST_F(PipelineTest, EachRunGetsAFreshSingleArchiveAndLongSubjectsAreShortened) {
    EXPECT_TRUE(settings.setBool(true, keys::compressToSingleZip));
    window->subject = QStringLiteral("trip");
    attachFile(QStringLiteral("a"), QStringLiteral("a.txt"), "a", 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("b.txt"), "b", 3 * MiB);
    host.pressSend(window);
    uploadAll({QStringLiteral("https://f/1")});
    ASSERT_EQ(window->sent.size(), 1);

    for (const QString& subject : {QStringLiteral("trip"), QString(300, u'S')}) {
        window = host.newComposeWindow();
        window->subject = subject;
        attachFile(QStringLiteral("c"), QStringLiteral("c.txt"), "c", 3 * MiB);
        attachFile(QStringLiteral("d"), QStringLiteral("d.txt"), "d", 3 * MiB);
        testService->lastCreated = nullptr;
        host.pressSend(window);
        ASSERT_TRUE(waitForUploads(1)) << alertText().toStdString();
        const QFileInfo archive(uploader()->started.first());
        EXPECT_LE(QFile::encodeName(archive.fileName()).size(), 255);
        EXPECT_EQ(namesInArchive(archive.filePath()).mid(1),
                  (QStringList{archive.completeBaseName() + QStringLiteral("/c.txt"),
                               archive.completeBaseName() + QStringLiteral("/d.txt")}));
        uploadAll({QStringLiteral("https://f/2")});
    }
}

TEST_F(PipelineTest, AFullDiskStopsTheRunWithItsReasonAndTheMessageUnchanged) {
    constexpr qsizetype limit = 64 * 1024;
    QByteArray noise(limit - 48, Qt::Uninitialized); // fits as a copy, not as an archive (stored, not packed)
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    for (const bool zip : {false, true}) {
        EXPECT_TRUE(settings.setBool(zip, keys::compressFiles));
        window = host.newComposeWindow();
        attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 3 * MiB);
        attachFile(QStringLiteral("b"), QStringLiteral("b.bin"), zip ? noise : noise + noise, 3 * MiB);
        const QString bodyBefore = window->bodyHTML();
        host.testUi().modalAlerts.clear();
        const FileSizeLimit full(limit);
        host.pressSend(window);
        const QString text = alertText();
        EXPECT_TRUE(text.startsWith(zip ? QStringLiteral("Failed to compress file 'b.bin': ")
                                        : QStringLiteral("Failed to copy the attachment 'b.bin': ")))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("File too large"))) << text.toStdString();
        EXPECT_EQ(window->bodyHTML(), bodyBefore);
        EXPECT_TRUE(window->sent.isEmpty());
        EXPECT_EQ(testService->lastCreated, nullptr);
        EXPECT_TRUE(QDir(workPath({})).isEmpty()) << "nothing of the stopped run stays behind";
    }
}

TEST_F(PipelineTest, LongNamesAreShortenedKeepingTheExtensionAndControlCharactersReplaced) {
    const QString longName = QString(300, u'\u00e9') + QStringLiteral(".pdf");
    attachNamed(QStringLiteral("l1"), longName, "1");
    attachNamed(QStringLiteral("l2"), longName, "2");
    attachNamed(QStringLiteral("c"), QStringLiteral("tab\there\nnew\x01\x7f.txt"), "3");
    host.pressSend(window);
    uploadAll({QStringLiteral("https://f/1"), QStringLiteral("https://f/2"), QStringLiteral("https://f/3")});
    ASSERT_EQ(uploader()->started.size(), 3) << alertText().toStdString();
    for (int i : {0, 1}) {
        const QString name = QFileInfo(uploader()->started[i]).fileName();
        EXPECT_LE(QFile::encodeName(name).size(), 255);
        EXPECT_TRUE(name.endsWith(i ? QStringLiteral("-1.pdf") : QStringLiteral("\u00e9.pdf")))
            << name.toStdString();
    }
    EXPECT_EQ(uploader()->started[2], workPath("tab_here_new__.txt"));
    EXPECT_EQ(window->sent.size(), 1);
}

TEST_F(PipelineTest, AnUploadFailureBringsTheAttachmentsBackWithTheServicesMessage) {
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("b.pdf"), "B", 3 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    uploader()->finish(QUrl(QStringLiteral("https://f/a")));
    drainEvents();
    ASSERT_TRUE(waitForUploads(2));
    uploader()->fail(platform::Error(QStringLiteral("RVErrorDomain"), 7, QStringLiteral("Quota exceeded.")));
    drainEvents();

    ASSERT_EQ(host.testUi().modalAlerts.size(), 1);
    EXPECT_EQ(host.testUi().modalAlerts.first().title, QStringLiteral("Quillmoor Error"));
    EXPECT_EQ(host.testUi().modalAlerts.first().informativeText, QStringLiteral("Quota exceeded."));
    EXPECT_EQ(objectIDs(), (QStringList{QStringLiteral("cid:a"), QStringLiteral("cid:b")}));
    EXPECT_EQ(host.testUi().panelSheetsEnded, 1);
    EXPECT_TRUE(window->sent.isEmpty());
    EXPECT_FALSE(window->bodyHTML().contains(QStringLiteral("QuillmoorAttachmentInfo")));
}

TEST_F(PipelineTest, CancelRestoresSilentlyAndLateReportsChangeNothing) {
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 6 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    TestUploader* running = uploader();
    ASSERT_TRUE(host.testUi().trigger(QStringLiteral("cancelUpload:")));
    EXPECT_EQ(running->cancelCount, 1);
    EXPECT_EQ(objectIDs(), QStringList{QStringLiteral("cid:a")});
    EXPECT_TRUE(host.testUi().modalAlerts.isEmpty());

    const double bar = host.testUi().interfaces.last().indicator->doubleValue();
    running->progress(0.9);
    running->finish(QUrl(QStringLiteral("https://f/late")));
    drainEvents();
    EXPECT_EQ(host.testUi().interfaces.last().indicator->doubleValue(), bar);
    EXPECT_TRUE(window->sent.isEmpty());
    EXPECT_FALSE(window->bodyHTML().contains(QStringLiteral("https://f/late")));
}

TEST_F(PipelineTest, AReplyGetsTheBoxAboveTheQuotedMessage) {
    EXPECT_TRUE(settings.setBool(false, keys::autoSendEmail));
    window->setBodyHTML(
        QStringLiteral("<p>See below.</p><div class=\"AppleOriginalContents\"><blockquote type=\"cite\">"
                       "Earlier message</blockquote></div>"));
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 6 * MiB);
    host.pressSend(window);
    uploadAll({QStringLiteral("https://f/a")});
    EXPECT_TRUE(window->sent.isEmpty()) << "without auto-send the message stays open";
    const QString body = window->bodyHTML();
    const qsizetype box = body.indexOf(QStringLiteral("QuillmoorAttachmentInfo"));
    ASSERT_GE(box, 0);
    EXPECT_LT(box, body.indexOf(QStringLiteral("AppleOriginalContents")));
    EXPECT_GT(box, body.indexOf(QStringLiteral("See below.")));
    EXPECT_TRUE(body.contains(QStringLiteral("</div><br><div class=\"AppleOriginalContents\">")));
}

TEST_F(PipelineTest, PlainTextMessagesGetPlainLinesWithoutATrailingBreak) {
    window->richText = false;
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 3 * MiB);
    attachFile(QStringLiteral("b"), QStringLiteral("b b.pdf"), "B", 3 * MiB);
    host.pressSend(window);
    uploadAll({QStringLiteral("https://f/a"), QStringLiteral("https://f/b")});
    ASSERT_EQ(window->sent.size(), 1);
    const QString body = window->sent.first().bodyHTML;
    EXPECT_TRUE(body.contains(QStringLiteral(
        "&nbsp;&nbsp;- a.pdf (1 B): https://f/a<br>&nbsp;&nbsp;- b b.pdf (1 B): https://f/b<br><br>")))
        << body.toStdString();
    EXPECT_TRUE(body.contains(
        QStringLiteral("====================================================================")));
}

TEST_F(PipelineTest, TheBoxSpeaksTheMessagesLanguageWhenAsked) {
    EXPECT_TRUE(settings.setBool(true, keys::translateInfoBox));
    EXPECT_TRUE(settings.removeObjectForKey(keys::infoBoxTemplate)); // the bundle's template
    window->setBodyHTML(
        QStringLiteral("<p>Hallo Ada, anbei findest du die Fotos von unserem Urlaub an der Nordsee. "
                       "Das Wetter war wunderbar und wir waren jeden Tag am Strand.</p>"));
    attachFile(QStringLiteral("a"), QStringLiteral("a.jpg"), "A", 6 * MiB);
    host.pressSend(window);
    uploadAll({QStringLiteral("https://f/a")});
    ASSERT_EQ(window->sent.size(), 1);
    EXPECT_TRUE(window->sent.first().bodyHTML.contains(QStringLiteral("Anhänge herunterladen")));

    // Swedish has no table: English.
    auto swedish =
        host.newComposeWindow(QStringLiteral("<p>Hej Ada, här är bilderna från vår semester vid havet. "
                                             "Vädret var underbart och vi var på stranden varje dag.</p>"));
    swedish->subject = QStringLiteral("Semester");
    attachFile(QStringLiteral("s"), QStringLiteral("s.jpg"), "S", 6 * MiB, swedish);
    testService->lastCreated = nullptr;
    host.pressSend(swedish);
    ASSERT_TRUE(waitForUploads(1));
    uploader()->finish(QUrl(QStringLiteral("https://f/s")));
    drainEvents();
    ASSERT_EQ(swedish->sent.size(), 1);
    EXPECT_TRUE(swedish->sent.first().bodyHTML.contains(QStringLiteral("Download Attachments")));
}

TEST_F(PipelineTest, AnUploadThatCannotStartRestoresTheAttachmentsAndSaysWhy) {
    EXPECT_TRUE(settings.setBool(true, keys::compressFiles));
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 6 * MiB);
    // The service lost what it needs between the decision and the hand-over.
    testService->setIsLinked(false);
    auto& ui = host.testUi();
    attachmentPipeline->prepareAndUploadAttachments(host::ComposeWindow(window));
    ASSERT_TRUE(waitUntil([&] { return !ui.modalAlerts.isEmpty(); }));
    EXPECT_TRUE(ui.modalAlerts.first().informativeText.startsWith(
        QStringLiteral("The upload could not be started.")));
    EXPECT_EQ(objectIDs(), QStringList{QStringLiteral("cid:a")});
    EXPECT_TRUE(ui.panelSheetsShown.isEmpty());
}

TEST_F(PipelineTest, WhenTheBoxCannotGoInNothingIsSentAndTheCopiesStay) {
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 6 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    // The body is gone by the time the link arrives.
    host::Class* webView = host.runtime().classNamed(QStringLiteral("DocumentEditorWebView"));
    ASSERT_TRUE(webView->addInstanceMethod(QStringLiteral("noBody"),
                                           [](const host::Invocation&) { return QVariant(); }));
    ASSERT_TRUE(webView->exchangeInstanceMethods(QStringLiteral("contentElement"), QStringLiteral("noBody")));
    uploadAll({QStringLiteral("https://f/a")});
    EXPECT_FALSE(alertText().isEmpty());
    EXPECT_TRUE(window->sent.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(workPath("a.pdf")));
}

TEST_F(PipelineTest, ClosingTheWindowDropsItsController) {
    attachFile(QStringLiteral("a"), QStringLiteral("a.pdf"), "A", 6 * MiB);
    host.pressSend(window);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(attachmentPipeline->controllers().size(), 1);
    host.closeWindow(window);
    EXPECT_EQ(attachmentPipeline->controllers().size(), 0);
    EXPECT_EQ(window->closeCount, 1);
}

} // namespace
} // namespace qm::test
