#include "ui/cgauges.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QTest>
#include <climits>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kRed = qRgb(200, 0, 0);
const QRgb kYellow = qRgb(255, 255, 0);

std::unique_ptr<TCGauge> MakeGauge(int w, int h, TCGauge::TCGaugeKind kind, int progress,
                                   bool showText)
{
    auto g = std::make_unique<TCGauge>();
    g->resize(w, h);
    g->SetKind(kind);
    g->SetProgress(progress);
    g->SetShowText(showText);
    return g;
}

// Pixels that differ between two renders of the same size.
struct Diff {
    QRect box;
    int count = 0;
    int whiteToBlack = 0;
    int blackToWhite = 0;
    bool allInverted = true;
};

Diff Compare(const QImage &without, const QImage &with)
{
    Diff d;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x) {
            const QRgb a = without.pixel(x, y);
            const QRgb b = with.pixel(x, y);
            if (a == b)
                continue;
            ++d.count;
            d.box |= QRect(x, y, 1, 1);
            d.allInverted = d.allInverted && (a ^ b) == 0x00FFFFFFu;
            d.whiteToBlack += a == kWhite && b == kBlack;
            d.blackToWhite += a == kBlack && b == kWhite;
        }
    return d;
}

TEST(GaugeArithmetic, PercentDone)
{
    struct Row {
        int min, max, progress, percent;
    };
    const Row rows[] = {{0, 100, 57, 57},   {0, 300, 1, 0},       {0, 300, 3, 1},
                        {100, 100, 100, 0}, {-50, 50, 0, 50},     {0, 3, 2, 66},
                        {0, 1023, 512, 50}, {-100, -50, -75, 50}, {0, 100, 100, 100}};
    for (const Row &r : rows)
        EXPECT_EQ(qvr::gauge::PercentDone(r.min, r.max, r.progress), r.percent)
            << r.min << ".." << r.max << " at " << r.progress;
}

// The fill length must equal the integer quotient; plain double arithmetic loses whole pixels
// (29 % of 100 would give 28).
TEST(GaugeArithmetic, FillLengthIsIntegerQuotient)
{
    for (int n : {0, 19, 99, 100, 439, 1000, 12345})
        for (int p = 0; p <= 100; ++p)
            ASSERT_EQ(qvr::gauge::FillLength(p, n), p * n / 100) << p << "% of " << n;
}

// The pie grows clockwise from twelve o'clock; on a non-circular box too.
TEST(GaugeArithmetic, PieSectorSpan)
{
    for (const QRect box : {QRect(1, 1, 98, 98), QRect(0, 0, 200, 80)}) {
        const int mx = (box.x() + box.width()) / 2;
        const int my = (box.y() + box.height()) / 2;
        for (int p : {25, 50, 75, 100}) {
            const auto arc =
                qvr::gauge::PieArc(box, qvr::gauge::PieStartPoint(p, mx, my), QPoint(mx, 0));
            EXPECT_NEAR(arc.spanDeg, p * 3.6, 2.0) << p << "%";
            EXPECT_NEAR(std::remainder(arc.startDeg + arc.spanDeg - 90.0, 360.0), 0.0, 2.0)
                << p << "%";
        }
    }
}

// Every pixel of a bar gauge without text: frame black, bar ForeColor, the rest BackColor.
struct BarCase {
    const char *name;
    TCGauge::TCGaugeKind kind;
    int w, h;
    TCGauge::TFormBorderStyle border;
    int percent;
    QRect filled;
};

void PrintTo(const BarCase &c, std::ostream *os)
{
    *os << c.name;
}

class BarPixels : public ::testing::TestWithParam<BarCase> {};

TEST_P(BarPixels, ExactFill)
{
    const BarCase &c = GetParam();
    auto g = MakeGauge(c.w, c.h, c.kind, c.percent, false);
    g->SetBorderStyle(c.border);
    g->SetForeColor(QColor(kRed));
    const QImage img = g->Render();
    ASSERT_EQ(img.size(), QSize(c.w, c.h));
    const QRect inner =
        c.border == TCGauge::bsSingle ? QRect(1, 1, c.w - 2, c.h - 2) : QRect(0, 0, c.w, c.h);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const QRgb want = !inner.contains(x, y)     ? kBlack
                              : c.filled.contains(x, y) ? kRed
                                                        : kWhite;
            ASSERT_EQ(img.pixel(x, y), want) << "at " << x << "," << y;
        }
}

const auto kH = TCGauge::gkHorizontalBar;
const auto kV = TCGauge::gkVerticalBar;
const auto kSingle = TCGauge::bsSingle;
const auto kNone = TCGauge::bsNone;

INSTANTIATE_TEST_SUITE_P(
    Gauge, BarPixels,
    ::testing::Values(
        BarCase{"V20x440_0", kV, 20, 440, kSingle, 0, QRect()},
        BarCase{"V20x440_1", kV, 20, 440, kSingle, 1, QRect(1, 435, 18, 4)},
        BarCase{"V20x440_50", kV, 20, 440, kSingle, 50, QRect(1, 220, 18, 219)},
        BarCase{"V20x440_100", kV, 20, 440, kSingle, 100, QRect(1, 1, 18, 438)},
        BarCase{"V20x440_NoBorder_50", kV, 20, 440, kNone, 50, QRect(0, 221, 20, 219)},
        // The fill is cut one short of the height, so the top row stays empty.
        BarCase{"V20x440_NoBorder_100", kV, 20, 440, kNone, 100, QRect(0, 1, 20, 439)},
        BarCase{"H100_50", kH, 100, 100, kSingle, 50, QRect(1, 1, 48, 98)},
        BarCase{"H100_100", kH, 100, 100, kSingle, 100, QRect(1, 1, 98, 98)},
        BarCase{"H101_29", kH, 101, 20, kSingle, 29, QRect(1, 1, 28, 18)},
        BarCase{"H100_NoBorder_50", kH, 100, 100, kNone, 50, QRect(0, 0, 50, 100)}),
    [](const auto &info) { return std::string(info.param.name); });

// Pie and needle: probe pixels inside the dial (BackColor yellow) and the sector or needle.
struct ShapeCase {
    const char *name;
    TCGauge::TCGaugeKind kind;
    int percent;
    std::vector<std::pair<QPoint, QRgb>> probes;
};

void PrintTo(const ShapeCase &c, std::ostream *os)
{
    *os << c.name;
}

class ShapePixels : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapePixels, Probes)
{
    const ShapeCase &c = GetParam();
    auto g = MakeGauge(100, 100, c.kind, c.percent, false);
    g->SetBackColor(QColor(kYellow));
    g->SetColor(QColor(kWhite));
    const QImage img = g->Render();
    for (const auto &[pt, rgb] : c.probes)
        EXPECT_EQ(img.pixel(pt), rgb) << "at " << pt.x() << "," << pt.y();
}

const auto kPie = TCGauge::gkPie;
const auto kNeedle = TCGauge::gkNeedle;

INSTANTIATE_TEST_SUITE_P(
    Gauge, ShapePixels,
    ::testing::Values(
        ShapeCase{"Pie_0", kPie, 0, {{{50, 50}, kYellow}, {{70, 30}, kYellow}, {{3, 3}, kWhite}}},
        ShapeCase{
            "Pie_25", kPie, 25, {{{70, 30}, kBlack}, {{30, 30}, kYellow}, {{70, 70}, kYellow}}},
        ShapeCase{"Pie_50", kPie, 50, {{{75, 50}, kBlack}, {{25, 50}, kYellow}, {{3, 3}, kWhite}}},
        ShapeCase{
            "Pie_100", kPie, 100, {{{25, 50}, kBlack}, {{75, 50}, kBlack}, {{50, 75}, kBlack}}},
        ShapeCase{
            "Needle_0",
            kNeedle,
            0,
            {{{50, 50}, kYellow}, {{49, 50}, kYellow}, {{80, 97}, kYellow}, {{3, 3}, kWhite}}},
        ShapeCase{"Needle_100", kNeedle, 100, {{{50, 50}, kYellow}, {{80, 97}, kBlack}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Gauge, NeedleAtHalfStandsUpright)
{
    auto g = MakeGauge(100, 100, TCGauge::gkNeedle, 50, false);
    const QImage img = g->Render();
    for (int y : {10, 50, 90})
        EXPECT_TRUE(img.pixel(49, y) == kBlack || img.pixel(50, y) == kBlack) << "row " << y;
}

TEST(Gauge, Defaults)
{
    TCGauge g;
    EXPECT_EQ(g.MinValue(), 0);
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.Progress(), 0);
    EXPECT_EQ(g.Kind(), TCGauge::gkHorizontalBar);
    EXPECT_TRUE(g.ShowText());
    EXPECT_EQ(g.BorderStyle(), TCGauge::bsSingle);
    EXPECT_EQ(g.ForeColor(), QColor(Qt::black));
    EXPECT_EQ(g.BackColor(), QColor(Qt::white));
    EXPECT_EQ(g.size(), QSize(100, 100));
    EXPECT_TRUE(g.testAttribute(Qt::WA_OpaquePaintEvent));

    // "0%" in black on the empty white bar.
    g.SetShowText(false);
    const QImage bare = g.Render();
    g.SetShowText(true);
    const Diff d = Compare(bare, g.Render());
    EXPECT_GT(d.count, 0);
    EXPECT_EQ(d.whiteToBlack, d.count);
}

// XOR text layer: each glyph pixel inverts what lies beneath it, white on the bar and black on
// the background, never outside the paint rectangle.
TEST(Gauge, TextInvertsAcrossTheBarEdge)
{
    auto g = MakeGauge(100, 100, TCGauge::gkHorizontalBar, 50, false);
    const QImage bare = g->Render();
    g->SetShowText(true);
    const Diff d = Compare(bare, g->Render());
    EXPECT_TRUE(d.allInverted);
    EXPECT_GT(d.whiteToBlack, 0);
    EXPECT_GT(d.blackToWhite, 0);
    EXPECT_TRUE(QRect(1, 1, 98, 98).contains(d.box));
}

TEST(Gauge, TextClippedToPaintRect)
{
    auto g = MakeGauge(12, 30, TCGauge::gkText, 100, false);
    const QImage bare = g->Render();
    g->SetShowText(true);
    const Diff d = Compare(bare, g->Render());
    EXPECT_GT(d.count, 0);
    EXPECT_TRUE(QRect(1, 1, 10, 28).contains(d.box));
}

// Rotated text keeps the unrotated reference point and runs upwards from it.
TEST(Gauge, TextOrientation)
{
    QFont f("DejaVu Sans", 8);
    f.setStyleStrategy(QFont::NoAntialias);
    auto g = MakeGauge(100, 100, TCGauge::gkText, 57, false);
    g->setFont(f);
    const QImage bare = g->Render();
    g->SetShowText(true);
    QImage probe(1, 1, QImage::Format_RGB32);
    const QFontMetrics fm(f, &probe);
    const int tw = fm.horizontalAdvance("57%");
    const int th = fm.height();
    const int x = (99 - tw) / 2;
    const int y = (99 - th) / 2;

    const Diff flat = Compare(bare, g->Render());
    EXPECT_TRUE(QRect(x, y, tw, th).contains(flat.box)) << flat.box.x() << "," << flat.box.y();
    EXPECT_GT(flat.box.width(), flat.box.height());

    g->SetFontOrientation(900);
    const Diff up = Compare(bare, g->Render());
    EXPECT_TRUE(QRect(x - 1, y - tw - 1, th + 2, tw + 2).contains(up.box))
        << up.box.x() << "," << up.box.y() << " " << up.box.width() << "x" << up.box.height();
    EXPECT_GT(up.box.height(), up.box.width());
}

TEST(Gauge, WindowGaugeTextReadsUpwards)
{
    auto g = MakeGauge(20, 440, TCGauge::gkVerticalBar, 50, false);
    g->setFont(QFont("Tahoma", 8));
    g->SetFontOrientation(900);
    const QImage bare = g->Render();
    g->SetShowText(true);
    const Diff d = Compare(bare, g->Render());
    EXPECT_GT(d.count, 0);
    EXPECT_TRUE(d.allInverted);
    EXPECT_TRUE(QRect(1, 1, 18, 438).contains(d.box));
    EXPECT_GT(d.box.height(), d.box.width());
}

// Clamping and the range setters dragging Progress along; the invariant min <= progress <= max.
TEST(Gauge, ValueRules)
{
    using Setter = void (TCGauge::*)(int);
    const Setter min = &TCGauge::SetMinValue, max = &TCGauge::SetMaxValue,
                 progress = &TCGauge::SetProgress;
    struct Row {
        const char *name;
        std::vector<std::pair<Setter, int>> steps;
        int min, max, progress;
    };
    const Row rows[] = {
        {"below min", {{progress, -5}}, 0, 100, 0},
        {"above max", {{progress, 150}}, 0, 100, 100},
        {"step below 1 %", {{max, 300}, {progress, 1}}, 0, 300, 1},
        {"min raises progress", {{progress, 20}, {min, 50}}, 50, 100, 50},
        {"max lowers progress", {{progress, 60}, {max, 40}}, 0, 40, 40},
        {"empty range accepted", {{min, 100}}, 100, 100, 100},
        {"max 0 ignored", {{min, -50}, {max, 0}}, -50, 100, 0},
    };
    for (const Row &r : rows) {
        TCGauge g;
        for (const auto &[set, value] : r.steps)
            (g.*set)(value);
        EXPECT_EQ(g.MinValue(), r.min) << r.name;
        EXPECT_EQ(g.MaxValue(), r.max) << r.name;
        EXPECT_EQ(g.Progress(), r.progress) << r.name;
    }
}

TEST(Gauge, RangeSetterErrorsLeaveGaugeUnchanged)
{
    struct Row {
        std::function<void(TCGauge &)> act;
        const char *message;
    };
    const Row rows[] = {
        {[](TCGauge &g) { g.SetMinValue(150); }, "Value must be between -2147483647 and 99"},
        {[](TCGauge &g) { g.SetMaxValue(-5); }, "Value must be between 1 and 2147483647"},
        {[](TCGauge &g) { g.setProperty("MinValue", 101); },
         "Value must be between -2147483647 and 99"},
    };
    for (const Row &r : rows) {
        TCGauge g;
        g.SetProgress(30);
        try {
            r.act(g);
            ADD_FAILURE() << "no exception for " << r.message;
        } catch (const std::exception &e) {
            EXPECT_STREQ(e.what(), r.message);
        }
        EXPECT_EQ(g.MinValue(), 0);
        EXPECT_EQ(g.MaxValue(), 100);
        EXPECT_EQ(g.Progress(), 30);
    }
}

// The whole int range: the differences wrap instead of overflowing (checked under UBSan).
TEST(Gauge, ExtremeRangePaints)
{
    TCGauge g;
    g.SetMinValue(INT_MIN);
    g.SetMaxValue(INT_MAX);
    g.SetProgress(0);
    g.AddProgress(INT_MAX);
    EXPECT_EQ(g.Render().size(), QSize(100, 100));
}

TEST(Gauge, PropertiesSettableByName)
{
    TCGauge g;
    EXPECT_TRUE(g.setProperty("Kind", 2));
    EXPECT_EQ(g.Kind(), TCGauge::gkVerticalBar);
    EXPECT_TRUE(g.setProperty("Progress", 42));
    EXPECT_EQ(g.Progress(), 42);
    EXPECT_TRUE(g.setProperty("ShowText", false));
    EXPECT_FALSE(g.ShowText());
    EXPECT_TRUE(g.setProperty("ForeColor", QColor(Qt::red)));
    EXPECT_EQ(g.ForeColor(), QColor(Qt::red));
    EXPECT_TRUE(g.setProperty("FontOrientation", 900));
    EXPECT_EQ(g.FontOrientation(), 900);
}

class CountingParent : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
};

// A gauge shown in a window, as the main window has them.
class ShownGauge : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent.resize(200, 480);
        gauge = new TCGauge(&parent);
        gauge->setGeometry(16, 20, 20, 440);
        parent.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
        QCoreApplication::processEvents();
    }
    CountingParent parent;
    TCGauge *gauge = nullptr;
};

// Synchronous repaints: counted before the setter returns, without an event loop pass.
struct RepaintCase {
    const char *name;
    std::function<void(TCGauge &)> setup;
    std::function<void(TCGauge &)> act;
    int paints;
};

void PrintTo(const RepaintCase &c, std::ostream *os)
{
    *os << c.name;
}

class Repaints : public ShownGauge, public ::testing::WithParamInterface<RepaintCase> {};

TEST_P(Repaints, Count)
{
    const RepaintCase &c = GetParam();
    c.setup(*gauge);
    const int before = gauge->PaintCount();
    const int parentBefore = parent.paints;
    c.act(*gauge);
    EXPECT_EQ(gauge->PaintCount() - before, c.paints);
    EXPECT_EQ(parent.paints, parentBefore);
}

void Nothing(TCGauge &) {}

INSTANTIATE_TEST_SUITE_P(
    Gauge, Repaints,
    ::testing::Values(
        RepaintCase{"SamePercent", [](TCGauge &g) { g.SetMaxValue(300); },
                    [](TCGauge &g) { g.SetProgress(1); }, 0},
        RepaintCase{"NewPercent",
                    [](TCGauge &g) {
                        g.SetMaxValue(300);
                        g.SetProgress(1);
                    },
                    [](TCGauge &g) { g.SetProgress(3); }, 1},
        RepaintCase{"ClampedToCurrent", Nothing, [](TCGauge &g) { g.SetProgress(-5); }, 0},
        RepaintCase{"MaxZero", [](TCGauge &g) { g.SetMinValue(-50); },
                    [](TCGauge &g) { g.SetMaxValue(0); }, 0},
        RepaintCase{"MaxSameAgain", Nothing, [](TCGauge &g) { g.SetMaxValue(100); }, 1},
        RepaintCase{"MinSame", Nothing, [](TCGauge &g) { g.SetMinValue(0); }, 0},
        RepaintCase{"MinNew", Nothing, [](TCGauge &g) { g.SetMinValue(10); }, 1},
        RepaintCase{"KindSame", Nothing, [](TCGauge &g) { g.SetKind(TCGauge::gkHorizontalBar); },
                    0},
        RepaintCase{"KindNew", Nothing, [](TCGauge &g) { g.SetKind(TCGauge::gkPie); }, 1},
        RepaintCase{"ShowTextSame", Nothing, [](TCGauge &g) { g.SetShowText(true); }, 0},
        RepaintCase{"ShowTextNew", Nothing, [](TCGauge &g) { g.SetShowText(false); }, 1},
        RepaintCase{"BorderSame", Nothing, [](TCGauge &g) { g.SetBorderStyle(TCGauge::bsSingle); },
                    0},
        RepaintCase{"BorderNew", Nothing, [](TCGauge &g) { g.SetBorderStyle(TCGauge::bsNone); }, 1},
        RepaintCase{"ForeSame", Nothing, [](TCGauge &g) { g.SetForeColor(Qt::black); }, 0},
        RepaintCase{"ForeNew", Nothing, [](TCGauge &g) { g.SetForeColor(Qt::red); }, 1},
        RepaintCase{"BackSame", Nothing, [](TCGauge &g) { g.SetBackColor(Qt::white); }, 0},
        RepaintCase{"BackNew", Nothing, [](TCGauge &g) { g.SetBackColor(Qt::gray); }, 1},
        RepaintCase{"AddZero", Nothing, [](TCGauge &g) { g.AddProgress(0); }, 1},
        RepaintCase{"AddTen", Nothing, [](TCGauge &g) { g.AddProgress(10); }, 2},
        RepaintCase{"Hidden",
                    [](TCGauge &g) {
                        g.hide();
                        g.SetShowText(false); // no count while hidden
                    },
                    [](TCGauge &g) {
                        g.SetProgress(50);
                        g.SetKind(TCGauge::gkPie);
                        g.AddProgress(1);
                    },
                    0}),
    [](const auto &info) { return std::string(info.param.name); });

// What reaches the screen is the composed picture.
TEST_F(ShownGauge, SurfaceShowsComposedImage)
{
    gauge->SetKind(TCGauge::gkVerticalBar);
    gauge->SetFontOrientation(900);
    gauge->SetProgress(42);
    const QImage onScreen = gauge->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(onScreen, gauge->Render());
}

} // namespace
