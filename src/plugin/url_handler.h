#pragma once

#include "plugin/linking_uploader.h"
#include "plugin/plugin_context.h"

#include <QUrl>

namespace qm::plugin {

// The plug-in's operation of the host's application class, which receives the URLs of the schemes the
// plug-in claims. It is defined on the category class "RVQuillmoorMailApp", merged into "MailApp" and
// exchanged with the host's handler at start-up, so that
//   "handleGURLAppleEvent:replyEvent:"          runs quillmoorHandleURL(), and
//   "quillmoorHandleGURLAppleEvent:replyEvent:" runs the host's own handler.
// The event's first argument is the URL as text.
class UrlHandler {
public:
    static constexpr char categoryClassName[] = "RVQuillmoorMailApp";
    static constexpr char quillmoorHandlerSelector[] = "quillmoorHandleGURLAppleEvent:replyEvent:";
    static constexpr char ownScheme[] = "quillmoor";
    static constexpr char boxRedirectHost[] = "box-redirect";

    UrlHandler(PluginContext& context, LinkingUploader& linking);

    // Registers the category class; nullptr when a class of that name exists. The operation calls into
    // this object, which must outlive the runtime's use of it.
    host::Class* defineCategoryClass() const;

    // "quillmoor://box-redirect?…" goes to the Box sign-in under way, which takes its code when the state
    // is its own; other "quillmoor" addresses and the Dropbox scheme bring the host forward and refresh the
    // preferences page (the Dropbox address also goes to the Dropbox sign-in under way); any other scheme
    // goes to the host's own handler.
    void quillmoorHandleURL(host::Object& application, const QVariant& event, const QVariant& reply) const;

private:
    bool isDropboxScheme(const QString& scheme) const;
    void bringForwardAndRefresh(host::Object& application) const;

    PluginContext& context_;
    LinkingUploader& linking_;
};

} // namespace qm::plugin
