#pragma once

#include "cli/loaded_message.h"
#include "desktop/delivery.h"
#include "desktop/desktop_host.h"
#include "platform/result.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTextEdit>

namespace qm::desktop {

// A message being written: From, To, Cc, Bcc, Subject, the body (rich text, or plain when the message is
// plain) and its attachments. Send hands the message to the plug-in through the host's compose window
// object; when the plug-in lets it go (at once, or after the upload), the message is written with the
// command-line host's MIME writer and delivered on the pool, so the window never waits on a transport.
//
// The compose window object is made from the widgets at Send and kept while it carries the plug-in's
// download box (automatic sending off), so that the next Send sends that message and not a fresh one.
class ComposeWindow final : public QMainWindow {
    Q_OBJECT
public:
    ComposeWindow(DesktopHost& host, DeliverySettings delivery, QWidget* parent = nullptr);
    ~ComposeWindow() override;

    // Opens a message file (a draft): its headers, body and attachments.
    platform::Result<void> openDraft(const QString& path);
    void addAttachment(const QString& path);
    void removeSelectedAttachments();
    void send();
    // Writes the message as it stands to `path`; on the pool, `done` runs on the main thread.
    void saveDraft(const QString& path, std::function<void(platform::Result<void>)> done = {});

    QLineEdit* from() const { return from_; }
    QLineEdit* to() const { return to_; }
    QLineEdit* cc() const { return cc_; }
    QLineEdit* bcc() const { return bcc_; }
    QLineEdit* subject() const { return subject_; }
    QTextEdit* body() const { return body_; }
    QListWidget* attachmentList() const { return attachments_; }
    bool richText() const { return richText_; }
    void setRichText(bool rich) { richText_ = rich; }

Q_SIGNALS:
    void delivered(const QString& report);
    void deliveryFailed(const QString& reason);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool event(QEvent* event) override;

private:
    platform::Result<std::shared_ptr<cli::LoadedMessage>> messageFromWidgets();
    platform::Result<QString> writeHeadersAndBody() const;
    void hostSend(host::InMemoryComposeWindow& window);
    void takeBodyFromComposeObject();
    void showError(const QString& title, const QString& text);

    DesktopHost& host_;
    DeliverySettings delivery_;
    QTemporaryDir scratch_;
    QLineEdit* from_;
    QLineEdit* to_;
    QLineEdit* cc_;
    QLineEdit* bcc_;
    QLineEdit* subject_;
    QTextEdit* body_;
    QListWidget* attachments_;
    bool richText_ = true;
    int builds_ = 0;
    std::shared_ptr<cli::LoadedMessage> message_;         // what the compose object was made from
    std::shared_ptr<host::InMemoryComposeWindow> object_; // the host's compose window object
    bool objectCurrent_ = false;                          // the widgets show what the object holds
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace qm::desktop
