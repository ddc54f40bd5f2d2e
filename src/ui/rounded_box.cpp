#include "ui/rounded_box.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QtMath>
#include <cmath>

namespace qm::ui {

namespace {

QPointF unitTowards(QPointF from, QPointF to) {
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    return length > 0 ? d / length : QPointF();
}

double angleAround(QPointF centre, QPointF point) {
    // Qt's arc angles run counter-clockwise on screen, where y grows downwards.
    return qRadiansToDegrees(std::atan2(-(point.y() - centre.y()), point.x() - centre.x()));
}

} // namespace

void appendCornerArc(QPainterPath& path, QPointF corner, QPointF towards, double radius) {
    const QPointF in = unitTowards(corner, path.currentPosition());
    const QPointF out = unitTowards(corner, towards);
    const QPointF start = corner + in * radius;
    const QPointF end = corner + out * radius;
    const QPointF centre = corner + (in + out) * radius;
    path.lineTo(start);
    double sweep = angleAround(centre, end) - angleAround(centre, start);
    while (sweep > 180.0)
        sweep -= 360.0;
    while (sweep <= -180.0)
        sweep += 360.0;
    path.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius),
               angleAround(centre, start), sweep);
}

RoundedBox::RoundedBox(QWidget* parent)
    : QWidget(parent) {
    updateMargins();
}

QFont RoundedBox::titleFont() const {
    QFont font = this->font();
    font.setBold(true);
    font.setPointSizeF(std::max(7.0, font.pointSizeF() - 2.0));
    return font;
}

QRectF RoundedBox::boxRect() const {
    const double half = borderWidth_ / 2.0;
    const QRectF inset = QRectF(rect()).adjusted(half, half, -half, -half);
    // Integral: the smallest whole-number rectangle holding it; then onto pixel centres.
    const double left = std::floor(inset.left());
    const double top = std::floor(inset.top());
    const QRectF integral(left, top, std::ceil(inset.right()) - left, std::ceil(inset.bottom()) - top);
    return integral.translated(0.5, 0.5);
}

QPainterPath RoundedBox::outline() const {
    const QRectF box = boxRect();
    const double left = std::floor(box.left());
    const double right = std::floor(box.right());
    const double top = std::floor(box.top());
    const double bottom = std::floor(box.bottom());
    const double middle = std::floor(box.center().x());
    QPainterPath path;
    path.moveTo(middle, bottom);
    appendCornerArc(path, {right, bottom}, {right, top}, cornerRadius);
    appendCornerArc(path, {right, top}, {left, top}, cornerRadius);
    appendCornerArc(path, {left, top}, {left, bottom}, cornerRadius);
    appendCornerArc(path, {left, bottom}, {middle, bottom}, cornerRadius);
    path.closeSubpath();
    return path;
}

QRectF RoundedBox::titleRect() const {
    const QRectF box = boxRect();
    const QFontMetricsF metrics(titleFont());
    const double width =
        std::min(metrics.horizontalAdvance(title_) + borderWidth_, box.width() - 2.0 * (borderWidth_ + 4.0));
    return {box.left() + borderWidth_ + 4.0, box.top() + 2.0 * borderWidth_, width, metrics.height()};
}

QPainterPath RoundedBox::titlePath() const {
    const QRectF box = boxRect();
    const QRectF title = titleRect();
    const double left = std::floor(box.left());
    const double top = std::floor(box.top());
    // The gap above the title repeats below it.
    const double bottom = title.bottom() + (title.top() - top);
    QPainterPath path;
    path.moveTo(left, bottom);
    if (!drawsFullTitleBar_ && box.width() >= title.width() + 20.0) {
        const double right = std::floor(left + 2.0 * (title.left() - box.left()) + title.width());
        appendCornerArc(path, {right, bottom}, {right, top}, cornerRadius);
        path.lineTo(right, top);
        appendCornerArc(path, {left, top}, {left, bottom}, cornerRadius);
    } else {
        path.lineTo(box.right(), bottom);
        appendCornerArc(path, {box.right(), top}, {box.center().x(), top}, cornerRadius);
        appendCornerArc(path, {left, top}, {left, bottom}, cornerRadius);
    }
    path.closeSubpath();
    return path;
}

void RoundedBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = outline();
    if (drawsGradient_) {
        painter.save();
        painter.setClipPath(path);
        const QRectF bounds = path.boundingRect();
        // 270 degrees: from the top down.
        QLinearGradient gradient(bounds.topLeft(), bounds.bottomLeft());
        gradient.setColorAt(0.0, gradientStart_);
        gradient.setColorAt(1.0, gradientEnd_);
        painter.fillRect(bounds, gradient);
        painter.restore();
    } else {
        painter.fillPath(path, background_);
    }
    const QColor colour = selected_ ? palette().color(QPalette::Highlight) : borderColor_;
    if (!title_.isEmpty())
        painter.fillPath(titlePath(), colour);
    if (borderWidth_ > 0) {
        painter.setPen(QPen(colour, borderWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    if (!title_.isEmpty()) {
        const QRectF rect = titleRect();
        painter.setFont(titleFont());
        painter.setPen(titleColor_);
        const QString shown = QFontMetricsF(titleFont()).elidedText(title_, Qt::ElideRight, rect.width());
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);
    }
}

void RoundedBox::updateMargins() {
    const int edge = static_cast<int>(std::ceil(borderWidth_ + 4.0));
    const int top = static_cast<int>(std::ceil(QFontMetricsF(titleFont()).height() + 4.0 * borderWidth_)) + 4;
    setContentsMargins(edge, title_.isEmpty() ? edge : top, edge, edge);
}

void RoundedBox::setTitle(const QString& title) {
    title_ = title;
    updateMargins();
    update();
}
void RoundedBox::setBorderWidth(double width) {
    borderWidth_ = width;
    updateMargins();
    update();
}
void RoundedBox::setDrawsFullTitleBar(bool full) {
    drawsFullTitleBar_ = full;
    update();
}
void RoundedBox::setSelected(bool selected) {
    selected_ = selected;
    update();
}
void RoundedBox::setDrawsGradientBackground(bool draws) {
    drawsGradient_ = draws;
    update();
}
void RoundedBox::setBorderColor(const QColor& color) {
    borderColor_ = color;
    update();
}
void RoundedBox::setTitleColor(const QColor& color) {
    titleColor_ = color;
    update();
}
void RoundedBox::setGradientStartColor(const QColor& color) {
    gradientStart_ = color.toRgb();
    if (drawsGradient_)
        update();
}
void RoundedBox::setGradientEndColor(const QColor& color) {
    gradientEnd_ = color.toRgb();
    if (drawsGradient_)
        update();
}
void RoundedBox::setBackgroundColor(const QColor& color) {
    background_ = color;
    if (!drawsGradient_)
        update();
}

} // namespace qm::ui
