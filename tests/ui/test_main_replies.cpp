// What the window does with replies, parameter writes and the display set-up:
// grid texts, chart points, gauges, status-bar messages, frames written. The
// window is driven through its handlers against a scripted adapter library.
#include "link/fake_library.h"
#include "measure/regional.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QImage>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>

namespace {

using qvr::kNoReading;
using qvr::test::FakeLibrary;
using Bytes = std::vector<std::uint8_t>;

Bytes WithCrc(Bytes frame)
{
    const std::uint16_t crc = qvr::Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

Bytes ReadReply(std::uint8_t address, std::uint16_t raw)
{
    return WithCrc({address, 0x03, 0x02, static_cast<std::uint8_t>(raw >> 8),
                    static_cast<std::uint8_t>(raw & 0xFF)});
}

class Replies : public ::testing::Test {
protected:
    Replies()
    {
        qvr::SetRegionalSettings("pl_PL.UTF-8");
        library.Adapters = {"Adapter A"};
        window = std::make_unique<TFMain>(library, qvr::test::SettingsFile());
        w().FormCreate();
        w().Form().Coeff->setText(QStringLiteral("1"));
        w().Form().SensorCnt->setCurrentIndex(15);
        w().SensorCntChange();
        w().ConnectButtonClick();
        w().Form().UpdateData->setChecked(true); // a request to 50 outstanding
    }
    ~Replies() override { qvr::SetRegionalSettings("C"); }

    TFMain &w() { return *window; }

    // The frame arrives and the line falls silent for two ticks.
    void Receive(const Bytes &frame)
    {
        library.Incoming.insert(library.Incoming.end(), frame.begin(), frame.end());
        for (int i = 0; i < 3; ++i)
            w().UsbTimerTimer();
    }
    QString Cell(int row) const
    {
        const QTableWidgetItem *item = window->Form().SensorValue->item(row, 1);
        return item ? item->text() : QString();
    }
    QString LastLogLine() const { return window->Form().UartLog->document()->lastBlock().text(); }

    FakeLibrary library;
    std::unique_ptr<TFMain> window;
};

TEST_F(Replies, ReadReplyIsShownEverywhereAndTheNextRequestGoesOut)
{
    w().Form().Coeff->setText(QStringLiteral("0,5"));
    Receive(ReadReply(50, 1023));

    EXPECT_EQ(w().Measurement().SensorReading()[0], 1023u);
    EXPECT_EQ(Cell(1), QStringLiteral("[1023] [100,00 %] [511,5]"));
    ASSERT_EQ(w().Series(0)->data()->size(), 1);
    EXPECT_EQ(w().Series(0)->data()->at(0)->key, 0.0);
    EXPECT_EQ(w().Series(0)->data()->at(0)->value, 1023.0);
    ASSERT_EQ(library.Written.size(), 2u);
    EXPECT_EQ(library.Written[1][0], 51) << "the next sensor is asked at once";
    EXPECT_TRUE(w().TimeoutTimer()->isActive());
}

TEST_F(Replies, GridTextsOfOddValues)
{
    const std::tuple<std::uint16_t, const char *, const char *> rows[] = {
        {0, "1", "[0] [0,00 %] [0]"},
        {3, "0,1", "[3] [0,29 %] [0,300000011920929]"},
        {65535, "1", "[65535] [6406,16 %] [65535]"},
        {512, "", "[512] [50,05 %] [---]"},
        {512, "x", "[512] [50,05 %] [---]"},
    };
    for (const auto &[raw, coeff, text] : rows) {
        w().Form().Coeff->setText(QString::fromUtf8(coeff));
        Receive(ReadReply(50, raw));
        EXPECT_EQ(Cell(1), QString::fromUtf8(text)) << raw << " " << coeff;
    }
}

// A late reply of the sensor polled before is its own sensor's reading, and
// it does not answer the request now outstanding: nothing more goes out.
TEST_F(Replies, LateReplyIsStoredForItsOwnSensorAndSendsNothing)
{
    w().TimeoutTimerTimer(); // 50 timed out; 51 asked
    ASSERT_EQ(library.Written.size(), 2u);

    Receive(ReadReply(50, 300));

    EXPECT_EQ(w().Measurement().SensorReading()[0], 300u);
    EXPECT_EQ(w().Measurement().SensorReading()[1], 0u);
    EXPECT_EQ(Cell(1), QStringLiteral("[300] [29,33 %] [300]"));
    EXPECT_EQ(w().Series(0)->data()->size(), 1);
    EXPECT_EQ(w().Series(1)->data()->size(), 0);
    EXPECT_EQ(library.Written.size(), 2u) << "one request on the bus at a time";
    EXPECT_TRUE(w().TimeoutTimer()->isActive());
}

TEST_F(Replies, ReplyFromOutsideTheBusChangesNoSensor)
{
    const qvr::TReadings before = w().Measurement().SensorReading();
    Receive(ReadReply(66, 300));
    EXPECT_EQ(w().Measurement().SensorReading(), before);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(w().Series(i)->data()->size(), 0);
    EXPECT_EQ(library.Written.size(), 1u);
    EXPECT_TRUE(w().TimeoutTimer()->isActive());
}

// Frames that pass the CRC but are too short for their function are read with
// no byte of an earlier frame: ignored after their RX line.
TEST_F(Replies, ShortFramesAreIgnoredAfterTheirRxLine)
{
    Receive(ReadReply(50, 700));
    const qvr::TReadings before = w().Measurement().SensorReading();
    const std::size_t written = library.Written.size();
    const Bytes frames[] = {WithCrc({0x33, 0x03, 0x00}), WithCrc({0x33, 0x03, 0x02, 0x01}),
                            WithCrc({0x33, 0x06, 0x00, 0x0A, 0x00})};
    for (const Bytes &f : frames) {
        Receive(f);
        EXPECT_TRUE(LastLogLine().startsWith(QStringLiteral("RX: 33 ")))
            << LastLogLine().toStdString();
    }
    EXPECT_EQ(w().Measurement().SensorReading(), before);
    EXPECT_EQ(w().Series(1)->data()->size(), 0);
    EXPECT_EQ(library.Written.size(), written);
    EXPECT_EQ(w().PanelText(2), QString());
}

TEST_F(Replies, WriteEchoesAreReported)
{
    const std::tuple<std::uint8_t, const char *> rows[] = {
        {1, "Parametr [OC_ON_OFF] został zapisany"}, {2, "Parametr [OC_ON_MIN] został zapisany"},
        {3, "Parametr [OC_ON_MAX] został zapisany"}, {10, "Parametr [OC_MODE] został zapisany"},
        {4, "Parametr [OC_MODE] został zapisany"}, // any other register: unchanged
    };
    for (const auto &[reg, panel] : rows) {
        Receive(WithCrc({0x32, 0x06, 0x00, reg, 0x00, 0x01}));
        EXPECT_EQ(w().PanelText(2), QString::fromUtf8(panel)) << int(reg);
        const QTextBlock last = w().Form().UartLog->document()->lastBlock();
        EXPECT_EQ(last.text(), QStringLiteral("Parametr zapisany"));
        EXPECT_EQ(last.begin().fragment().charFormat().foreground().color(),
                  QColor(0x7B, 0x28, 0x2A));
    }
    EXPECT_TRUE(w().TimeoutTimer()->isActive()) << "an echo leaves the cycle alone";
    EXPECT_EQ(library.Written.size(), 1u);
}

TEST_F(Replies, GaugesFollowTheWholeTableInBarModeOnly)
{
    Receive(ReadReply(50, 512)); // line mode: gauges untouched
    EXPECT_EQ(w().Gauge(0)->Progress(), 0);

    w().Form().ChartType->setCurrentIndex(1);
    w().ChartTypeChange();
    EXPECT_TRUE(w().Form().Chart1->isHidden());
    EXPECT_FALSE(w().Form().Chart2->isHidden());
    Receive(ReadReply(51, 1022));
    EXPECT_EQ(w().Gauge(0)->Progress(), 50);
    EXPECT_EQ(w().Gauge(1)->Progress(), 99);
    w().TimeoutTimerTimer(); // 52 gets no reading
    Receive(ReadReply(53, 65535));
    EXPECT_EQ(w().Gauge(2)->Progress(), 0);
    EXPECT_EQ(w().Gauge(3)->Progress(), 0) << "65535 is no reading";
}

TEST_F(Replies, BottomAxisShowsTheNewestThirtySteps)
{
    for (int round = 0; round < 40; ++round)
        for (int a = 50; a <= 65; ++a)
            Receive(ReadReply(static_cast<std::uint8_t>(a), 100));
    const QCPRange range = w().Form().Chart1->xAxis->range();
    EXPECT_EQ(range.lower, 9.0);
    EXPECT_EQ(range.upper, 39.0);
}

// Points lie at their polling round: a sensor that answers every other round
// keeps its newest points in the window the newest sensor sets.
TEST_F(Replies, SensorAnsweringEveryOtherRoundStaysInTheWindow)
{
    w().Form().SensorCnt->setCurrentIndex(1);
    w().SensorCntChange();
    for (int round = 0; round < 60; ++round) {
        Receive(ReadReply(50, 100));
        if (round % 2 == 0)
            Receive(ReadReply(51, 200));
        else
            w().TimeoutTimerTimer();
    }
    const QCPRange range = w().Form().Chart1->xAxis->range();
    EXPECT_EQ(range.lower, 29.0);
    EXPECT_EQ(range.upper, 59.0);
    const QCPGraphDataContainer &data = *w().Series(1)->data();
    ASSERT_EQ(data.size(), 30);
    EXPECT_EQ((data.constEnd() - 1)->key, 58.0);
    int shown = 0;
    for (auto point = data.constBegin(); point != data.constEnd(); ++point)
        shown += range.contains(point->key);
    EXPECT_EQ(shown, 15);
}

// A late reply next to the answer in the same round: one point, the newer value.
TEST_F(Replies, SecondReadingInOneRoundReplacesThePoint)
{
    Receive(ReadReply(50, 7)); // answers; 51 asked
    Receive(ReadReply(50, 8)); // late, still round 0
    const QCPGraphDataContainer &data = *w().Series(0)->data();
    ASSERT_EQ(data.size(), 1);
    EXPECT_EQ(data.constBegin()->key, 0.0);
    EXPECT_EQ(data.constBegin()->value, 8.0);
}

// Counts the drawings of the chart layer it stands on: the series' layer.
class TLayerProbe : public QCPLayerable {
public:
    explicit TLayerProbe(QCustomPlot *plot) : QCPLayerable(plot, QStringLiteral("main")) {}
    int drawn = 0;

protected:
    void applyDefaultAntialiasingHint(QCPPainter *) const override {}
    void draw(QCPPainter *) override { ++drawn; }
};

// The series are drawn while the chart is seen, once per reply, and catch up
// when it is shown; within a round (the axis standing still) only their own
// layer is drawn, not the axes, grid and legend.
TEST_F(Replies, TheChartIsDrawnOnlyWhileSeen)
{
    auto *probe = new TLayerProbe(w().Form().Chart1);
    int whole = 0;
    QObject::connect(w().Form().Chart1, &QCustomPlot::afterReplot, [&] { ++whole; });
    w().show();
    w().Form().PageControl1->setCurrentWidget(w().Form().TabSheet1);
    QApplication::processEvents();
    probe->drawn = 0;
    Receive(ReadReply(50, 100));
    Receive(ReadReply(51, 100));
    QApplication::processEvents();
    EXPECT_EQ(probe->drawn, 0) << "its page is not shown";

    w().Form().PageControl1->setCurrentWidget(w().Form().TabSheet2);
    EXPECT_GE(probe->drawn, 1) << "drawn as it is shown, before its first paint";
    QApplication::processEvents();
    probe->drawn = 0;
    whole = 0;
    Receive(ReadReply(52, 100));
    QApplication::processEvents();
    EXPECT_EQ(probe->drawn, 1) << "one redraw per reply";
    EXPECT_EQ(whole, 0) << "the axis stood still: the series' layer alone";

    w().Form().PageControl1->setCurrentWidget(w().Form().TabSheet1);
    Receive(ReadReply(53, 100));
    w().Form().PageControl1->setCurrentWidget(w().Form().TabSheet2);
    EXPECT_EQ(probe->drawn, 2) << "shown again: drawn with the point that came meanwhile";
}

// Drawn layer by layer over rounds and a change of the sensor count, the
// chart shows what one drawn whole shows: no stale axis, grid or legend.
TEST_F(Replies, TheChartDrawnByLayersShowsWhatAWholeDrawingShows)
{
    w().show();
    w().Form().PageControl1->setCurrentWidget(w().Form().TabSheet2);
    QApplication::processEvents();
    auto answerRounds = [&](int rounds, int sensors) {
        for (int r = 0; r < rounds; ++r)
            for (int i = 0; i < sensors; ++i) {
                Receive(ReadReply(static_cast<std::uint8_t>(50 + i),
                                  static_cast<std::uint16_t>((r * 37 + i * 61) % 1024)));
                QApplication::processEvents();
            }
    };
    // Also the same pixels as the chart drawn into one buffer, the series
    // sharing it with the grid and axes: the layers' own buffers change
    // nothing the operator sees.
    auto oneBuffer = [&] {
        QCustomPlot &chart = *w().Form().Chart1;
        chart.layer(QStringLiteral("main"))->setMode(QCPLayer::lmLogical);
        chart.layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmBuffered);
        chart.replot();
        const QImage image = chart.grab().toImage();
        chart.layer(QStringLiteral("main"))->setMode(QCPLayer::lmBuffered);
        chart.layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
        chart.replot();
        return image;
    };
    auto expectSamePixels = [&](const char *when) {
        SCOPED_TRACE(when);
        const QImage layered = w().Form().Chart1->grab().toImage();
        w().Form().Chart1->replot();
        EXPECT_EQ(layered, w().Form().Chart1->grab().toImage()) << "a layer left stale";
        EXPECT_EQ(layered, oneBuffer()) << "drawn otherwise than in one buffer";
    };
    answerRounds(35, 16); // past the axis' own scaling: it follows the rounds
    expectSamePixels("sixteen sensors, axis following");
    w().Form().SensorCnt->setCurrentIndex(3);
    w().SensorCntChange();
    QApplication::processEvents();
    expectSamePixels("four sensors: legend and series changed");
    answerRounds(2, 4);
    expectSamePixels("four sensors answering");
}

TEST_F(Replies, SeriesKeepTheirNewestPointsOnly)
{
    constexpr int kMax = TFMain::kSeriesMaxPoints;
    static_assert(kMax > 10 * qvr::kChartWindow, "more than the axis ever shows");
    // Fill the series directly up to its bound (before the readings' x), then
    // two readings more.
    QCPGraph *series = w().Series(0);
    for (int i = 0; i < kMax; ++i)
        series->addData(i - kMax, 1);
    Receive(ReadReply(50, 7));
    Receive(ReadReply(50, 8));
    EXPECT_EQ(series->data()->size(), kMax);
    EXPECT_EQ(series->data()->at(kMax - 1)->value, 8.0);
}

// --- Parameter writes ------------------------------------------------------

TEST_F(Replies, ParameterWritesSendTheClampedValueToTheChosenSensor)
{
    struct Row {
        QLineEdit *Ui::FMain::*edit;
        void (TFMain::*click)();
        const char *typed;
        int sensor;
        const char *shown;
        Bytes frame;
    };
    const Row rows[] = {
        {&Ui::FMain::OnOffEdit,
         &TFMain::SpeedButton1Click,
         "512",
         0,
         "512",
         {0x32, 0x06, 0x00, 0x01, 0x02, 0x00, 0xDC, 0xA9}},
        {&Ui::FMain::OnMaxEdit, &TFMain::SpeedButton4Click, "5000", 0, "1023",
         WithCrc({0x32, 0x06, 0x00, 0x03, 0x03, 0xFF})},
        {&Ui::FMain::OnMinEdit, &TFMain::SpeedButton2Click, "-1", 15, "0",
         WithCrc({0x41, 0x06, 0x00, 0x02, 0x00, 0x00})},
        {&Ui::FMain::OnOffEdit, &TFMain::SpeedButton1Click, "007", 1, "7",
         WithCrc({0x33, 0x06, 0x00, 0x01, 0x00, 0x07})},
    };
    for (const Row &r : rows) {
        QLineEdit *edit = w().Form().*r.edit;
        edit->setText(QString::fromLatin1(r.typed));
        w().Form().SensAdr->setCurrentIndex(r.sensor);
        (w().*r.click)();
        EXPECT_EQ(edit->text(), QString::fromLatin1(r.shown));
        EXPECT_EQ(library.Written.back(), r.frame) << r.typed;
    }
}

TEST_F(Replies, ModeWriteSendsTheItemIndex)
{
    w().Form().SensAdr->setCurrentIndex(0);
    w().Form().ModeBox->setCurrentIndex(1);
    w().SpeedButton3Click();
    EXPECT_EQ(library.Written.back(), (Bytes{0x32, 0x06, 0x00, 0x0A, 0x00, 0x01, 0x6D, 0xCB}));
    w().Form().ModeBox->setCurrentIndex(3); // the empty fourth item
    w().SpeedButton3Click();
    EXPECT_EQ(library.Written.back(), WithCrc({0x32, 0x06, 0x00, 0x0A, 0x00, 0x03}));
}

TEST_F(Replies, TextThatIsNoIntegerColoursTheEditAndSendsNothing)
{
    const int lines = w().Form().UartLog->document()->blockCount();
    for (const char *typed : {"", "abc", "12a"}) {
        w().Form().OnOffEdit->setText(QString::fromLatin1(typed));
        w().SpeedButton1Click();
        EXPECT_EQ(w().Form().OnOffEdit->palette().color(QPalette::Base), QColor(0xFD, 0x7C, 0x66));
        EXPECT_EQ(w().Form().OnOffEdit->text(), QString::fromLatin1(typed));
    }
    EXPECT_EQ(library.Written.size(), 1u);
    EXPECT_EQ(w().Form().UartLog->document()->blockCount(), lines);

    // A later good write leaves the colour; only a left click into the edit restores it.
    w().Form().OnOffEdit->setText(QStringLiteral("5"));
    w().SpeedButton1Click();
    EXPECT_EQ(w().Form().OnOffEdit->palette().color(QPalette::Base), QColor(0xFD, 0x7C, 0x66));
    QTest::mouseClick(w().Form().OnOffEdit, Qt::RightButton);
    EXPECT_EQ(w().Form().OnOffEdit->palette().color(QPalette::Base), QColor(0xFD, 0x7C, 0x66));
    QTest::mouseClick(w().Form().OnOffEdit, Qt::LeftButton);
    EXPECT_EQ(w().Form().OnOffEdit->palette().color(QPalette::Base),
              QPalette().color(QPalette::Base));
}

// --- Display set-up --------------------------------------------------------

TEST_F(Replies, DisplaySetUpForTheSensorCount)
{
    for (int n : {1, 16, 0, 5}) {
        w().SetupSensorDisplay(n);
        EXPECT_EQ(w().Form().SensorValue->rowCount(), n + 1);
        EXPECT_EQ(w().Form().SensorValue->item(0, 0)->text(), QStringLiteral("Czujnik"));
        EXPECT_EQ(w().Form().SensorValue->item(0, 1)->text(),
                  QStringLiteral("Wartość [RAW] [% zakresu czujnika] [wartość * Coeff]"));
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(w().SeriesActive(i), i < n) << n << " " << i;
            EXPECT_EQ(w().Gauge(i)->isVisibleTo(w().Form().Chart2), i < n) << n << " " << i;
            EXPECT_EQ(w().Measurement().SensorReading()[i], i < n ? 0u : kNoReading);
            if (i < n) {
                EXPECT_EQ(w().Form().SensorValue->item(i + 1, 0)->text(),
                          QStringLiteral("ID [%1]").arg(50 + i));
            }
        }
    }
}

TEST_F(Replies, RowsAndSeriesThatComeBackShowTheirOldValues)
{
    w().SetupSensorDisplay(5);
    Receive(ReadReply(50, 1));
    for (int a = 51; a <= 54; ++a)
        Receive(ReadReply(static_cast<std::uint8_t>(a), static_cast<std::uint16_t>(a)));
    w().Form().SensorCnt->setCurrentIndex(2);
    w().SensorCntChange();
    EXPECT_EQ(w().Form().SensorValue->rowCount(), 4);
    EXPECT_FALSE(w().SeriesActive(3));

    w().Form().SensorCnt->setCurrentIndex(4);
    w().SensorCntChange();
    EXPECT_EQ(Cell(4), QStringLiteral("[53] [5,18 %] [53]"));
    EXPECT_EQ(Cell(5), QStringLiteral("[54] [5,28 %] [54]"));
    EXPECT_TRUE(w().SeriesActive(4));
    EXPECT_EQ(w().Series(4)->data()->size(), 1);
}

// The labels are drawn bold, flush with the cell's top-left corner, over the
// grid's own drawing (which starts 2 pixels in).
TEST_F(Replies, RowLabelsAreBoldAndFlush)
{
    w().show();
    QApplication::processEvents();
    const QRect cell = w().Form().SensorValue->visualItemRect(w().Form().SensorValue->item(1, 0));
    const QImage image = w().Form().SensorValue->viewport()->grab(cell).toImage();
    int leftmost = image.width(), topmost = image.height(), dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 96) {
                leftmost = std::min(leftmost, x);
                topmost = std::min(topmost, y);
                ++dark;
            }
    ASSERT_GT(dark, 0);
    EXPECT_LE(leftmost, 1);
    EXPECT_LE(topmost, 3);

    // The same text in the value column (regular, 2 pixels in) has fewer dark pixels.
    w().Form().SensorValue->setItem(
        1, 1, new QTableWidgetItem(w().Form().SensorValue->item(1, 0)->text()));
    const QImage value =
        w().Form()
            .SensorValue->viewport()
            ->grab(w().Form().SensorValue->visualItemRect(w().Form().SensorValue->item(1, 1)))
            .toImage();
    int regular = 0, regularLeft = value.width();
    for (int y = 0; y < value.height(); ++y)
        for (int x = 0; x < value.width(); ++x)
            if (qGray(value.pixel(x, y)) < 96) {
                ++regular;
                regularLeft = std::min(regularLeft, x);
            }
    EXPECT_GT(dark, regular);
    EXPECT_GE(regularLeft, 2);
}

} // namespace
