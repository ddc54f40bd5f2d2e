#pragma once

#include <QColor>
#include <QPainterPath>
#include <QWidget>

namespace qm::ui {

// A titled group with rounded corners and a gradient fill, for the groups of the preferences page. The
// title sits in a tab at the top left, or in a bar across the whole top when asked for or when the box is
// too narrow for a tab. Every setter repaints; the gradient colours only while the gradient is drawn, the
// background colour only while it is not.
class RoundedBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(double borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(bool drawsFullTitleBar READ drawsFullTitleBar WRITE setDrawsFullTitleBar)
    Q_PROPERTY(bool selected READ selected WRITE setSelected)
    Q_PROPERTY(bool drawsGradientBackground READ drawsGradientBackground WRITE setDrawsGradientBackground)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
    Q_PROPERTY(QColor titleColor READ titleColor WRITE setTitleColor)
    Q_PROPERTY(QColor gradientStartColor READ gradientStartColor WRITE setGradientStartColor)
    Q_PROPERTY(QColor gradientEndColor READ gradientEndColor WRITE setGradientEndColor)
    Q_PROPERTY(QColor backgroundColor READ backgroundColor WRITE setBackgroundColor)
public:
    static constexpr double cornerRadius = 4.0;

    explicit RoundedBox(QWidget* parent = nullptr);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    bool drawsFullTitleBar() const { return drawsFullTitleBar_; }
    void setDrawsFullTitleBar(bool full);
    bool selected() const { return selected_; }
    void setSelected(bool selected);
    bool drawsGradientBackground() const { return drawsGradient_; }
    void setDrawsGradientBackground(bool draws);
    QColor borderColor() const { return borderColor_; }
    void setBorderColor(const QColor& color);
    QColor titleColor() const { return titleColor_; }
    void setTitleColor(const QColor& color);
    QColor gradientStartColor() const { return gradientStart_; }
    void setGradientStartColor(const QColor& color);
    QColor gradientEndColor() const { return gradientEnd_; }
    void setGradientEndColor(const QColor& color);
    QColor backgroundColor() const { return background_; }
    void setBackgroundColor(const QColor& color);
    QFont titleFont() const;

    // The geometry the box is drawn from, in widget coordinates (y grows downwards).
    QRectF boxRect() const;
    QPainterPath outline() const;
    QRectF titleRect() const;
    QPainterPath titlePath() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateMargins();

    QString title_;
    double borderWidth_ = 2.0;
    QColor borderColor_ = Qt::darkGray;
    QColor titleColor_ = Qt::white;
    QColor gradientStart_ = QColor::fromRgbF(0.51f, 0.29f, 0.15f, 1.0f);
    QColor gradientEnd_ = QColor::fromRgbF(0.87f, 0.69f, 0.53f, 1.0f);
    QColor background_ = QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f);
    bool drawsFullTitleBar_ = false;
    bool selected_ = false;
    bool drawsGradient_ = true;
};

// Appends to `path` a line towards the corner `corner` and a circular arc of `radius` round it, ending on
// the way to `towards`: the tangent arc of two lines meeting at a right angle.
void appendCornerArc(QPainterPath& path, QPointF corner, QPointF towards, double radius);

} // namespace qm::ui
