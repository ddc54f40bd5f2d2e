#pragma once

#include "plugin/plugin_context.h"

#include <QVariantMap>
#include <functional>

namespace qm::plugin {

// Tells the user, at most once per process, about another plug-in of the same maker that is not
// installed: one entry of the bundle's "RovendalPluginInfo" list, picked at random among those whose
// "pluginClass" the host's runtime does not know.
class OtherPluginsNotice {
public:
    static constexpr char title[] = "More Plugins from Rovendal";
    static constexpr char messageFormat[] =
        "Rovendal offers more great plugins extending Mail's functionality. One of these plugins is "
        "'%1':\n\n%2\n\nDo you want to find our more about this plugin?";

    explicit OtherPluginsNotice(PluginContext& context)
        : context_(context) {}

    // The body runs on the first call only.
    void checkForRovendalPlugins();

    // The entries of the list whose class is missing from the host; empty without a list.
    QVariantList missingPlugins() const;

    // Picks among `count` entries; uniform, from the system's random numbers unless a test sets it.
    std::function<quint32()> random;

private:
    PluginContext& context_;
    bool done_ = false;
};

} // namespace qm::plugin
