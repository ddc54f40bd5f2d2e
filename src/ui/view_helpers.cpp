#include "ui/view_helpers.h"

#include "platform/error.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace qm::ui {

int tagOf(const QWidget& view) {
    return view.property("tag").toInt();
}

bool isControl(const QWidget& view) {
    // The widgets that take input or show a value, as the controls of a page do; containers only hold them.
    return qobject_cast<const QAbstractButton*>(&view) || qobject_cast<const QLineEdit*>(&view) ||
           qobject_cast<const QComboBox*>(&view) || qobject_cast<const QAbstractSpinBox*>(&view) ||
           qobject_cast<const QAbstractSlider*>(&view) || qobject_cast<const QLabel*>(&view) ||
           (qobject_cast<const QAbstractScrollArea*>(&view) && view.property("tag").isValid());
}

void disableSubviews(QWidget* view, bool disable, const ViewFilter& filter) {
    if (!view)
        return;
    for (QObject* child : view->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow())
            continue;
        disableSubviews(widget, disable, filter);
        if ((!filter || filter(*widget)) && isControl(*widget))
            widget->setEnabled(!disable);
    }
}

void disableSubviews(QWidget* view, bool disable, const QMetaObject& type) {
    disableSubviews(view, disable, [&type](const QWidget& w) { return w.metaObject()->inherits(&type); });
}

void disableSubviewsInTagRange(QWidget* view, bool disable, int location, int length) {
    disableSubviews(view, disable, [=](const QWidget& w) {
        const int tag = tagOf(w);
        return location <= tag && tag - location < length;
    });
}

void disableSubviews(QWidget* view, bool disable, int startTag, int endTag) {
    disableSubviewsInTagRange(view, disable, startTag, endTag - startTag + 1);
}

void disableSubviews(QWidget* view, bool disable, const QList<int>& tags) {
    disableSubviews(view, disable, [&tags](const QWidget& w) { return tags.contains(tagOf(w)); });
}

void disableSubviewsInTagRange(QWidget* view, bool disable, const QMetaObject& type, int location,
                               int length) {
    disableSubviews(view, disable, [&type, location, length](const QWidget& w) {
        const int tag = tagOf(w);
        return w.metaObject()->inherits(&type) && location <= tag && tag - location < length;
    });
}

void disableSubviews(QWidget* view, bool disable, const QMetaObject& type, const QList<int>& tags) {
    disableSubviews(view, disable, [&type, &tags](const QWidget& w) {
        return w.metaObject()->inherits(&type) && tags.contains(tagOf(w));
    });
}

QColor colorWithHex(const QString& hex) {
    QString digits = hex;
    digits.remove(u'#');
    if (digits.size() != 3 && digits.size() != 6)
        throw platform::InvalidArgument(QString::fromLatin1(invalidHexReason));
    if (digits.size() == 3)
        digits = QString(digits[0]) + digits[0] + digits[1] + digits[1] + digits[2] + digits[2];
    double components[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const int value = digits.mid(i * 2, 2).toInt(&ok, 16);
        // A pair that is not hexadecimal leaves its component at 0.
        if (ok)
            components[i] = value / 255.0;
    }
    return QColor::fromRgbF(static_cast<float>(components[0]), static_cast<float>(components[1]),
                            static_cast<float>(components[2]), 1.0f);
}

QString hexColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    const auto part = [](float component) { return static_cast<int>(component * 255.0f); };
    return QString::asprintf("#%02X%02X%02X", part(rgb.redF()), part(rgb.greenF()), part(rgb.blueF()));
}

} // namespace qm::ui
