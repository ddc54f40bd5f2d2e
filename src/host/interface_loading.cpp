#include "host/interface_loading.h"

#include "platform/bundle.h"

#include <QFileInfo>

namespace qm::host {

namespace loading = interface_loading;

QString interfaceFileInBundle(const platform::Bundle& bundle, const QString& name) {
    const QString path = bundle.pathForResource(name, QStringLiteral("ui"));
    return path.isNull() ? bundle.pathForResource(name, QStringLiteral("ui"), QStringLiteral("Base")) : path;
}

InterfaceOwnerPtr ownerFromNameTable(const QVariantMap& nameTable) {
    return nameTable.value(QString::fromLatin1(loading::ownerKey)).value<InterfaceOwnerPtr>();
}

InterfaceArrayPtr topLevelObjectsFromNameTable(const QVariantMap& nameTable) {
    return nameTable.value(QString::fromLatin1(loading::topLevelObjectsKey)).value<InterfaceArrayPtr>();
}

namespace {

bool loadFile(UiServices& ui, const QString& path, const QVariantMap& nameTable) {
    const InterfaceOwnerPtr owner = ownerFromNameTable(nameTable);
    std::optional<LoadedInterface> loaded =
        ui.loadInterface(path, owner ? owner->actions : InterfaceActions());
    if (!loaded)
        return false;
    if (const InterfaceArrayPtr topLevelObjects = topLevelObjectsFromNameTable(nameTable)) {
        QList<InterfaceObjectPtr> elements = topLevelObjects->elements();
        elements.append(loaded->topLevelObjects());
        topLevelObjects->setElements(std::move(elements));
    }
    if (owner)
        owner->loaded = std::move(loaded);
    return true;
}

} // namespace

void defineInterfaceLoadingClass(Runtime& runtime, UiServices& ui) {
    Class* bundleClass = runtime.addClass(QString::fromLatin1(loading::className),
                                          runtime.classNamed(QStringLiteral("NSObject")));
    if (!bundleClass)
        return;
    bundleClass->addClassMethod(QString::fromLatin1(loading::loadNibNamed), [&ui](const Invocation& call) {
        const auto owner = call.argument(1).value<InterfaceOwnerPtr>();
        if (!owner || owner->bundlePath.isEmpty())
            return QVariant(false);
        const QString path =
            interfaceFileInBundle(platform::Bundle(owner->bundlePath), call.argument(0).toString());
        if (path.isNull())
            return QVariant(false);
        return QVariant(
            loadFile(ui, path, {{QString::fromLatin1(loading::ownerKey), QVariant::fromValue(owner)}}));
    });
    bundleClass->addClassMethod(QString::fromLatin1(loading::loadNibFile), [&ui](const Invocation& call) {
        const QString path = call.argument(0).toString();
        if (!QFileInfo(path).isFile())
            return QVariant(false);
        return QVariant(loadFile(ui, path, call.argument(1).toMap()));
    });
}

bool loadInterfaceNamed(Runtime& runtime, const QString& name, const InterfaceOwnerPtr& owner) {
    const Class* bundleClass = runtime.classNamed(QString::fromLatin1(interface_loading::className));
    return bundleClass && bundleClass
                              ->invokeClassMethod(QString::fromLatin1(interface_loading::loadNibNamed),
                                                  {name, QVariant::fromValue(owner)})
                              .toBool();
}

} // namespace qm::host
