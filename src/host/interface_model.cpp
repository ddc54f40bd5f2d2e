#include "host/interface_model.h"

namespace qm::host {

std::optional<QString> InterfaceObject::text(TextProperty property) const {
    if (const auto it = texts_.constFind(property); it != texts_.cend())
        return *it;
    return std::nullopt;
}

void InterfaceObject::setText(TextProperty property, const QString& text) {
    texts_.insert(property, text);
}

std::optional<Binding> Control::binding(const QString& name) const {
    if (const auto it = bindings_.constFind(name); it != bindings_.cend())
        return *it;
    return std::nullopt;
}

std::optional<QString> TextField::text(TextProperty property) const {
    return property == TextProperty::stringValue ? std::optional<QString>(stringValue())
                                                 : Control::text(property);
}

void TextField::setText(TextProperty property, const QString& text) {
    if (property == TextProperty::stringValue)
        setStringValue(text);
    else
        Control::setText(property, text);
}

void SegmentedControl::setLabel(const QString& label, int segment) {
    if (segment >= 0 && segment < segments_.size())
        segments_[segment].label = label;
}

void SegmentedControl::setToolTip(const QString& toolTip, int segment) {
    if (segment >= 0 && segment < segments_.size())
        segments_[segment].toolTip = toolTip;
}

} // namespace qm::host
