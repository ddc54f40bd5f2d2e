#pragma once

#include "host/interface_loading.h"
#include "platform/bundle.h"
#include "plugin/plugin_context.h"

#include <functional>

#include <QString>
#include <optional>

namespace qm::plugin {

// Interface files are kept once, in English. Loading one through here translates it: when the plug-in
// bundle has a string table named after the file in the user's language, every user-visible text of the
// freshly loaded objects is replaced by its entry there. Works on any host's interface model.
class InterfaceLocalizer {
public:
    // The host's own loaders, which the plug-in's stand in front of.
    struct SystemLoaders {
        std::function<bool(const QString& name, const host::InterfaceOwnerPtr& owner)> loadNibNamed;
        std::function<bool(const QString& path, const QVariantMap& nameTable)> loadNibFile;
    };

    explicit InterfaceLocalizer(const platform::Bundle& bundle)
        : bundle_(bundle) {}

    // Load through the host and translate. English, a missing table or an interface the plug-in bundle
    // does not have leave the host's loading as it is. The file loader collects the top-level objects in
    // the table's array, adding one (to a copy of the table) when the caller gave none.
    bool loadNibNamed(const QString& name, const host::InterfaceOwnerPtr& owner,
                      const SystemLoaders& system) const;
    bool loadNibFile(const QString& path, const QVariantMap& nameTable, const SystemLoaders& system) const;

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

    // The table that translates the interface file at `path`, or null when the host's loading stands.
    QString translationTable(const QString& path) const;
    bool loadAndTranslate(const QString& path, QVariantMap nameTable, const QString& table,
                          const SystemLoaders& system) const;

    const platform::Bundle& bundle_;
};

// The plug-in's two loaders as class operations of a category class, for start-up to merge into the
// host's loading class in front of the host's own.
class LocalizingLoaders {
public:
    static constexpr char categoryClassName[] = "RVQMLocalization";
    static constexpr char loadNibNamedSelector[] = "quillmoorLoadNibNamed:owner:";
    static constexpr char loadNibFileSelector[] = "quillmoorLoadNibFile:externalNameTable:withZone:";

    static host::Class* defineCategoryClass(host::Runtime& runtime, const platform::Bundle& bundle);
};

} // namespace qm::plugin
