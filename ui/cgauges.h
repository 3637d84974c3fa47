// TCGauge: a self-drawing percentage gauge (text, horizontal or vertical bar, pie, needle dial),
// and TBltBitmap, the layer bitmap its paint is composed from.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <stdexcept>
#include <string>

namespace qvr {

// Value-to-pixel arithmetic of the gauge, kept free of widgets.
//
// Rectangles follow the GDI convention internally: (left, top, right, bottom) with the right and
// bottom edges exclusive. A QRect returned here holds exactly the pixels that get painted, so its
// GDI right edge is x() + width() and its bottom edge y() + height(); an empty QRect paints
// nothing.
namespace gauge {

// floor(100 * (progress - min) / (max - min)); 0 for an empty range. The differences wrap like
// 32-bit machine subtractions; the quotient is taken in floating point and saturates at the int
// limits.
int PercentDone(int min, int max, int progress);

// floor(percent * 0.01 * length) in extended precision; equals percent * length / 100 (integer
// division) for 0 <= percent <= 100 and length >= 0.
int FillLength(int percent, int length);

// The area inside the border: the whole control, or one pixel less on every side with a single
// border.
QRect PaintRect(int width, int height, bool singleBorder);

// Bar fill within the paint rectangle r. The bar's far edges are the lengths W = r.width() + 1
// and H = r.height() + 1 taken as absolute coordinates, not as offsets from r's corner.
QRect HorizontalBarRect(const QRect &r, int percent);
QRect VerticalBarRect(const QRect &r, int percent);

// Start point of the pie sector for a pie of half-axes mx, my; the end point is (mx, 0).
QPoint PieStartPoint(int percent, int mx, int my);

// Tip of the needle swinging about (mx, base): left at 0 %, upright at 50 %, right at 100 %.
QPoint NeedleEnd(int percent, int mx, int base);

// Qt arc angles (degrees, counter-clockwise from three o'clock, parametric as QPainter uses them)
// of a GDI pie in the box (left, top, right, bottom) running counter-clockwise from the radial
// towards `start` to the radial towards `end`. The span lies in (0, 360]; equal directions give
// the full ellipse.
struct PieAngles {
    double startDeg;
    double spanDeg;
};
PieAngles PieArc(const QRect &box, QPoint start, QPoint end);

} // namespace gauge

// Thrown by the range setters; the gauge is left unchanged.
class EInvalidOperation : public std::runtime_error {
public:
    explicit EInvalidOperation(const std::string &message) : std::runtime_error(message) {}
};

// A layer bitmap: a QImage that can take the size of another one.
class TBltBitmap : public QImage {
public:
    TBltBitmap() = default;
    // Sets this bitmap's width and height to the template's (contents undefined afterwards).
    // A bitmap without pixels yet takes the template's format.
    void CopySizeFrom(const QImage &templ);
};

} // namespace qvr

// Opaque, self-drawing gauge. Every paint is composed off-screen and copied to the widget at once,
// so no intermediate state shows. Setters that change what is shown repaint synchronously while
// the gauge is visible (never a deferred update), except SetProgress when the whole-number
// percentage stays the same.
class TCGauge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TCGaugeKind Kind READ Kind WRITE SetKind)
    Q_PROPERTY(bool ShowText READ ShowText WRITE SetShowText)
    Q_PROPERTY(TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(QColor ForeColor READ ForeColor WRITE SetForeColor)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE SetBackColor)
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(int Progress READ Progress WRITE SetProgress)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(int FontOrientation READ FontOrientation WRITE SetFontOrientation)

public:
    enum TCGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
    Q_ENUM(TCGaugeKind)
    enum TFormBorderStyle { bsNone, bsSingle };
    Q_ENUM(TFormBorderStyle)

    explicit TCGauge(QWidget *owner = nullptr);

    int MinValue() const { return minValue_; }
    int MaxValue() const { return maxValue_; }
    int Progress() const { return progress_; }
    TCGaugeKind Kind() const { return kind_; }
    bool ShowText() const { return showText_; }
    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    QColor ForeColor() const { return foreColor_; }
    QColor BackColor() const { return backColor_; }
    // Surroundings of the pie and the needle dial: the palette's Base role (the system window
    // colour unless set).
    QColor Color() const;
    // Rotation of the percentage text in tenths of a degree, counter-clockwise.
    int FontOrientation() const { return fontOrientation_; }

    int GetPercentDone() const;

    // Throw qvr::EInvalidOperation when the new value would invert the range.
    void SetMinValue(int value);
    void SetMaxValue(int value); // 0 is ignored
    void SetProgress(int value); // clamped into the range
    void AddProgress(int delta); // always repaints
    void SetKind(TCGaugeKind value);
    void SetShowText(bool value);
    void SetBorderStyle(TFormBorderStyle value);
    void SetForeColor(const QColor &value);
    void SetBackColor(const QColor &value);
    void SetColor(const QColor &value);
    void SetFontOrientation(int tenthsOfDegree);

    // The picture the gauge paints, composed exactly as Paint composes it. Null for an empty size.
    QImage Render() const;

    // Number of paints onto the widget so far.
    int PaintCount() const { return paintCount_; }

protected:
    void paintEvent(QPaintEvent *event) override;

    // Draws the whole control onto the widget; called from paintEvent only.
    virtual void Paint();

    void PaintBackground(QImage &bitmap) const;
    void PaintAsNothing(QImage &bitmap, const QRect &r) const;
    void PaintAsBar(QImage &bitmap, const QRect &r) const;
    // Size and common start of the pie and the needle dial: the surroundings
    // filled with Color, pen ForeColor, brush BackColor.
    QSize DialSize(const QRect &r) const;
    void BeginDial(QImage &bitmap, const QRect &r, QPainter &p) const;
    void PaintAsPie(QImage &bitmap, const QRect &r) const;
    void PaintAsNeedle(QImage &bitmap, const QRect &r) const;
    void PaintAsText(QImage &bitmap, const QRect &r) const;

private:
    void RepaintNow();

    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    TCGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TFormBorderStyle borderStyle_ = bsSingle;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
    int fontOrientation_ = 0;
    int paintCount_ = 0;
};
