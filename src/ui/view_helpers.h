#pragma once

#include <QColor>
#include <QList>
#include <QMetaObject>
#include <QString>
#include <QWidget>
#include <functional>

namespace qm::ui {

// Enabling and disabling groups of controls. Each call walks the direct child widgets of `view`, first
// applying itself to their own children, then setting every accepted control disabled (`disable` true)
// or enabled. Containers are walked, never switched themselves; a control's tag is its "tag" property.
using ViewFilter = std::function<bool(const QWidget&)>;

void disableSubviews(QWidget* view, bool disable, const ViewFilter& filter = {});
void disableSubviews(QWidget* view, bool disable, const QMetaObject& type);
void disableSubviewsInTagRange(QWidget* view, bool disable, int location, int length);
void disableSubviews(QWidget* view, bool disable, int startTag, int endTag); // both tags included
void disableSubviews(QWidget* view, bool disable, const QList<int>& tags);
void disableSubviewsInTagRange(QWidget* view, bool disable, const QMetaObject& type, int location,
                               int length);
void disableSubviews(QWidget* view, bool disable, const QMetaObject& type, const QList<int>& tags);

int tagOf(const QWidget& view);
bool isControl(const QWidget& view);

// Colours from and to "#RRGGBB" texts. colorWithHex() takes three or six hexadecimal digits after any
// number of "#" and throws platform::InvalidArgument named "InvalidHexException" otherwise.
inline constexpr char invalidHexException[] = "InvalidHexException";
inline constexpr char invalidHexReason[] = "Hex color not three or six characters excluding hash";
QColor colorWithHex(const QString& hex);
QString hexColor(const QColor& color);

} // namespace qm::ui
