#pragma once

#include "host/dom_values.h"
#include "host/runtime.h"
#include "platform/result.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

namespace qm::host {

// One attachment of an in-memory compose window, backed by a file.
struct ComposeAttachment {
    QString contentID;
    QString filePath;
    QString filename;           // defaults to the file's name
    std::optional<qint64> size; // defaults to the file's size
};

// A compose window whose message lives in memory: body document, attachments backed by files,
// subject, recipients. Hosts that build compose windows from message files or from tests use it; the
// window's operations are those of InMemoryComposeClasses.
class InMemoryComposeWindow : public Object {
public:
    explicit InMemoryComposeWindow(Class& composeClass);

    void setBodyHTML(const QString& bodyHTML); // the content of the body element
    QString bodyHTML() const;                  // outerHTML of the body element
    platform::dom::Document document() const { return document_; }

    // Adds the attachment record and, when `referenced`, its object element at the end of the body, the
    // way a composer shows an attachment.
    void addAttachment(const ComposeAttachment& attachment, bool referenced = true);
    const QList<ComposeAttachment>& attachments() const { return attachments_; }

    QString subject;
    QStringList recipients;
    bool richText = true;
    ObjectPtr window; // the parent of sheets
    int draftsSaved = 0;

private:
    platform::dom::Document document_;
    QList<ComposeAttachment> attachments_;
};

// Defines, in a runtime, the compose window class and the classes of its back end, attachments, file
// wrappers, web view editor, web view and frame, all reading an InMemoryComposeWindow. The host's own send
// and close are the callbacks given here.
class InMemoryComposeClasses {
public:
    using WindowAction = std::function<void(InMemoryComposeWindow& window, const QVariant& argument)>;

    // `answersOperations` false gives a compose window that answers only send: and windowWillClose:.
    static Class* define(Runtime& runtime, const QString& composeClassName, WindowAction send,
                         WindowAction windowWillClose, bool answersOperations = true);
};

// Copies a file into `to` (made when missing, emptied first when not), in the kernel where the file
// systems allow it; a failed copy leaves `to` empty. A folder is copied whole under a temporary name and
// renamed into place. Nothing is synced to disk. The error's text is the system's reason ("No space left
// on device").
platform::Result<void> copyFileInto(const QString& from, const QString& to);

} // namespace qm::host
