#include "desktop/compose_window.h"

#include "cli/compose_body.h"
#include "cli/message_loader.h"
#include "cli/message_writer.h"
#include "cli/source_message.h"
#include "platform/dispatch.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QMimeData>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QUuid>
#include <QVBoxLayout>

namespace qm::desktop {

namespace {

constexpr int pathRole = Qt::UserRole;
constexpr char downloadBoxID[] = "QuillmoorAttachmentInfo";

QString addresses(InternetAddressList* list) {
    if (!list || internet_address_list_length(list) == 0)
        return {};
    return cli::gmime::OwnedString(internet_address_list_to_string(list, nullptr, FALSE)).toQString();
}

// A header value as RFC 2047 wants it when it is not plain ASCII.
QByteArray encodedWord(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0x7e || c.unicode() < 0x20)
            return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
    return text.toUtf8();
}

platform::Error composeError(const QString& text) {
    return platform::Error(QStringLiteral("quillmoor-mail"), 1, text);
}

} // namespace

ComposeWindow::ComposeWindow(DesktopHost& host, DeliverySettings delivery, QWidget* parent)
    : QMainWindow(parent)
    , host_(host)
    , delivery_(std::move(delivery))
    , scratch_(QDir::temp().filePath(QStringLiteral("quillmoor-mail-XXXXXX")))
    , from_(new QLineEdit)
    , to_(new QLineEdit)
    , cc_(new QLineEdit)
    , bcc_(new QLineEdit)
    , subject_(new QLineEdit)
    , body_(new QTextEdit)
    , attachments_(new QListWidget) {
    setWindowTitle(tr("New Message"));
    setAcceptDrops(true);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* header = new QFormLayout;
    header->addRow(tr("From:"), from_);
    header->addRow(tr("To:"), to_);
    header->addRow(tr("Cc:"), cc_);
    header->addRow(tr("Bcc:"), bcc_);
    header->addRow(tr("Subject:"), subject_);
    layout->addLayout(header);
    auto* split = new QSplitter(Qt::Vertical, central);
    split->addWidget(body_);
    split->addWidget(attachments_);
    split->setStretchFactor(0, 4);
    layout->addWidget(split);
    setCentralWidget(central);
    attachments_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    body_->setAcceptRichText(true);

    QToolBar* tools = addToolBar(tr("Message"));
    tools->addAction(tr("Send"), this, &ComposeWindow::send)->setObjectName(QStringLiteral("sendAction"));
    tools->addAction(tr("Attach…"), this, [this] {
        for (const QString& path : QFileDialog::getOpenFileNames(this, tr("Attach Files")))
            addAttachment(path);
    });
    tools->addAction(tr("Remove Attachment"), this, &ComposeWindow::removeSelectedAttachments);
    tools->addAction(tr("Save Draft…"), this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, tr("Save Draft"), QString(), tr("Messages (*.eml)"));
        if (!path.isEmpty())
            saveDraft(path, [this, path](platform::Result<void> saved) {
                if (saved)
                    statusBar()->showMessage(tr("Draft saved to %1").arg(path));
                else
                    showError(tr("Draft Not Saved"), saved.error().localizedDescription);
            });
    });
    for (QLineEdit* field : {from_, to_, cc_, bcc_, subject_})
        connect(field, &QLineEdit::textEdited, this, [this] { objectCurrent_ = false; });
    connect(body_->document(), &QTextDocument::contentsChange, this, [this] { objectCurrent_ = false; });
    QFile::setPermissions(scratch_.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

ComposeWindow::~ComposeWindow() {
    *alive_ = false;
    if (object_)
        object_->invoke(QStringLiteral("windowWillClose:"), {QVariant()});
}

platform::Result<void> ComposeWindow::openDraft(const QString& path) {
    const QString folder = scratch_.filePath(QStringLiteral("draft"));
    QDir().mkpath(folder);
    auto loaded = cli::MessageLoader(folder).load(path);
    if (!loaded)
        return loaded.error();
    GMimeMessage* source = loaded->source ? loaded->source->message.get() : nullptr;
    if (source) {
        from_->setText(addresses(g_mime_message_get_from(source)));
        to_->setText(addresses(g_mime_message_get_addresses(source, GMIME_ADDRESS_TYPE_TO)));
        cc_->setText(addresses(g_mime_message_get_addresses(source, GMIME_ADDRESS_TYPE_CC)));
        bcc_->setText(addresses(g_mime_message_get_addresses(source, GMIME_ADDRESS_TYPE_BCC)));
    }
    subject_->setText(loaded->subject);
    richText_ = loaded->richText;
    body_->setAcceptRichText(richText_);
    body_->setHtml(loaded->bodyHTML);
    attachments_->clear();
    for (const cli::LoadedAttachment& attachment : loaded->attachments) {
        auto* item = new QListWidgetItem(attachment.attachment.filename, attachments_);
        item->setData(pathRole, attachment.attachment.filePath);
    }
    setWindowTitle(loaded->subject.isEmpty() ? tr("New Message") : loaded->subject);
    objectCurrent_ = false;
    return {};
}

void ComposeWindow::addAttachment(const QString& path) {
    const QFileInfo file(path);
    if (!file.isFile())
        return;
    auto* item = new QListWidgetItem(file.fileName(), attachments_);
    item->setData(pathRole, file.absoluteFilePath());
    objectCurrent_ = false;
}

void ComposeWindow::removeSelectedAttachments() {
    qDeleteAll(attachments_->selectedItems());
    objectCurrent_ = false;
}

platform::Result<QString> ComposeWindow::writeHeadersAndBody() const {
    // The headers and the body as a message file, which the command-line host's loader reads as it reads any
    // message: the message then leaves through the same writer. Attachments stay where they are.
    const QString path = scratch_.filePath(QStringLiteral("message-%1.eml").arg(builds_));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return composeError(tr("cannot write %1: %2").arg(path, file.errorString()));
    QByteArray head;
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"From", from_}, {"To", to_}, {"Cc", cc_}, {"Bcc", bcc_}};
    for (const auto& [name, field] : fields)
        if (!field->text().trimmed().isEmpty())
            head += QByteArray(name) + ": " + field->text().trimmed().toUtf8() + '\n';
    head += "Subject: " + encodedWord(subject_->text()) + '\n';
    head += "MIME-Version: 1.0\n";
    head +=
        richText_ ? "Content-Type: text/html; charset=utf-8\n" : "Content-Type: text/plain; charset=utf-8\n";
    head += "Content-Transfer-Encoding: base64\n\n";
    file.write(head);
    const QByteArray body = (richText_ ? body_->toHtml() : body_->toPlainText()).toUtf8().toBase64();
    for (qsizetype at = 0; at < body.size(); at += 76) {
        file.write(body.constData() + at, std::min<qsizetype>(76, body.size() - at));
        file.write("\n", 1);
    }
    if (!file.commit())
        return composeError(tr("cannot write %1: %2").arg(path, file.errorString()));
    return path;
}

platform::Result<std::shared_ptr<cli::LoadedMessage>> ComposeWindow::messageFromWidgets() {
    ++builds_;
    const auto path = writeHeadersAndBody();
    if (!path)
        return path.error();
    const QString folder = scratch_.filePath(QStringLiteral("parts-%1").arg(builds_));
    QDir().mkpath(folder);
    auto loaded = cli::MessageLoader(folder).load(*path);
    if (!loaded)
        return loaded.error();
    auto message = std::make_shared<cli::LoadedMessage>(std::move(*loaded));
    const QMimeDatabase types;
    for (int row = 0; row < attachments_->count(); ++row) {
        const QString file = attachments_->item(row)->data(pathRole).toString();
        const QString contentID = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString type = types.mimeTypeForFile(file).name();
        message->attachments.append(
            {host::ComposeAttachment{contentID, file, QFileInfo(file).fileName(), std::nullopt}, type});
        message->bodyHTML += cli::compose_body::objectElement(contentID, type);
    }
    return message;
}

void ComposeWindow::send() {
    if (!object_ || !objectCurrent_) {
        auto message = messageFromWidgets();
        if (!message) {
            showError(tr("Message Not Sent"), message.error().localizedDescription);
            return;
        }
        if (object_)
            object_->invoke(QStringLiteral("windowWillClose:"), {QVariant()});
        message_ = *message;
        object_ = host_.newComposeWindow([this](host::InMemoryComposeWindow& window) { hostSend(window); });
        message_->fill(*object_);
        object_->window = ui::windowObject(host_.runtime(), this);
        objectCurrent_ = true;
    }
    object_->invoke(QStringLiteral("send:"), {host::toVariant(object_)});
}

void ComposeWindow::hostSend(host::InMemoryComposeWindow& window) {
    const auto outgoing =
        std::make_shared<cli::OutgoingMessage>(cli::OutgoingMessage::fromWindow(window, *message_));
    const cli::Envelope envelope{message_->sender, message_->envelopeRecipients};
    if (delivery_.destination.kind == cli::Destination::Kind::Smtp &&
        (envelope.sender.isEmpty() || envelope.recipients.isEmpty())) {
        showError(tr("Message Not Sent"), envelope.sender.isEmpty() ? tr("The message has no From address.")
                                                                    : tr("The message has no recipient."));
        return;
    }
    statusBar()->showMessage(tr("Sending…"));
    // Writing and submitting block: on the pool, with the message's parts kept alive until they are done.
    platform::dispatch::onGlobalPool(
        [delivery = delivery_, envelope, outgoing, message = message_, alive = alive_, this] {
            auto result = deliver(delivery, envelope, *outgoing);
            platform::dispatch::onMain([result = std::move(result), alive, this] {
                if (!*alive)
                    return;
                if (!result) {
                    statusBar()->clearMessage();
                    showError(tr("Message Not Sent"), result.error().localizedDescription);
                    Q_EMIT deliveryFailed(result.error().localizedDescription);
                    return;
                }
                statusBar()->showMessage(*result);
                if (object_)
                    object_->invoke(QStringLiteral("windowWillClose:"), {QVariant()});
                object_.reset();
                Q_EMIT delivered(*result);
                close();
            });
        });
}

void ComposeWindow::saveDraft(const QString& path, std::function<void(platform::Result<void>)> done) {
    auto message = messageFromWidgets();
    if (!message) {
        if (done)
            done(message.error());
        return;
    }
    auto window = host_.newComposeWindow({});
    (*message)->fill(*window);
    const auto outgoing =
        std::make_shared<cli::OutgoingMessage>(cli::OutgoingMessage::fromWindow(*window, **message));
    window->invoke(QStringLiteral("windowWillClose:"), {QVariant()});
    platform::dispatch::onGlobalPool(
        [path, outgoing, message = *message, alive = alive_, done = std::move(done)] {
            platform::Result<void> result;
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                result = composeError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
            else if (auto written = cli::MessageWriter::write(*outgoing, file.handle(), {.keepBcc = true});
                     !written)
                result = written.error();
            else if (!file.commit())
                result = composeError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
            platform::dispatch::onMain([result, alive, done] {
                if (*alive && done)
                    done(result);
            });
        });
}

void ComposeWindow::takeBodyFromComposeObject() {
    // The plug-in put its download box into the message and left the sending to the user: show it.
    if (!object_ || !objectCurrent_ ||
        object_->document()
            .nodesForXPath(QStringLiteral("//*[@id='%1']").arg(QLatin1String(downloadBoxID)))
            .isEmpty())
        return;
    body_->setHtml(object_->bodyHTML());
    objectCurrent_ = true;
}

void ComposeWindow::showError(const QString& title, const QString& text) {
    host::AlertRequest request;
    request.title = title;
    request.informativeText = text;
    host_.ui().beginAlertSheet(request, ui::windowObject(host_.runtime(), this), {});
}

void ComposeWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ComposeWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            addAttachment(url.toLocalFile());
    event->acceptProposedAction();
}

bool ComposeWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowUnblocked)
        takeBodyFromComposeObject();
    return QMainWindow::event(event);
}

} // namespace qm::desktop
