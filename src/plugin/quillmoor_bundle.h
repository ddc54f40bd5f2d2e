#pragma once

#include "plugin/attachment_pipeline.h"
#include "plugin/class_lookup.h"
#include "plugin/document_editor.h"
#include "plugin/linking_uploader.h"
#include "plugin/plugin_context.h"
#include "plugin/plugin_delegate.h"
#include "plugin/url_handler.h"

#include <QObject>
#include <QVersionNumber>
#include <mutex>

namespace qm::plugin {

// The plug-in's principal class: what a host loads. initialize() wires the plug-in into the host's
// runtime once, however often it is called: bundle registration, the category merges, the exchanges of
// send, close, URL and interface-loading operations, the URL schemes, the defaults, the support folder
// and the delayed start-up work.
class QuillmoorBundle {
public:
    static constexpr char className[] = "RVQuillmoorBundle";
    static constexpr char preferencesOwnerClassName[] = "RVQuillmoorPreferenceModule";
    static constexpr char preferencesPanelName[] = "Quillmoor";

    QuillmoorBundle(host::Host& host, platform::SettingsStore& settings, const platform::Bundle& bundle,
                    upload::ServiceRegistry& services, QString workingDirectory);

    void initialize();

    // "DocumentEditor" from OS X 10.9 on, "MailDocumentEditor" before; hosts answer their version.
    static QString composeWindowClassName(const QVersionNumber& systemVersion);
    // Where the plug-in keeps files of its own; made when missing.
    static QString supportDirectory();

    PluginContext& context() { return context_; }
    ClassLookup& classLookup() { return classLookup_; }
    AttachmentPipeline& pipeline() { return pipeline_; }
    PluginDelegate& delegate() { return delegate_; }
    // The uploader of the account link under way, which the URL handler hands redirects to.
    LinkingUploader& linkingUploader() { return linkingUploader_; }

private:
    void registerBundleClass();
    void mergeCategory(host::Class* category, const QString& targetName);
    void mergeLocalizingLoaders();
    void exchange(const QString& className, bool classMethod, const QString& hostSelector,
                  const QString& ownSelector);
    void claimUrlSchemes();
    void registerDefaults();
    void recordVersion();

    std::once_flag once_;
    QObject timerContext_; // delayed work dies with the plug-in
    PluginContext context_;
    ClassLookup classLookup_;
    AttachmentPipeline pipeline_;
    DocumentEditor editor_;
    LinkingUploader linkingUploader_;
    UrlHandler urlHandler_;
    PluginDelegate delegate_;
};

} // namespace qm::plugin
