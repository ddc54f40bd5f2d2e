#include "plugin/url_handler.h"

#include "host/object_facade.h"
#include "host/selectors.h"
#include "uploaders/uploader_class.h"

namespace qm::plugin {

namespace sel = host::selectors;

UrlHandler::UrlHandler(PluginContext& context, LinkingUploader& linking)
    : context_(context)
    , linking_(linking) {}

host::Class* UrlHandler::defineCategoryClass() const {
    host::Runtime& runtime = context_.host.runtime();
    host::Class* category = runtime.addClass(QString::fromLatin1(categoryClassName),
                                             runtime.classNamed(QStringLiteral("NSObject")));
    if (!category)
        return nullptr;
    category->addInstanceMethod(QString::fromLatin1(quillmoorHandlerSelector),
                                [this](const host::Invocation& call) {
                                    if (call.self)
                                        quillmoorHandleURL(*call.self, call.argument(0), call.argument(1));
                                    return QVariant();
                                });
    return category;
}

bool UrlHandler::isDropboxScheme(const QString& scheme) const {
    const upload::UploaderClass* dropbox = context_.services.classForService(upload::ServiceId::Dropbox);
    if (!dropbox)
        return false;
    for (const QString& own : dropbox->redirectSchemes())
        if (scheme.compare(own, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void UrlHandler::bringForwardAndRefresh(host::Object& application) const {
    host::ObjectFacade(application.shared_from_this())
        .call(QString::fromLatin1(sel::activateIgnoringOtherApps), {true});
    // The page shows link states; without a page (or in a host without one) there is nothing to refresh.
    const host::Class* moduleClass =
        context_.host.runtime().classNamed(QStringLiteral("RVQuillmoorPreferenceModule"));
    const host::ObjectPtr module =
        moduleClass ? host::toObject(moduleClass->invokeClassMethod(QStringLiteral("sharedInstance")))
                    : nullptr;
    host::ObjectFacade(module).call(QStringLiteral("updateUI"));
}

void UrlHandler::quillmoorHandleURL(host::Object& application, const QVariant& event,
                                    const QVariant& reply) const {
    const QString text = event.toString().trimmed();
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.isValid() ? url.scheme() : QString();
    if (scheme.compare(QLatin1String(ownScheme), Qt::CaseInsensitive) == 0) {
        if (url.host().compare(QLatin1String(boxRedirectHost), Qt::CaseInsensitive) == 0) {
            // Only the Box sign-in under way takes it, and only with its own state: the whole address
            // goes, so the uploader can check the state before it takes the code.
            if (upload::Uploader* box = linking_.uploaderOf(upload::ServiceId::Box))
                box->finishSignIn(text);
            return;
        }
        bringForwardAndRefresh(application);
        return;
    }
    if (!scheme.isEmpty() && isDropboxScheme(scheme)) {
        bringForwardAndRefresh(application);
        // The Dropbox sign-in needs the code this address carries to finish.
        if (upload::Uploader* dropbox = linking_.uploaderOf(upload::ServiceId::Dropbox))
            dropbox->finishSignIn(text);
        return;
    }
    application.invoke(QString::fromLatin1(quillmoorHandlerSelector), {event, reply});
}

} // namespace qm::plugin
