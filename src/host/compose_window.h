#pragma once

#include "host/dom_values.h"
#include "host/object_facade.h"
#include "platform/result.h"

#include <QList>
#include <QStringList>

namespace qm::host {

// Writes the contents of an attachment to a file.
class FileWrapper : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    // Atomically, updating the name, with no earlier contents. The host answers true, or the Error that
    // says why nothing was written (a full disk, a name too long); not answered is an error too.
    platform::Result<void> writeTo(const QString& path) const;
    // The file holding the contents, when the host keeps them in one; null otherwise.
    QString sourcePath() const;

    static constexpr int WritingAtomic = 1;
    static constexpr int WritingWithNameUpdating = 2;
};

// The host's record of one attachment.
class AttachmentRecord : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    QString contentID() const;
    qint64 approximateSize() const; // bytes; 0 when not answered
    FileWrapper fileWrapper() const;
    QString filename() const;
};

class AttachmentView : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    AttachmentRecord attachment() const;
};

class ComposeBackEnd : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    QList<AttachmentView> attachments() const;
    QString subject() const;
    QStringList allRecipients() const; // bare, or "Name <address>"
};

class WebView : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    platform::dom::Node contentElement() const; // the compose body
    platform::dom::Document document() const;   // mainFrame, then DOMDocument
};

class WebViewEditor : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    WebView webView() const;
    bool allowsRichText() const; // NO: a plain-text message
};

// The compose window's editor: the object whose send and close the plug-in takes over.
class ComposeWindow : public ObjectFacade {
public:
    using ObjectFacade::ObjectFacade;
    ComposeBackEnd backEnd() const;
    WebViewEditor webViewEditor() const;
    ObjectPtr window() const;         // parent of sheets
    bool saveMessageToDrafts() const; // false when not answered
    // The compose body element, through the web view editor; null when any step is missing.
    platform::dom::Node composeBody() const;
};

} // namespace qm::host

Q_DECLARE_METATYPE(qm::platform::Error)
