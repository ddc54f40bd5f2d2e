#include "plugin/alert_panel.h"

#include "platform/string_format.h"

namespace qm::plugin {
namespace {

host::AlertRequest alertRequest(const PluginContext& context, const QString& title,
                                const QString& messageFormat, const QString& defaultButton,
                                const QString& alternateButton, const QString& otherButton,
                                const QVariantList& arguments) {
    host::AlertRequest request;
    request.title = title;
    request.informativeText = platform::formatString(messageFormat, arguments);
    request.iconPath = context.bundle.pathForResource(QStringLiteral("Quillmoor"), QStringLiteral("png"));
    request.defaultButton = defaultButton;
    request.alternateButton = alternateButton;
    request.otherButton = otherButton;
    return request;
}

} // namespace

int runAlertPanel(const PluginContext& context, const QString& title, const QString& messageFormat,
                  const QString& defaultButton, const QString& alternateButton, const QString& otherButton,
                  const QVariantList& arguments) {
    const host::AlertRequest request =
        alertRequest(context, title, messageFormat, defaultButton, alternateButton, otherButton, arguments);
    return context.host.ui().runModalAlert(request).returnCode;
}

int runAlertPanelWithCheckbox(const PluginContext& context, const QString& title,
                              const QString& messageFormat, const QString& defaultButton,
                              const QString& alternateButton, const QString& otherButton,
                              const QVariantList& arguments) {
    if (context.settings.boolForKey(title))
        return AlertSuppressed;
    host::AlertRequest request =
        alertRequest(context, title, messageFormat, defaultButton, alternateButton, otherButton, arguments);
    request.showsSuppressionButton = true;
    const host::AlertResponse response = context.host.ui().runModalAlert(request);
    // Unsaved, the choice only means the alert is asked again.
    (void)context.settings.setBool(response.suppressionChecked, title);
    return response.returnCode;
}

} // namespace qm::plugin
