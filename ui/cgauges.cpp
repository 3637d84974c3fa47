#include "cgauges.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace qvr {

namespace {

constexpr long double kPi = 3.14159265358979323846264338327950288L;

// 32-bit machine arithmetic: the range limits may lie anywhere in the int range, and differences
// wrap instead of failing.
int WrapSub(int a, int b)
{
    return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

int WrapAdd(int a, int b)
{
    return static_cast<int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

int Saturate(long double v)
{
    if (v >= static_cast<long double>(INT_MAX))
        return INT_MAX;
    if (v <= static_cast<long double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(v);
}

std::string RangeMessage(int low, int high)
{
    char text[64];
    std::snprintf(text, sizeof text, "Value must be between %d and %d", low, high);
    return text;
}

// The angle is formed in extended precision and held as a double; cosine, sine and the products are
// taken in extended precision again before rounding down.
QPoint PointOnUnitArc(long double angle, int mx, int my)
{
    const double a = static_cast<double>(angle);
    return QPoint(Saturate(std::floor((1.0L - std::cos(static_cast<long double>(a))) * mx)),
                  Saturate(std::floor((1.0L - std::sin(static_cast<long double>(a))) * my)));
}

// QRect of the pixels inside the GDI box (left, top, right, bottom).
QRect GdiRect(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// The QPainter rectangle whose one-pixel aliased outline covers exactly the pixels of `box`.
QRect OutlineRect(const QRect &box)
{
    return QRect(box.x(), box.y(), box.width() - 1, box.height() - 1);
}

void DrawEllipse(QPainter &p, const QRect &box)
{
    if (box.width() > 0 && box.height() > 0)
        p.drawEllipse(OutlineRect(box));
}

void DrawPie(QPainter &p, const QRect &box, QPoint start, QPoint end)
{
    if (box.width() <= 0 || box.height() <= 0)
        return;
    const gauge::PieAngles arc = gauge::PieArc(box, start, end);
    p.drawPie(OutlineRect(box), static_cast<int>(std::lround(arc.startDeg * 16)),
              static_cast<int>(std::lround(arc.spanDeg * 16)));
}

// A line that paints its first point and not its last (Bresenham, x or y major).
void DrawLine(QPainter &p, QPoint from, QPoint to)
{
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    int err = dx + dy;
    int x = from.x();
    int y = from.y();
    while (x != to.x() || y != to.y()) {
        p.drawPoint(x, y);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

// The layers are small; for a tall one Qt's raster engine hands fills and raster operations to its
// thread pool, whose wake-ups cost more than the work. Rectangle fills and the XOR combination are
// therefore done on the 32-bit scanlines directly, with the same pixels as a result.

// Fills the pixels of `rect` (clipped to the bitmap).
void FillRect(QImage &bitmap, const QRect &rect, const QColor &color)
{
    Q_ASSERT(bitmap.depth() == 32);
    const QRect area = rect & bitmap.rect();
    if (area.isEmpty())
        return;
    const QRgb pixel = color.rgb();
    const qsizetype stride = bitmap.bytesPerLine() / 4;
    QRgb *first = reinterpret_cast<QRgb *>(bitmap.bits()) + area.top() * stride + area.left();
    if (area.width() == stride) { // whole lines: one run
        std::fill_n(first, stride * area.height(), pixel);
        return;
    }
    for (int y = 0; y < area.height(); ++y, first += stride)
        std::fill_n(first, area.width(), pixel);
}

void XorSpan(QRgb *__restrict dst, const QRgb *__restrict src, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        dst[i] ^= src[i] & RGB_MASK;
}

// Combines `layer` into `target` at (0, 0): every colour bit set in the layer inverts the target's.
void XorInto(QImage &target, const QImage &layer)
{
    Q_ASSERT(target.depth() == 32 && layer.depth() == 32);
    const int w = std::min(target.width(), layer.width());
    const int h = std::min(target.height(), layer.height());
    const qsizetype dstStride = target.bytesPerLine() / 4;
    const qsizetype srcStride = layer.bytesPerLine() / 4;
    QRgb *dst = reinterpret_cast<QRgb *>(target.bits());
    const QRgb *src = reinterpret_cast<const QRgb *>(layer.constBits());
    if (w == dstStride && w == srcStride) { // equal layouts: one run
        XorSpan(dst, src, dstStride * h);
        return;
    }
    for (int y = 0; y < h; ++y, dst += dstStride, src += srcStride)
        XorSpan(dst, src, w);
}

} // namespace

namespace gauge {

int PercentDone(int min, int max, int progress)
{
    const int span = WrapSub(max, min);
    if (span == 0)
        return 0;
    return Saturate(std::floor(100.0 * WrapSub(progress, min) / span));
}

int FillLength(int percent, int length)
{
    // 0.01 is the double constant; in extended precision the product lands on or just above the
    // exact quotient, so whole results are not lost to rounding.
    return Saturate(std::floor(static_cast<long double>(percent) * 0.01 * length));
}

QRect PaintRect(int width, int height, bool singleBorder)
{
    return singleBorder ? GdiRect(1, 1, width - 1, height - 1) : GdiRect(0, 0, width, height);
}

QRect HorizontalBarRect(const QRect &r, int percent)
{
    const int w = r.width() + 1;
    const int h = r.height() + 1;
    int fill = FillLength(percent, w);
    if (fill > w)
        fill = w;
    if (fill <= 0)
        return QRect();
    return GdiRect(r.left(), r.top(), fill, h);
}

QRect VerticalBarRect(const QRect &r, int percent)
{
    const int w = r.width() + 1;
    const int h = r.height() + 1;
    int fill = FillLength(percent, h);
    if (fill >= h)
        fill = h - 1;
    return GdiRect(r.left(), h - fill, w, h);
}

QPoint PieStartPoint(int percent, int mx, int my)
{
    return PointOnUnitArc((percent * static_cast<long double>(0.02) + 0.5L) * kPi, mx, my);
}

QPoint NeedleEnd(int percent, int mx, int base)
{
    return PointOnUnitArc(percent * static_cast<long double>(0.01) * kPi, mx, base);
}

PieAngles PieArc(const QRect &box, QPoint start, QPoint end)
{
    // QPainter measures arcs by the parametric angle of the ellipse; a GDI pie is bounded by the
    // radials through the given points, so each point is mapped onto the unit circle first.
    const double rx = (box.width() - 1) / 2.0;
    const double ry = (box.height() - 1) / 2.0;
    const double cx = box.x() + rx;
    const double cy = box.y() + ry;
    auto degrees = [&](QPoint pt) {
        const double ux = rx > 0 ? (pt.x() - cx) / rx : pt.x() - cx;
        const double uy = ry > 0 ? (cy - pt.y()) / ry : cy - pt.y();
        return std::atan2(uy, ux) * 180.0 / static_cast<double>(kPi);
    };
    const double from = degrees(start);
    double span = degrees(end) - from;
    while (span <= 0)
        span += 360;
    while (span > 360)
        span -= 360;
    return {from, span};
}

} // namespace gauge

void TBltBitmap::CopySizeFrom(const QImage &templ)
{
    const Format format = isNull() ? templ.format() : this->format();
    QImage::operator=(QImage(templ.width(), templ.height(), format));
}

} // namespace qvr

TCGauge::TCGauge(QWidget *owner) : QWidget(owner)
{
    // Opaque: the gauge covers every pixel, so the parent is never painted beneath it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    resize(100, 100);
}

QColor TCGauge::Color() const
{
    return palette().color(QPalette::Base);
}

int TCGauge::GetPercentDone() const
{
    return qvr::gauge::PercentDone(minValue_, maxValue_, progress_);
}

void TCGauge::SetMinValue(int value)
{
    if (value == minValue_)
        return;
    if (value > maxValue_)
        throw qvr::EInvalidOperation(qvr::RangeMessage(-INT_MAX, qvr::WrapSub(maxValue_, 1)));
    minValue_ = value;
    if (progress_ < value)
        progress_ = value;
    RepaintNow();
}

void TCGauge::SetMaxValue(int value)
{
    // 0 cannot be assigned through this setter; the same value again does repaint.
    if (value == 0)
        return;
    if (value < minValue_)
        throw qvr::EInvalidOperation(qvr::RangeMessage(qvr::WrapAdd(minValue_, 1), INT_MAX));
    maxValue_ = value;
    if (progress_ > value)
        progress_ = value;
    RepaintNow();
}

void TCGauge::SetProgress(int value)
{
    const int before = GetPercentDone();
    if (value < minValue_)
        value = minValue_;
    else if (value > maxValue_)
        value = maxValue_;
    if (value == progress_)
        return;
    progress_ = value;
    if (GetPercentDone() != before)
        RepaintNow();
}

void TCGauge::AddProgress(int delta)
{
    SetProgress(qvr::WrapAdd(progress_, delta));
    RepaintNow();
}

void TCGauge::SetKind(TCGaugeKind value)
{
    if (value == kind_)
        return;
    kind_ = value;
    RepaintNow();
}

void TCGauge::SetShowText(bool value)
{
    if (value == showText_)
        return;
    showText_ = value;
    RepaintNow();
}

void TCGauge::SetBorderStyle(TFormBorderStyle value)
{
    if (value == borderStyle_)
        return;
    borderStyle_ = value;
    RepaintNow();
}

void TCGauge::SetForeColor(const QColor &value)
{
    if (value == foreColor_)
        return;
    foreColor_ = value;
    RepaintNow();
}

void TCGauge::SetBackColor(const QColor &value)
{
    if (value == backColor_)
        return;
    backColor_ = value;
    RepaintNow();
}

void TCGauge::SetColor(const QColor &value)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Base, value);
    setPalette(pal); // a palette change schedules an ordinary update
}

void TCGauge::SetFontOrientation(int tenthsOfDegree)
{
    if (tenthsOfDegree == fontOrientation_)
        return;
    fontOrientation_ = tenthsOfDegree;
    update();
}

void TCGauge::RepaintNow()
{
    // Synchronous paint while shown; a hidden gauge draws nothing.
    if (isVisible())
        repaint();
}

void TCGauge::paintEvent(QPaintEvent *)
{
    Paint();
}

void TCGauge::Paint()
{
    ++paintCount_;
    const QImage image = Render();
    if (image.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, image); // the only write to the visible surface
}

QImage TCGauge::Render() const
{
    if (width() <= 0 || height() <= 0)
        return QImage();
    // RGB32 so that the XOR raster operation applies to the colour bits.
    QImage image(width(), height(), QImage::Format_RGB32);
    qvr::TBltBitmap overlay;
    PaintBackground(image);
    const QRect r = qvr::gauge::PaintRect(width(), height(), borderStyle_ == bsSingle);
    overlay.CopySizeFrom(image);
    PaintBackground(overlay);
    switch (kind_) {
    case gkText:
        PaintAsNothing(overlay, r);
        break;
    case gkHorizontalBar:
    case gkVerticalBar:
        PaintAsBar(overlay, r);
        break;
    case gkPie:
        PaintAsPie(overlay, r);
        break;
    case gkNeedle:
        PaintAsNeedle(overlay, r);
        break;
    }
    qvr::XorInto(image, overlay);
    if (showText_)
        PaintAsText(image, r);
    return image;
}

void TCGauge::PaintBackground(QImage &bitmap) const
{
    qvr::FillRect(bitmap, QRect(0, 0, width(), height()), Qt::black);
}

void TCGauge::PaintAsNothing(QImage &bitmap, const QRect &r) const
{
    qvr::FillRect(bitmap, r, backColor_);
}

void TCGauge::PaintAsBar(QImage &bitmap, const QRect &r) const
{
    qvr::FillRect(bitmap, r, backColor_);
    const int percent = GetPercentDone();
    qvr::FillRect(bitmap,
                  kind_ == gkHorizontalBar ? qvr::gauge::HorizontalBarRect(r, percent)
                                           : qvr::gauge::VerticalBarRect(r, percent),
                  foreColor_);
}

QSize TCGauge::DialSize(const QRect &r) const
{
    // With a single border the dial reaches one pixel further right and down.
    const int grow = borderStyle_ == bsSingle ? 1 : 0;
    return QSize(r.width() + grow, r.height() + grow);
}

void TCGauge::BeginDial(QImage &bitmap, const QRect &r, QPainter &p) const
{
    qvr::FillRect(bitmap, r, Color());
    p.begin(&bitmap);
    p.setPen(QPen(foreColor_, 1));
    p.setBrush(backColor_);
}

void TCGauge::PaintAsPie(QImage &bitmap, const QRect &r) const
{
    const int w = DialSize(r).width();
    const int h = DialSize(r).height();
    QPainter p;
    BeginDial(bitmap, r, p);
    const QRect box = qvr::GdiRect(r.left(), r.top(), w, h);
    qvr::DrawEllipse(p, box);
    const int percent = GetPercentDone();
    if (percent > 0) {
        p.setBrush(foreColor_);
        const int mx = w / 2;
        const int my = h / 2;
        qvr::DrawPie(p, box, qvr::gauge::PieStartPoint(percent, mx, my), QPoint(mx, 0));
    }
}

void TCGauge::PaintAsNeedle(QImage &bitmap, const QRect &r) const
{
    const int x = r.left();
    const int y = r.top();
    const int bottom = r.y() + r.height();
    const int w = DialSize(r).width();
    const int h = DialSize(r).height();
    QPainter p;
    BeginDial(bitmap, r, p);
    // The dial: upper half of an ellipse twice as high, standing on row bottom - 1.
    qvr::DrawPie(p, qvr::GdiRect(x, y, w, 2 * h - 1), QPoint(x + w, bottom - 1),
                 QPoint(x, bottom - 1));
    qvr::DrawLine(p, QPoint(x, bottom), QPoint(x + w, bottom));
    const int percent = GetPercentDone();
    if (percent > 0) {
        const int mx = width() / 2;
        qvr::DrawLine(p, QPoint(mx, bottom - 1), qvr::gauge::NeedleEnd(percent, mx, bottom - 1));
    }
}

void TCGauge::PaintAsText(QImage &bitmap, const QRect &r) const
{
    qvr::TBltBitmap layer;
    layer.CopySizeFrom(bitmap);
    PaintBackground(layer);
    if (!r.isEmpty()) {
        const QString text = QString::number(GetPercentDone()) + QLatin1Char('%');
        // Glyph pixels must be pure white so that XOR inverts what lies beneath them.
        QFont f = font();
        f.setStyleStrategy(QFont::NoAntialias);
        const QFontMetrics fm(f, &layer);
        // Centred by the unrotated extents, measured from the image origin.
        const int tx = (r.width() + 1 - fm.horizontalAdvance(text)) / 2;
        const int ty = (r.height() + 1 - fm.height()) / 2;
        QPainter p(&layer);
        p.setClipRect(r);
        p.setFont(f);
        p.setPen(Qt::white);
        p.setBrush(Qt::NoBrush);
        p.translate(tx, ty);
        p.rotate(-fontOrientation_ / 10.0); // counter-clockwise on screen
        p.drawText(0, fm.ascent(), text);
    }
    qvr::XorInto(bitmap, layer);
}
