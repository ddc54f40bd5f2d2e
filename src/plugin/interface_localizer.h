#pragma once

#include "host/interface_objects.h"
#include "host/ui_services.h"
#include "platform/bundle.h"
#include "plugin/plugin_context.h"

#include <QString>
#include <optional>

namespace qm::plugin {

// Interface files are kept once, in English. Loading one through here translates it: when the plug-in
// bundle has a string table named after the file in the user's language, every user-visible text of the
// freshly loaded objects is replaced by its entry there. Works on any host's interface model.
class InterfaceLocalizer {
public:
    InterfaceLocalizer(const platform::Bundle& bundle, host::UiServices& ui)
        : bundle_(bundle)
        , ui_(ui) {}

    // Loads "<name>.ui" through the host and translates it; English, a missing table or an interface the
    // plug-in bundle does not have leave the host's loading as it is.
    std::optional<host::LoadedInterface> loadNibNamed(const QString& name,
                                                      const host::InterfaceActions& actions) const;

    // The object (or array of objects) and everything reachable from it, in `table`. Null does nothing.
    void localizeStringsInObject(host::InterfaceObject* object, const QString& table) const;

    // The translation, `text` itself when the table has none, or null for a null or empty text.
    QString localizedStringForString(const QString& text, const QString& table) const;

    // Each translates one text property in place; objects without it are left alone.
    void localizeTitleOfObject(host::InterfaceObject* object, const QString& table) const;
    void localizeAlternateTitleOfObject(host::InterfaceObject* object, const QString& table) const;
    void localizeStringValueOfObject(host::InterfaceObject* object, const QString& table) const;
    void localizePlaceholderStringOfObject(host::InterfaceObject* object, const QString& table) const;
    void localizeToolTipOfObject(host::InterfaceObject* object, const QString& table) const;
    void localizeLabelOfObject(host::InterfaceObject* object, const QString& table) const;

private:
    void localizeText(host::InterfaceObject* object, host::TextProperty property, const QString& table) const;
    void localizeCell(host::Cell& cell, const QString& table) const;
    void localizeView(host::View& view, const QString& table) const;
    void localizeBindings(host::Control& control, const QString& table) const;
    template <typename List> void localizeEach(const List& objects, const QString& table) const {
        for (const auto& object : objects)
            localizeStringsInObject(object.get(), table);
    }

    const platform::Bundle& bundle_;
    host::UiServices& ui_;
};

// For start-up, which routes the host's own loading of interface files here.
std::optional<host::LoadedInterface> loadNibNamed(const PluginContext& context, const QString& name,
                                                  const host::InterfaceActions& actions);

} // namespace qm::plugin
