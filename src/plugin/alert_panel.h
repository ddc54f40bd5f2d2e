#pragma once

#include "plugin/plugin_context.h"

#include <QVariantList>

namespace qm::plugin {

// The plug-in's application-modal alert with its icon. The message is a format filled with `arguments`;
// empty button titles are left out (all empty: one default button). Returns 1, 0 or -1 for the default,
// alternate and other button.
int runAlertPanel(const PluginContext& context, const QString& title, const QString& messageFormat,
                  const QString& defaultButton = {}, const QString& alternateButton = {},
                  const QString& otherButton = {}, const QVariantList& arguments = {});

// The same with a check box that suppresses the alert from then on: the title is the settings key that
// remembers it. Returns -2 at once while suppressed.
int runAlertPanelWithCheckbox(const PluginContext& context, const QString& title,
                              const QString& messageFormat, const QString& defaultButton = {},
                              const QString& alternateButton = {}, const QString& otherButton = {},
                              const QVariantList& arguments = {});

inline constexpr int AlertSuppressed = -2;

} // namespace qm::plugin
