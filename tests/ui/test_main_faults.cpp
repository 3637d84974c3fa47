// The window on the serial-port library when things go wrong: the adapter is
// unplugged and plugged in again (the far end of a pseudo-terminal hangs up
// and comes back under the same link), the disk is full, the log's folder
// vanishes. libmodbus serves three sensors on the terminal. The receive,
// time-out and save ticks are driven by hand; with the event loop running the
// window's own timers fire in between as well.
#include "bench/modbus_peer.h"
#include "link/serial_ports.h"
#include "storage/settings.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using qvr::test::TModbusPeer;

const QString kLinkLost = QStringLiteral("Rozłączony");
const QString kLinkUp = QStringLiteral("Polączony");
const QString kWriteError = QStringLiteral("Błąd zapisu do pliku");

constexpr int kSensors = 3; // 50..52
constexpr std::uint16_t kRegister0 = 300;

// Whether thread `tid` of this process sits in poll(). During a click the
// window polls only inside the library's write: for an instant to see that
// the port is still there, then while it waits for room in the queue.
bool InPoll(pid_t tid)
{
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string call;
    file >> call; // a number, or "running"
    return call == std::to_string(SYS_poll) || call == std::to_string(SYS_ppoll);
}

// Hangs the peer up from another thread once the calling thread is inside
// the library's write.
class THangUpDuringWrite {
public:
    explicit THangUpDuringWrite(TModbusPeer &peer)
        : worker_([this, &peer, tid = ::gettid()] {
              while (!done_) {
                  if (InPoll(tid)) {
                      hungUp_ = true;
                      peer.HangUp();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::microseconds(100));
              }
          })
    {
    }
    ~THangUpDuringWrite() { Finish(); }

    // Whether the peer hung up; call once the write is over.
    bool Finish()
    {
        done_ = true;
        if (worker_.joinable())
            worker_.join();
        return hungUp_;
    }

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> hungUp_{false};
    std::thread worker_;
};

class PeerWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        peer_ = std::make_unique<TModbusPeer>(std::vector<int>{50, 51, 52}, kRegister0,
                                              dir_.filePath("bus").toStdString());
        ASSERT_TRUE(peer_->Ready());
        const QString config = dir_.filePath("adapters.ini");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Adapters]\nPort1=" + QByteArray::fromStdString(peer_->Path()) + "\n");
        f.close();
        library_ = std::make_unique<qvr::TSerialPortLibrary>(
            [config] { return qvr::AdapterPorts(config); },
            [] { return std::vector<qvr::TPortRecord>{}; });
        window_ = std::make_unique<TFMain>(
            *library_, qvr::test::SettingsFile("[Options]\nSensorCount=2\nCoeff=1\n" + settings_));
        window_->FormCreate();
        ASSERT_EQ(window_->Form().UsbBox->count(), 1);
    }

    void TearDown() override { window_.reset(); }

    TFMain &w() { return *window_; }
    TModbusPeer &peer() { return *peer_; }

    void Connect()
    {
        w().ConnectButtonClick();
        ASSERT_TRUE(w().Link()->IsOpen());
    }

    // The link up, polling on, a line logged to `path` each save tick.
    void StartLogging(const QString &path)
    {
        w().Form().FileName->setText(path);
        w().Form().SaveData->setChecked(true);
        Connect();
        w().Form().UpdateData->setChecked(true); // the first request goes out
    }

    void Tick()
    {
        if (eventLoop_)
            QApplication::processEvents();
        w().UsbTimerTimer();
    }

    // Receive ticks every 5 ms until `done` holds; false after five seconds.
    bool TickUntil(const std::function<bool()> &done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Requests the peer accepted, all sensors together.
    int Requests()
    {
        int n = 0;
        for (int slave = 50; slave < 50 + kSensors; ++slave)
            n += peer().Requests(slave);
        return n;
    }

    // Polling carries on: a full round of new requests reaches the peer.
    void ExpectPollingGoesOn()
    {
        const int before = Requests();
        EXPECT_TRUE(TickUntil([&] { return Requests() >= before + kSensors; }));
        EXPECT_TRUE(w().Link()->IsOpen());
    }

    // The grid shows `raw` for sensor 50.
    bool Shows(int raw)
    {
        const QTableWidgetItem *cell = w().Form().SensorValue->item(1, 1);
        return cell != nullptr && cell->text().startsWith(QStringLiteral("[%1]").arg(raw));
    }

    int TxLines()
    {
        int n = 0;
        for (QTextBlock b = w().Form().UartLog->document()->begin(); b.isValid(); b = b.next())
            n += b.text().startsWith(QStringLiteral("TX: "));
        return n;
    }

    static QByteArray FileBytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static int FileLines(const QString &path) { return FileBytes(path).count("\r\n"); }

    bool eventLoop_ = false;
    // More of the settings file than [Options].
    QByteArray settings_;
    QTemporaryDir dir_;
    std::unique_ptr<TModbusPeer> peer_;
    std::unique_ptr<qvr::TSerialPortLibrary> library_;
    std::unique_ptr<TFMain> window_;
};

// --- The adapter unplugged and plugged in again ---------------------------------------------

class Unplugged : public PeerWindow, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        eventLoop_ = GetParam();
        PeerWindow::SetUp();
    }
};

INSTANTIATE_TEST_SUITE_P(EventLoop, Unplugged, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Running" : "Idle"; });

TEST_P(Unplugged, LinkDownAtOnceThenPollingAndLogResumeAfterConnect)
{
    const QString log = dir_.filePath("pomiary.csv");
    StartLogging(log);
    ASSERT_TRUE(TickUntil([&] { return Shows(kRegister0); }));

    const struct {
        const char *name;
        std::function<void()> hangUp;
    } rows[] = {
        {"read request outstanding",
         [&] {
             // A reading was just taken in and the next request sent.
             ASSERT_TRUE(w().TimeoutTimer()->isActive());
             peer().HangUp();
         }},
        {"parameter write being sent",
         [&] {
             ASSERT_TRUE(peer().StopOutput()); // the write has to wait for room
             w().Form().SensAdr->setCurrentIndex(1);
             w().Form().OnOffEdit->setText(QStringLiteral("5"));
             THangUpDuringWrite hangUp(peer());
             w().SpeedButton1Click();
             ASSERT_TRUE(hangUp.Finish()) << "the peer did not hang up during the write";
             EXPECT_FALSE(w().Link()->IsOpen()); // the failed write took it down
         }},
    };
    int value = kRegister0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        w().SaveTimerTimer();
        w().SaveTimerTimer();
        const QByteArray logged = FileBytes(log);
        ASSERT_GE(FileLines(log), 2);

        row.hangUp();
        if (HasFatalFailure())
            return;
        w().UsbTimerTimer();
        EXPECT_FALSE(w().Link()->IsOpen());
        EXPECT_EQ(w().PanelText(1), kLinkLost);
        EXPECT_FALSE(w().UsbTimer()->isActive());

        // The gap: ticks of every kind, the peer back under its link half-way;
        // nothing reaches it, nothing is sent or logged.
        const long heard = peer().Received();
        const int sent = TxLines();
        for (int i = 0; i < 10; ++i) {
            if (i == 5) {
                ASSERT_TRUE(peer().ComeBack());
            }
            Tick();
            w().TimeoutTimerTimer();
            w().SaveTimerTimer();
        }
        // A byte of ours goes after anything the window wrote; once its frame
        // is closed, the window's first request makes a frame of its own.
        const long frames = peer().Frames();
        ASSERT_TRUE(peer().SendMarker());
        ASSERT_TRUE(
            TickUntil([&] { return peer().Received() > heard && peer().Frames() > frames; }));
        EXPECT_EQ(peer().Received(), heard + 1);
        EXPECT_EQ(TxLines(), sent);
        EXPECT_EQ(FileBytes(log), logged);
        EXPECT_FALSE(w().Link()->IsOpen());

        // Connected again: new readings, and the log goes on after its old lines.
        value += 100;
        peer().SetRegister(0, static_cast<std::uint16_t>(value), 50);
        const int requests = Requests();
        w().ConnectButtonClick();
        ASSERT_TRUE(w().Link()->IsOpen());
        EXPECT_EQ(w().PanelText(1), kLinkUp);
        EXPECT_TRUE(w().UsbTimer()->isActive());
        ASSERT_TRUE(TickUntil([&] { return Shows(value); }));
        EXPECT_GT(Requests(), requests);
        w().SaveTimerTimer();
        const QByteArray now = FileBytes(log);
        EXPECT_TRUE(now.startsWith(logged));
        EXPECT_GT(now.count("\r\n"), logged.count("\r\n"));
        const QList<QByteArray> lines = now.split('\n');
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[lines.size() - 2].contains(';' + QByteArray::number(value) + ';'))
            << lines[lines.size() - 2].toStdString();
    }
}

// --- A full disk, a vanishing folder ------------------------------------------------------

// --- Reconnecting by itself ([Reconnect]) ---------------------------------------------------

class ReconnectByItself : public PeerWindow, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        eventLoop_ = true;
        settings_ =
            QByteArray("[Reconnect]\nEnabled=") + (GetParam() ? "1" : "0") + "\nIntervalMs=500\n";
        PeerWindow::SetUp();
    }

    // The event loop with the window's own timers, no click, for `ms`.
    void Run(int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // Slave addresses of the traffic log's requests from line `first` on.
    std::vector<int> RequestsFrom(int first)
    {
        std::vector<int> addresses;
        int n = 0;
        for (QTextBlock b = w().Form().UartLog->document()->begin(); b.isValid(); b = b.next())
            if (b.text().startsWith(QStringLiteral("TX: ")) && n++ >= first)
                addresses.push_back(b.text().mid(4, 2).toInt(nullptr, 16));
        return addresses;
    }
};

INSTANTIATE_TEST_SUITE_P(Option, ReconnectByItself, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "On" : "Off"; });

// The adapter goes away and comes back under the same path: with the option
// on the link returns without a click and polling and logging carry on
// where they stopped; with it off nothing happens until the operator acts.
TEST_P(ReconnectByItself, TheLinkReturnsWithoutAClickOnlyWhenAsked)
{
    const bool on = GetParam();
    const QString log = dir_.filePath("pomiary.csv");
    StartLogging(log);
    ASSERT_TRUE(TickUntil([&] { return Shows(kRegister0); }));
    w().SaveTimerTimer();

    peer().HangUp();
    ASSERT_TRUE(TickUntil([&] { return !w().Link()->IsOpen(); }));
    EXPECT_EQ(w().PanelText(1), kLinkLost);
    EXPECT_EQ(w().ReconnectTimer()->isActive(), on);
    const QByteArray logged = FileBytes(log);
    ASSERT_TRUE(peer().ComeBack());
    const int sent = TxLines();
    const int requests = Requests();
    peer().SetRegister(0, kRegister0 + 1, 50);

    Run(1500);
    // Polling stops; the last request is answered or times out.
    w().Form().UpdateData->setChecked(false);
    Run(300);

    EXPECT_EQ(w().Link()->IsOpen(), on);
    EXPECT_EQ(w().PanelText(1), on ? kLinkUp : kLinkLost);
    EXPECT_FALSE(w().ReconnectTimer()->isActive());
    // Every request since reached the sensors once, in the cycle's order.
    EXPECT_EQ(TxLines() - sent, Requests() - requests);
    const std::vector<int> after = RequestsFrom(sent);
    for (std::size_t i = 1; i < after.size(); ++i)
        EXPECT_EQ(after[i], after[i - 1] == 52 ? 50 : after[i - 1] + 1) << i;
    const QByteArray now = FileBytes(log);
    EXPECT_TRUE(now.startsWith(logged));
    if (on) {
        EXPECT_GE(after.size(), 10u);
        EXPECT_TRUE(Shows(kRegister0 + 1));
        EXPECT_GT(now.size(), logged.size());
    } else {
        EXPECT_TRUE(after.empty());
        EXPECT_EQ(now, logged);
    }
}

TEST_F(PeerWindow, FullDiskReportedAndPollingGoesOn)
{
    StartLogging(QStringLiteral("/dev/full"));
    ASSERT_TRUE(TickUntil([&] { return Shows(kRegister0); }));
    ASSERT_NE(w().PanelText(2), kWriteError);

    w().SaveTimerTimer();
    EXPECT_EQ(w().PanelText(2), kWriteError);
    ExpectPollingGoesOn();
}

TEST_F(PeerWindow, VanishedFolderReportedAndLoggingResumesWhenItIsBack)
{
    const QString folder = dir_.filePath("pomiary");
    const QString log = folder + QStringLiteral("/log.csv");
    ASSERT_TRUE(QDir().mkpath(folder));
    StartLogging(log);
    ASSERT_TRUE(TickUntil([&] { return Shows(kRegister0); }));
    w().SaveTimerTimer();
    ASSERT_EQ(FileLines(log), 1);
    ASSERT_NE(w().PanelText(2), kWriteError);

    ASSERT_TRUE(QDir(folder).removeRecursively());
    w().SaveTimerTimer();
    EXPECT_EQ(w().PanelText(2), kWriteError);
    EXPECT_FALSE(QFileInfo::exists(folder));
    ExpectPollingGoesOn();

    ASSERT_TRUE(QDir().mkpath(folder));
    w().SaveTimerTimer();
    EXPECT_EQ(FileLines(log), 1);
    w().SaveTimerTimer();
    EXPECT_EQ(FileLines(log), 2);
}

// A FIFO without a reader as the log: the tick never waits in open(), the
// failure shows at once, polling goes on, and logging resumes by itself once
// the path is a regular file. A tick still blocked after two seconds is freed
// by opening the FIFO's other end from here, and fails the test.
TEST_F(PeerWindow, FifoAsTheLogNeverBlocksAndLoggingResumesOnARegularFile)
{
    const QString log = dir_.filePath("fifo.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(log).constData(), 0600), 0);
    StartLogging(log);
    ASSERT_TRUE(TickUntil([&] { return Shows(kRegister0); }));
    ASSERT_NE(w().PanelText(2), kWriteError);

    std::atomic<bool> ticked{false};
    std::atomic<bool> freed{false};
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!ticked && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ticked) {
            freed = true;
            const int reader = ::open(QFile::encodeName(log).constData(), O_RDONLY | O_NONBLOCK);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (reader >= 0)
                ::close(reader);
        }
    });
    w().SaveTimerTimer();
    ticked = true;
    watchdog.join();
    EXPECT_FALSE(freed) << "the save tick waited in open()";
    EXPECT_EQ(w().PanelText(2), kWriteError);
    ExpectPollingGoesOn();

    ASSERT_TRUE(QFile::remove(log));
    w().SaveTimerTimer();
    w().SaveTimerTimer();
    EXPECT_EQ(FileLines(log), 2);
}

struct TQuietCase {
    const char *name;
    bool saveData;
    bool polling;
    bool connect;
    bool hangUp; // after the first reading
};

class NoLogFile : public PeerWindow, public ::testing::WithParamInterface<TQuietCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, NoLogFile,
                         ::testing::Values(TQuietCase{"LoggingOff", false, true, true, false},
                                           TQuietCase{"PollingOff", true, false, true, false},
                                           TQuietCase{"NeverConnected", true, true, false, false},
                                           TQuietCase{"LinkLost", true, true, true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(NoLogFile, NothingCreated)
{
    const TQuietCase &c = GetParam();
    const QString log = dir_.filePath("log.csv");
    w().Form().FileName->setText(log);
    if (c.connect)
        Connect();
    w().Form().UpdateData->setChecked(c.polling);
    if (c.connect && c.polling) {
        ASSERT_TRUE(TickUntil([&] { return Shows(kRegister0); }));
    }
    if (c.hangUp) {
        peer().HangUp();
        w().UsbTimerTimer();
        ASSERT_FALSE(w().Link()->IsOpen());
    }
    w().Form().SaveData->setChecked(c.saveData);

    w().SaveTimerTimer();
    w().SaveTimerTimer();
    EXPECT_FALSE(QFileInfo::exists(log));
    EXPECT_NE(w().PanelText(2), kWriteError);
}

} // namespace
