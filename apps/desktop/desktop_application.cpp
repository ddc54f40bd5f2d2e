#include "desktop/desktop_application.h"

#include "cli/plugin_loader.h"
#include "ui/preferences_category.h"

#include <QApplication>

namespace qm::desktop {

DesktopApplication::DesktopApplication(Parts parts)
    : parts_(std::move(parts))
    , context_{host_, parts_.settings, parts_.bundle, parts_.services} {
    module_ = std::make_unique<ui::PreferenceModule>(
        context_, parts_.credentials, parts_.authUploader ? parts_.authUploader : &linkingHolder_);
    ui::definePreferenceClasses(host_.runtime(), *module_);
}

DesktopApplication::~DesktopApplication() = default;

void DesktopApplication::PluginLinkingHolder::setAuthUploader(upload::Uploader* uploader,
                                                              upload::ServiceId service) {
    // Before the plug-in is loaded no redirect can be handled, so there is nothing to publish.
    if (application_.plugin_)
        application_.plugin_->linkingUploader().set(uploader, service);
}

upload::Uploader* DesktopApplication::PluginLinkingHolder::authUploader() const {
    return application_.plugin_ ? application_.plugin_->linkingUploader().uploader() : nullptr;
}

platform::Result<void> DesktopApplication::start() {
    auto loaded =
        cli::loadPlugin(host_, parts_.settings, parts_.bundle, parts_.services,
                        QString::fromLatin1(DesktopHost::composeClassName), parts_.workingDirectory);
    if (!loaded)
        return loaded.error();
    plugin_ = std::move(*loaded);
    return {};
}

ComposeWindow* DesktopApplication::newComposeWindow() {
    auto* window = new ComposeWindow(host_, parts_.delivery);
    window->setAttribute(Qt::WA_DeleteOnClose);
    front_ = window;
    return window;
}

void DesktopApplication::handleUrl(const QUrl& url) {
    QWidget* front = QApplication::activeWindow();
    if (!front)
        front = front_;
    if (front) {
        front->show();
        front->raise();
        front->activateWindow();
    }
    host_.application()->invoke(QStringLiteral("handleGURLAppleEvent:replyEvent:"),
                                {url.toString(QUrl::FullyEncoded), QVariant()});
}

} // namespace qm::desktop
