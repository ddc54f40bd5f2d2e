#include "host/object_facade.h"

namespace qm::host {

QVariant ObjectFacade::call(const QString& selector, const QVariantList& arguments) const {
    if (!respondsTo(selector))
        return {};
    return object_->invoke(selector, arguments);
}

ObjectPtr ObjectFacade::callObject(const QString& selector, const QVariantList& arguments) const {
    return toObject(call(selector, arguments));
}

QString ObjectFacade::callString(const QString& selector) const {
    const QVariant value = call(selector);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool ObjectFacade::callBool(const QString& selector, const QVariantList& arguments) const {
    return call(selector, arguments).toBool();
}

qint64 ObjectFacade::callInteger(const QString& selector) const {
    return call(selector).toLongLong();
}

QVariantList ObjectFacade::callList(const QString& selector) const {
    return call(selector).toList();
}

} // namespace qm::host
