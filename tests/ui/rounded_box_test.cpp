#include "platform/error.h"
#include "ui/rounded_box.h"
#include "ui/view_helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <gtest/gtest.h>

namespace qm::ui {
namespace {

constexpr int kWidth = 220;
constexpr int kHeight = 90;
constexpr double kRadius = 4.0;

// The box as the geometry says, drawn here without the widget: integral rectangle inset by half the
// border, on pixel centres; rounded corners of radius 4; title 2 borders below the top, 4 + border in.
QImage reference(const RoundedBox& box) {
    const double bw = box.borderWidth();
    const double left = std::floor(bw / 2) + 0.5, top = std::floor(bw / 2) + 0.5;
    const double right = left + (std::ceil(box.width() - bw / 2) - std::floor(bw / 2));
    const double bottom = top + (std::ceil(box.height() - bw / 2) - std::floor(bw / 2));
    const double l = std::floor(left), t = std::floor(top), r = std::floor(right), b = std::floor(bottom);
    const double d = 2 * kRadius;
    QPainterPath outline;
    outline.moveTo(std::floor((left + right) / 2), b);
    outline.lineTo(r - kRadius, b);
    outline.arcTo(r - d, b - d, d, d, 270, 90);
    outline.lineTo(r, t + kRadius);
    outline.arcTo(r - d, t, d, d, 0, 90);
    outline.lineTo(l + kRadius, t);
    outline.arcTo(l, t, d, d, 90, 90);
    outline.lineTo(l, b - kRadius);
    outline.arcTo(l, b - d, d, d, 180, 90);
    outline.closeSubpath();

    const QFontMetricsF metrics(box.titleFont());
    const double width = (right - left);
    const QRectF title(left + bw + 4, top + 2 * bw,
                       std::min(metrics.horizontalAdvance(box.title()) + bw, width - 2 * (bw + 4)),
                       metrics.height());
    const double barBottom = title.bottom() + (title.top() - t);
    QPainterPath bar;
    bar.moveTo(l, barBottom);
    if (!box.drawsFullTitleBar() && width >= title.width() + 20) {
        const double tabRight = std::floor(l + 2 * (title.left() - left) + title.width());
        bar.lineTo(tabRight - kRadius, barBottom);
        bar.arcTo(tabRight - d, barBottom - d, d, d, 270, 90);
        bar.lineTo(tabRight, t);
    } else {
        bar.lineTo(right, barBottom);
        bar.lineTo(right, t + kRadius);
        bar.arcTo(right - d, t, d, d, 0, 90);
    }
    bar.lineTo(l + kRadius, t);
    bar.arcTo(l, t, d, d, 90, 90);
    bar.closeSubpath();

    QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (box.drawsGradientBackground()) {
        QLinearGradient gradient(outline.boundingRect().topLeft(), outline.boundingRect().bottomLeft());
        gradient.setColorAt(0, box.gradientStartColor());
        gradient.setColorAt(1, box.gradientEndColor());
        p.save();
        p.setClipPath(outline);
        p.fillRect(outline.boundingRect(), gradient);
        p.restore();
    } else {
        p.fillPath(outline, box.backgroundColor());
    }
    const QColor colour = box.selected() ? box.palette().color(QPalette::Highlight) : box.borderColor();
    if (!box.title().isEmpty())
        p.fillPath(bar, colour);
    p.setPen(QPen(colour, bw));
    p.drawPath(outline);
    if (!box.title().isEmpty()) {
        p.setFont(box.titleFont());
        p.setPen(box.titleColor());
        p.drawText(title, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   metrics.elidedText(box.title(), Qt::ElideRight, title.width()));
    }
    return image;
}

QImage rendered(RoundedBox& box, const QString& name) {
    QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    box.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    // Kept for a person to look at.
    image.save(QDir(QCoreApplication::applicationDirPath())
                   .filePath(QStringLiteral("rounded_box_%1.png").arg(name)));
    return image;
}

int differingPixels(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

TEST(RoundedBox, DrawsTabFullBarSelectedAndPlainAsTheGeometrySays) {
    struct Case {
        const char* name;
        int width;
        bool full, selected, gradient;
        QString title;
    } cases[] = {{"tab", kWidth, false, false, true, QStringLiteral("Cloud Service")},
                 {"full", kWidth, true, false, true, QStringLiteral("Cloud Service")},
                 {"selected", kWidth, false, true, true, QStringLiteral("Cloud Service")},
                 {"plain", kWidth, false, false, false, QStringLiteral("Cloud Service")},
                 {"untitled", kWidth, false, false, true, QString()}};
    for (const Case& c : cases) {
        RoundedBox box;
        box.setAttribute(Qt::WA_DontShowOnScreen);
        box.resize(c.width, kHeight);
        box.setTitle(c.title);
        box.setDrawsFullTitleBar(c.full);
        box.setSelected(c.selected);
        box.setDrawsGradientBackground(c.gradient);
        EXPECT_EQ(differingPixels(rendered(box, QString::fromLatin1(c.name)), reference(box)), 0) << c.name;
    }
}

TEST(RoundedBox, NarrowBoxDrawsTheFullBarEvenAsATab) {
    RoundedBox box;
    box.setTitle(QStringLiteral("Behaviour"));
    const QFontMetricsF metrics(box.titleFont());
    // 15 wider than its title rectangle: too narrow for a tab.
    box.resize(static_cast<int>(std::ceil(metrics.horizontalAdvance(box.title()) + 2 + 15 + 2)), kHeight);
    const QRectF title = box.titleRect();
    ASSERT_LT(box.boxRect().width(), title.width() + 20);
    EXPECT_GE(box.titlePath().boundingRect().right(), std::floor(box.boxRect().right()) - 0.5);
    EXPECT_EQ(differingPixels(rendered(box, QStringLiteral("narrow")), reference(box)), 0);
}

TEST(HexColor, ReadsThreeOrSixDigitsAndWritesSix) {
    EXPECT_EQ(colorWithHex(QStringLiteral("#fff")), QColor(Qt::white));
    EXPECT_EQ(colorWithHex(QStringLiteral("ffffff")), QColor(Qt::white));
    EXPECT_EQ(hexColor(colorWithHex(QStringLiteral("#fff"))), QStringLiteral("#FFFFFF"));
    EXPECT_EQ(hexColor(colorWithHex(QStringLiteral("#1a2B3c"))), QStringLiteral("#1A2B3C"));
    try {
        colorWithHex(QStringLiteral("#ff00"));
        FAIL() << "four digits were taken";
    } catch (const platform::InvalidArgument& error) {
        EXPECT_EQ(error.reason(), QString::fromLatin1(invalidHexReason));
    }
}

TEST(DisableSubviews, TagRangeReachesNestedControlsOnly) {
    QWidget root;
    QWidget group(&root);
    QList<QPushButton*> buttons;
    for (int tag = 1; tag <= 6; ++tag) {
        auto* button = new QPushButton(tag % 2 ? &root : &group);
        button->setProperty("tag", tag);
        buttons.append(button);
    }
    group.setProperty("tag", 4);
    disableSubviews(&root, true, 3, 5);
    for (QPushButton* button : buttons) {
        const int tag = button->property("tag").toInt();
        EXPECT_EQ(button->isEnabled(), !(tag >= 3 && tag <= 5)) << tag;
    }
    EXPECT_TRUE(group.isEnabled()); // a container holds controls; it is not one
    disableSubviews(&root, false, QPushButton::staticMetaObject);
    for (QPushButton* button : buttons)
        EXPECT_TRUE(button->isEnabled());
    QLineEdit edit(&root);
    disableSubviews(&root, true, QLineEdit::staticMetaObject);
    EXPECT_FALSE(edit.isEnabled());
    EXPECT_TRUE(buttons.first()->isEnabled());
}

} // namespace
} // namespace qm::ui
