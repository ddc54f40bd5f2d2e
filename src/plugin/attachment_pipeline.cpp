#include "plugin/attachment_pipeline.h"

#include "accounts/settings_keys.h"
#include "host/in_memory_compose.h"
#include "platform/dispatch.h"
#include "platform/string_additions.h"
#include "platform/string_format.h"
#include "platform/system_log.h"
#include "plugin/alert_panel.h"
#include "plugin/attachment_files.h"
#include "plugin/attachment_selection.h"
#include "plugin/document_editor.h"
#include "plugin/texts.h"
#include "uploaders/service_id.h"

#include <QDir>
#include <QFileInfo>
#include <unistd.h>

namespace qm::plugin {

namespace keys = accounts::keys;
namespace dom = platform::dom;
using host::ComposeWindow;

namespace {

constexpr char boxElementID[] = "QuillmoorAttachmentInfo";

// Compose windows are handed between threads and later calls by identity only, so a closed window is
// simply gone when the work comes back.
using EditorRef = std::weak_ptr<host::Object>;

void removePath(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

} // namespace

AttachmentPipeline::AttachmentPipeline(PluginContext& context, QString workingDirectory)
    : context_(context)
    , workingDirectory_(std::move(workingDirectory))
    , controllers_(context, *this)
    , downloadBox_(context.bundle, context.settings)
    , self_(std::make_shared<AttachmentPipeline*>(this)) {}

QString AttachmentPipeline::localized(const char* text) const {
    return context_.bundle.localized(QString::fromUtf8(text));
}

void AttachmentPipeline::prepareAndUploadAttachments(const ComposeWindow& editor) {
    double criticalSize = 0;
    std::optional<QStringList> found =
        attachmentIDArrayWithCriticalFileSize(editor, context_.settings, &criticalSize);
    const QList<host::AttachmentView> views = editor.backEnd().attachments();
    if (views.isEmpty() || !found || found->isEmpty()) {
        DocumentEditor::hostSend(editor, QVariant());
        return;
    }
    QStringList ids = *found;

    const bool perFile = isPerFileMode(context_.settings);
    const double threshold = thresholdInMByte(context_.settings);
    QStringList leftInMessage;
    QStringList paths;
    // Attachments the host keeps in files are copied on the pool with the compression: a copy of a large
    // file on the main thread would freeze the host's windows. Folders and contents the host keeps
    // elsewhere go through the host's writer here.
    struct Copy {
        QString source, path, filename;
    };
    QList<Copy> copies;
    for (const host::AttachmentView& view : views) {
        const host::AttachmentRecord record = view.attachment();
        const QString contentID = record.contentID();
        if (!platform::containsWordsInArray(contentID, ids))
            continue;
        if (perFile && sizeInMByte(record) < threshold) {
            for (const QString& id : ids)
                if (platform::containsString(contentID, id))
                    leftInMessage.append(id);
            continue;
        }
        // The name comes from the message: it must not lead the copy out of the working directory.
        // Hosts write under a temporary name a few characters longer (".partial", ".XXXXXX"): room for it.
        const QString path = nextAvailableFilePath(
            QDir(workingDirectory_).filePath(safeFileName(record.filename())), maxFileNameBytes - 8);
        const host::FileWrapper wrapper = record.fileWrapper();
        if (const QString source = wrapper.sourcePath(); QFileInfo(source).isFile()) {
            // Held by an empty file until the copy replaces it, so that the next name is not this one.
            QFile placeholder(path);
            if (placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                placeholder.close();
                copies.append({source, path, record.filename()});
                paths.append(path);
                continue;
            }
        }
        if (const auto written = wrapper.writeTo(path); !written) {
            // A file that is neither copied nor left attached would be lost: the run stops here, before
            // anything is hidden, and gives the space back.
            for (const QString& copy : paths)
                removePath(copy);
            showInformation(
                upload::UploadStatus::Failed,
                platform::formatString(localized(texts::copyFailed),
                                       {record.filename(), written.error().localizedDescription}));
            return;
        }
        paths.append(path);
    }
    for (const QString& id : leftInMessage)
        ids.removeAll(id);

    const AttachmentCompressor::Settings settings{context_.settings.boolForKey(keys::compressToSingleZip),
                                                  context_.settings.boolForKey(keys::compressFiles)};
    const QString subject = editor.backEnd().subject();
    const QString workingDirectory = workingDirectory_;
    const EditorRef weakEditor = editor.object();
    // The pool task touches only the file system; the pipeline itself may be gone when it comes back.
    std::weak_ptr<AttachmentPipeline*> alive = self_;
    platform::dispatch::onGlobalPool(
        [alive, paths, ids, subject, workingDirectory, settings, weakEditor, copies] {
            for (const Copy& copy : copies) {
                if (const auto written = host::copyFileInto(copy.source, copy.path); !written) {
                    for (const QString& path : paths)
                        removePath(path);
                    platform::dispatch::onMain([alive, copy, error = written.error()] {
                        if (const auto pipeline = alive.lock())
                            (*pipeline)->showInformation(
                                upload::UploadStatus::Failed,
                                platform::formatString((*pipeline)->localized(texts::copyFailed),
                                                       {copy.filename, error.localizedDescription}));
                    });
                    return;
                }
            }
            const AttachmentCompressor::Result result =
                AttachmentCompressor::compress(paths, subject, workingDirectory, settings);
            platform::dispatch::onMain([alive, result, ids, weakEditor] {
                const auto pipeline = alive.lock();
                const host::ObjectPtr object = weakEditor.lock();
                if (pipeline && object)
                    (*pipeline)->compressionFinished(ComposeWindow(object), result, ids);
            });
        });
}

void AttachmentPipeline::compressionFinished(const ComposeWindow& editor,
                                             const AttachmentCompressor::Result& result,
                                             const QStringList& ids) {
    using Failure = AttachmentCompressor::Result::Failure;
    if (result.failure != Failure::None) {
        const bool single = result.failure == Failure::SingleArchive;
        // Nothing is hidden yet, so there is nothing to restore; the alert says what failed, and why when
        // the file type has nothing to do with it.
        const QString message =
            !result.error || result.failedOnTheFile()
                ? platform::formatString(
                      localized(single ? texts::compressFilesFailed : texts::compressFileFailed),
                      {result.failedName})
                : platform::formatString(localized(single ? texts::compressFilesFailedBecause
                                                          : texts::compressFileFailedBecause),
                                         {result.failedName, result.error->localizedDescription});
        showInformation(upload::UploadStatus::Failed, message);
        return;
    }
    commentAttachmentsForIDs(editor, ids);
    doUploadAttachments(editor, result.paths, ids);
}

void AttachmentPipeline::doUploadAttachments(const ComposeWindow& editor, const QStringList& paths,
                                             const QStringList& ids) {
    editor.saveMessageToDrafts();
    UploadController& controller = controllers_.uploadControllerForDelegate(editor.object());
    if (controller.uploadFiles(paths, ids, recipientList(editor))) {
        if (controller.progressPanel())
            context_.host.ui().beginSheet(controller.progressPanel(), editor.window(), [](int) {});
        return;
    }
    // The attachments are hidden already: bring them back and say why nothing happens, instead of leaving
    // the user with a message that lost its files.
    uncommentAttachmentsForIDs(editor, ids);
    const upload::ServiceDescription* service =
        context_.services.descriptionOfService(UploadController::activeService(context_));
    const bool needsRecipients = service && service->needsRecipients && recipientList(editor).isEmpty();
    showInformation(upload::UploadStatus::Failed,
                    localized(needsRecipients ? texts::uploadNeedsRecipients : texts::uploadNotStarted));
}

void AttachmentPipeline::editorWillClose(const ComposeWindow& editor) {
    controllers_.removeUploadControllerForDelegate(editor.object().get());
}

void AttachmentPipeline::commentAttachmentsForIDs(const ComposeWindow& editor, const QStringList& ids) {
    dom::Node body = editor.composeBody();
    if (body.isNull())
        return;
    dom::Document document = body.ownerDocument();
    for (const QString& id : ids) {
        for (dom::Node object : body.getElementsByTagName(QStringLiteral("object"))) {
            const QString data = object.getAttribute(QStringLiteral("data"));
            if (!data.startsWith(QLatin1String("cid:")) || !data.contains(id))
                continue;
            dom::Node parent = object.parentNode();
            parent.replaceChild(document.createComment(object.outerHTML()), object);
            break;
        }
    }
}

void AttachmentPipeline::uncommentAttachmentsForIDs(const ComposeWindow& editor, const QStringList& ids) {
    dom::Node body = editor.composeBody();
    if (body.isNull())
        return;
    dom::Document document = body.ownerDocument();
    for (const QString& id : ids) {
        dom::TreeWalker walker = document.createTreeWalker(body, dom::TreeWalker::ShowComment);
        for (dom::Node comment = walker.nextNode(); !comment.isNull(); comment = walker.nextNode()) {
            if (!comment.nodeValue().contains(id))
                continue;
            dom::Node restored = document.createElement(QStringLiteral("div"));
            restored.setInnerHTML(comment.nodeValue());
            dom::Node parent = comment.parentNode();
            parent.replaceChild(restored, comment);
            break;
        }
    }
}

QStringList AttachmentPipeline::recipientList(const ComposeWindow& editor) {
    QStringList addresses;
    for (const QString& recipient : editor.backEnd().allRecipients()) {
        QString address = recipient;
        const qsizetype open = recipient.indexOf(u'<');
        const qsizetype close = recipient.indexOf(u'>');
        if (open >= 0 && close >= 0)
            address = close > open ? recipient.mid(open + 1, close - open - 1) : QString();
        if (!address.isEmpty())
            addresses.append(address);
    }
    return addresses;
}

void AttachmentPipeline::cancelWithStatus(UploadController& controller, upload::UploadStatus status,
                                          const QString& message) {
    if (const host::ObjectPtr editor = controller.editor())
        cancelWithStatus(ComposeWindow(editor), status, message);
}

void AttachmentPipeline::cancelWithStatus(const ComposeWindow& editor, upload::UploadStatus status,
                                          const QString& message) {
    UploadController& controller = controllers_.uploadControllerForDelegate(editor.object());
    uncommentAttachmentsForIDs(editor, controller.fileIDArray());
    if (controller.progressPanel())
        context_.host.ui().endSheet(controller.progressPanel());
    if (status != upload::UploadStatus::CancelledByUser)
        showInformation(status, message);
}

void AttachmentPipeline::showInformation(upload::UploadStatus status, const QString& message) const {
    const char* title = status == upload::UploadStatus::Failed ? texts::errorTitle : texts::informationTitle;
    runAlertPanel(context_, localized(title), QStringLiteral("%@"), {}, {}, {}, {message});
}

void AttachmentPipeline::receivedShareLinks(UploadController& controller, const QList<FileInfo>& files) {
    if (const host::ObjectPtr editor = controller.editor())
        receivedShareLinks(ComposeWindow(editor), files);
}

void AttachmentPipeline::receivedShareLinks(const ComposeWindow& editor, const QList<FileInfo>& files) {
    UploadController& controller = controllers_.uploadControllerForDelegate(editor.object());
    if (controller.progressPanel())
        context_.host.ui().endSheet(controller.progressPanel());
    if (files.isEmpty()) {
        uncommentAttachmentsForIDs(editor, controller.fileIDArray());
        return;
    }
    for (const FileInfo& file : files) {
        if (!file.contains(file_info::path) || !file.contains(file_info::size) ||
            !file.contains(file_info::linkURL)) {
            cancelWithStatus(editor, upload::UploadStatus::Failed,
                             localized(texts::uploadInformationIncomplete));
            return;
        }
    }

    QString language;
    if (context_.settings.boolForKey(keys::translateInfoBox))
        language = emailLanguage(editor.composeBody().outerHTML());
    const auto box = downloadBox_.boxHTML(files, editor.webViewEditor().allowsRichText(), language);
    if (!box) {
        // A broken resource must not cost the user the attachments.
        platform::SystemLog::write(box.error().localizedDescription);
        cancelWithStatus(editor, upload::UploadStatus::Failed, box.error().localizedDescription);
        return;
    }
    if (!insertBox(editor, *box)) {
        // Without the box the message would leave with neither files nor links; the copies stay for
        // another try.
        cancelWithStatus(editor, upload::UploadStatus::Failed, localized(texts::boxNotInserted));
        return;
    }

    // Freeing a gigabyte's blocks takes the file system most of a second: not on the main thread. The
    // uploader may still hold its copy open, and its last close would free them on the main thread: the
    // copy is emptied first, which frees them here. Copies are never links to the user's files.
    QStringList uploaded;
    for (const FileInfo& file : files)
        uploaded.append(file.value(file_info::path).toString());
    platform::dispatch::onGlobalPool([uploaded] {
        for (const QString& path : uploaded) {
            if (const QFileInfo info(path); info.isFile() && !info.isSymLink()) {
                [[maybe_unused]] const int emptied = ::truncate(QFile::encodeName(path).constData(), 0);
            }
            removePath(path);
        }
    });
    if (context_.settings.boolForKey(keys::autoSendEmail))
        DocumentEditor::hostSend(editor, host::toVariant(editor.object()));
}

bool AttachmentPipeline::insertBox(const ComposeWindow& editor, const QString& boxHTML) const {
    dom::Node body = editor.composeBody();
    if (body.isNull())
        return false;
    dom::Document document = editor.webViewEditor().webView().document();
    if (document.isNull())
        document = body.ownerDocument();
    dom::Node box = document.createElement(QStringLiteral("div"));
    box.setInnerHTML(boxHTML);
    box.setIdName(QString::fromLatin1(boxElementID));
    dom::Node lineBreak = document.createElement(QStringLiteral("br"));

    const QList<dom::Node> quoted = body.descendantsWithClassName(QStringLiteral("AppleOriginalContents"));
    if (!quoted.isEmpty()) {
        box.insertAsSiblingBeforeNode(quoted.first());
        lineBreak.insertAsSiblingBeforeNode(quoted.first());
    } else {
        body.appendChild(lineBreak);
        body.appendChild(box);
    }
    return !box.parentNode().isNull();
}

} // namespace qm::plugin
