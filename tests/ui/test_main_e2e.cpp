// The window end to end on the serial-port library: the adapter is a
// pseudo-terminal listed in config.ini, and libmodbus answers on its other
// end as sensor 50. The receive tick is driven by hand (and, when the event
// loop runs, by the window's own timers as well) until the reply has been
// handled or a few seconds have passed.
#include "bench/modbus_peer.h"
#include "link/serial_ports.h"
#include "measure/regional.h"
#include "storage/settings.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>
#include <thread>

namespace {

using qvr::test::TModbusPeer;

constexpr std::uint16_t kRegister0 = 300;

class WindowOnPty : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer_.Ready());
        ASSERT_TRUE(dir_.isValid());
        const QString config = dir_.filePath("config.ini");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Adapters]\nPort1=" + QByteArray::fromStdString(peer_.Path()) + "\n");
        f.close();
        qvr::SetRegionalSettings("pl_PL.UTF-8");
        // No USB adapters: the terminal is the first listed, the one opened.
        library_ = std::make_unique<qvr::TSerialPortLibrary>(
            [config] { return qvr::AdapterPorts(config); },
            [] { return std::vector<qvr::TPortRecord>{}; });
        window_ = std::make_unique<TFMain>(*library_, qvr::test::SettingsFile());
        window_->FormCreate();
        ASSERT_EQ(window_->Form().UsbBox->count(), 1);
        ASSERT_EQ(window_->Form().UsbBox->item(0)->text().toStdString(), peer_.Path());
    }

    void TearDown() override
    {
        window_.reset();
        qvr::SetRegionalSettings("C");
    }

    TFMain &w() { return *window_; }

    void Connect()
    {
        w().ConnectButtonClick();
        ASSERT_TRUE(w().Link()->IsOpen());
    }

    // Receive ticks every 10 ms until `done` holds; false after three seconds.
    bool TickUntil(const std::function<bool()> &done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (GetParam())
                QApplication::processEvents();
            w().UsbTimerTimer();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    QStringList LogLines()
    {
        QStringList lines;
        for (QTextBlock b = w().Form().UartLog->document()->begin(); b.isValid(); b = b.next())
            lines << b.text();
        return lines;
    }

    TModbusPeer peer_{{50}, kRegister0};
    QTemporaryDir dir_;
    std::unique_ptr<qvr::TSerialPortLibrary> library_;
    std::unique_ptr<TFMain> window_;
};

INSTANTIATE_TEST_SUITE_P(EventLoop, WindowOnPty, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Running" : "Idle"; });

TEST_P(WindowOnPty, ReadingShownAndTheNextRequestSentAtOnce)
{
    w().Form().SensorCnt->setCurrentIndex(0);
    w().SensorCntChange();
    w().Form().Coeff->setText(QStringLiteral("1")); // empty, the scaled value reads "---"
    Connect();
    w().Form().UpdateData->setChecked(true);

    // Stop at the first reading handled: the request for the next is out by then.
    ASSERT_TRUE(TickUntil([&] { return w().Series(0)->data()->size() > 0; }));

    EXPECT_EQ(w().Form().SensorValue->item(1, 1)->text(), QStringLiteral("[300] [29,33 %] [300]"));
    ASSERT_EQ(w().Series(0)->data()->size(), 1);
    EXPECT_EQ(w().Series(0)->data()->at(0)->value, double(kRegister0));
    EXPECT_EQ(w().Measurement().SensorReading()[0], kRegister0);

    // Request, reply, the same request again; and libmodbus sees it. On a
    // loaded machine the running time-out may have repeated the request
    // (and replies may have run together into a bad frame) before a reply
    // was handled, so the good reply is looked for; its point lies in the
    // round of the last request before it, one round per request here.
    const QStringList lines = LogLines();
    qsizetype reply = -1;
    int requests = 0;
    for (qsizetype i = 0; i < lines.size() && reply < 0; ++i) {
        requests += lines[i].startsWith(QStringLiteral("TX: "));
        if (lines[i].startsWith(QStringLiteral("RX: ")) &&
            (i + 1 == lines.size() || !lines[i + 1].startsWith(QStringLiteral("Error: "))))
            reply = i;
    }
    ASSERT_GE(reply, 1);
    ASSERT_LT(reply + 1, lines.size());
    EXPECT_EQ(w().Series(0)->data()->at(0)->key, requests - 1.0);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("TX: ")));
    EXPECT_EQ(lines[reply + 1], lines[0]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (peer_.Requests(50) < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(peer_.Requests(50), 2);
}

TEST_P(WindowOnPty, ModeWrittenAndItsEchoReported)
{
    Connect();
    for (int page = 0; page < w().Form().PageControl1->count(); ++page)
        if (w().Form().PageControl1->widget(page)->isAncestorOf(w().Form().ModeBox))
            w().Form().PageControl1->setCurrentIndex(page);
    w().Form().SensAdr->setCurrentIndex(0);
    w().Form().ModeBox->setCurrentIndex(2);
    w().SpeedButton3Click();

    const QString confirmed = QStringLiteral("Parametr [OC_MODE] został zapisany");
    ASSERT_TRUE(TickUntil([&] { return w().PanelText(2) == confirmed; }));
    EXPECT_EQ(peer_.Register(10), 2);
    EXPECT_EQ(peer_.Requests(50), 1); // polling is off: the write alone went out
    EXPECT_EQ(LogLines().last(), QStringLiteral("Parametr zapisany"));
}

} // namespace
