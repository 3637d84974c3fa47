// The device link as the main window shows it: adapter listing, connecting and
// disconnecting with their texts, the receive tick, sent frames and the
// traffic log. The window is driven through its handlers against a scripted
// adapter library; no timer is waited for.
#include "link/fake_library.h"
#include "ui/Main.h"
#include "ui/texts.h"
#include "ui/window_settings.h"

#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using qvr::test::FakeLibrary;

const QString kTrying = QStringLiteral("Próba nawiązania połączenia");
const QString kConnectedOk = QStringLiteral("Połączenie zostało nawiązane poprwanie");
const QString kEnded = QStringLiteral("Połączenie zostało zakończone");
const QString kLinkUp = QStringLiteral("Polączony");
const QString kLinkLost = QStringLiteral("Rozłączony");
const QString kClosed = QStringLiteral("Rozłaczony");
const QString kConnect = QStringLiteral("Połącz");
const QString kDisconnect = QStringLiteral("Rozłącz");

const QString kGreen = QColor(109, 178, 49).name();
const QString kBlue = QColor(24, 142, 214).name();
const QString kDarkRed = QColor(123, 40, 42).name();

struct LogLine {
    QString text;
    QString colour; // #rrggbb of the line's first character

    bool operator==(const LogLine &o) const { return text == o.text && colour == o.colour; }
};

void PrintTo(const LogLine &l, std::ostream *os)
{
    *os << '{' << l.text.toStdString() << ", " << l.colour.toStdString() << '}';
}

std::vector<LogLine> LogLines(const TFMain &w)
{
    std::vector<LogLine> lines;
    const QTextDocument *doc = w.Form().UartLog->document();
    if (doc->isEmpty())
        return lines;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        lines.push_back({b.text(), b.begin().fragment().charFormat().foreground().color().name()});
    return lines;
}

// What the window shows at one moment.
struct Shown {
    QString panel0, panel1, caption;
    bool linkUp = false;
    bool usbTimer = false;
};

Shown ShownBy(const TFMain &w)
{
    return {w.PanelText(0), w.PanelText(1), w.Form().ConnectButton->text(), w.Link()->IsOpen(),
            w.UsbTimer()->isActive()};
}

class LinkWindow : public ::testing::Test {
protected:
    LinkWindow()
    {
        library.Adapters = {"Adapter A", "Adapter B"};
        window = std::make_unique<TFMain>(library, qvr::test::SettingsFile());
        window->FormCreate();
    }

    TFMain &w() { return *window; }

    // Records what the window shows each time the named library call begins.
    std::vector<Shown> &WatchCall(const std::string &call)
    {
        library.OnCall = [this, call](const std::string &c) {
            if (c == call)
                seen.push_back(ShownBy(w()));
        };
        return seen;
    }

    void Connect()
    {
        w().ConnectButtonClick();
        ASSERT_TRUE(w().Link()->IsOpen());
    }

    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            w().UsbTimerTimer();
    }

    FakeLibrary library;
    std::unique_ptr<TFMain> window;
    std::vector<Shown> seen;
};

// --- Listing at window creation -------------------------------------------------------------

struct ListingCase {
    const char *name;
    std::vector<std::string> attached;
    QStringList listed;
};

void PrintTo(const ListingCase &c, std::ostream *os)
{
    *os << c.name;
}

class Listing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(Listing, FillsTheBoxOnceAndPicksTheFirst)
{
    FakeLibrary library;
    library.Adapters = GetParam().attached;
    TFMain window(library, qvr::test::SettingsFile());
    window.FormCreate();

    QStringList listed;
    for (int i = 0; i < window.Form().UsbBox->count(); ++i)
        listed << window.Form().UsbBox->item(i)->text();
    EXPECT_EQ(listed, GetParam().listed);
    EXPECT_EQ(QString::fromStdString(window.Link()->Description()),
              GetParam().listed.value(0, QString()));
    EXPECT_TRUE(window.Form().UsbBox->selectedItems().isEmpty());
    EXPECT_EQ(window.Form().UsbBox->currentRow(), -1);
    EXPECT_FALSE(window.Link()->IsOpen());
    EXPECT_EQ(window.PanelText(0), QString());
    EXPECT_EQ(window.PanelText(1), QString());
    EXPECT_EQ(window.Form().ConnectButton->text(), kConnect);
}

INSTANTIATE_TEST_SUITE_P(Adapters, Listing,
                         ::testing::Values(ListingCase{"Two",
                                                       {"USB Serial A", "USB Serial B"},
                                                       {"USB Serial A", "USB Serial B"}},
                                           ListingCase{"Seven",
                                                       {"a1", "a2", "a3", "a4", "a5", "a6", "a7"},
                                                       {"a1", "a2", "a3", "a4", "a5", "a6"}},
                                           ListingCase{"None", {}, {}}),
                         [](const auto &info) { return std::string(info.param.name); });

// --- Connecting and disconnecting -----------------------------------------------------------

TEST_F(LinkWindow, ConnectFromTheButtonShowsTheAttemptThenTheLinkAfterTheOpen)
{
    w().UsbTimer()->stop();
    std::vector<Shown> &atOpen = WatchCall("OpenEx");

    w().ConnectButtonClick();

    // While the adapter is being opened the link is not up yet.
    ASSERT_EQ(atOpen.size(), 1u);
    EXPECT_EQ(atOpen[0].panel0, kTrying);
    EXPECT_EQ(atOpen[0].panel1, QString());
    EXPECT_EQ(atOpen[0].caption, kDisconnect);
    EXPECT_FALSE(atOpen[0].linkUp);
    EXPECT_TRUE(atOpen[0].usbTimer);

    EXPECT_EQ(w().PanelText(0), kConnectedOk);
    EXPECT_EQ(w().PanelText(1), kLinkUp);
    EXPECT_EQ(w().Form().ConnectButton->text(), kDisconnect);
    EXPECT_TRUE(w().UsbTimer()->isActive());
    EXPECT_TRUE(w().Link()->IsOpen());
    EXPECT_EQ(library.OpenedDescription, "Adapter A");
    EXPECT_EQ(library.OpenHandles.size(), 1u);
}

TEST_F(LinkWindow, ButtonWhileConnectedDisconnects)
{
    Connect();

    // Through the button itself, to prove the click reaches the handler.
    QTest::mouseClick(w().Form().ConnectButton, Qt::LeftButton);

    EXPECT_EQ(w().PanelText(0), kEnded);
    EXPECT_EQ(w().PanelText(1), kClosed);
    EXPECT_EQ(w().Form().ConnectButton->text(), kConnect);
    EXPECT_FALSE(w().UsbTimer()->isActive());
    EXPECT_FALSE(w().Link()->IsOpen());
    EXPECT_TRUE(library.OpenHandles.empty());
    EXPECT_EQ(library.Closed(), 1);
}

TEST_F(LinkWindow, NoAdapterAttachedWhenConnecting)
{
    library.Adapters.clear(); // unplugged after the listing

    w().ConnectButtonClick();

    EXPECT_EQ(w().Form().ConnectButton->text(), kConnect);
    EXPECT_EQ(w().PanelText(0), kTrying);
    EXPECT_EQ(w().PanelText(1), QString());
    EXPECT_FALSE(w().Link()->IsOpen());
    EXPECT_FALSE(library.Called("OpenEx"));
}

struct OpenFailureCase {
    const char *name;
    std::function<void(FakeLibrary &)> arrange;
};

void PrintTo(const OpenFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class OpenFailure : public LinkWindow, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailure, ShowsTheLinkLostAndSendsNothing)
{
    // Polling is on, so a link that came up too early would send a request.
    w().Form().UpdateData->setChecked(true);
    GetParam().arrange(library);

    w().ConnectButtonClick();

    EXPECT_EQ(w().PanelText(0), kTrying);
    EXPECT_EQ(w().PanelText(1), kLinkLost);
    EXPECT_EQ(w().Form().ConnectButton->text(), kDisconnect);
    EXPECT_FALSE(library.Called("Write"));
    EXPECT_TRUE(LogLines(w()).empty());
    EXPECT_FALSE(w().TimeoutTimer()->isActive());
}

// The transport tests go through every failing call; the window shows the
// same for all of them, whether the adapter never opened or was opened and
// then failed to configure.
INSTANTIATE_TEST_SUITE_P(
    Calls, OpenFailure,
    ::testing::Values(OpenFailureCase{"AdapterGoneSinceTheListing",
                                      [](FakeLibrary &l) { l.Adapters = {"Adapter B"}; }},
                      OpenFailureCase{"Purge",
                                      [](FakeLibrary &l) { l.Fail["Purge"] = qvr::FT_IO_ERROR; }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LinkWindow, SelectingTheSecondLineWhileConnectedReconnectsToIt)
{
    Connect();
    std::vector<Shown> atClose, atOpen;
    library.OnCall = [&](const std::string &c) {
        if (c == "Close")
            atClose.push_back(ShownBy(w()));
        if (c == "OpenEx")
            atOpen.push_back(ShownBy(w()));
    };

    QListWidgetItem *second = w().Form().UsbBox->item(1);
    QTest::mouseClick(w().Form().UsbBox->viewport(), Qt::LeftButton, {},
                      w().Form().UsbBox->visualItemRect(second).center());

    ASSERT_EQ(atClose.size(), 1u);
    EXPECT_EQ(atClose[0].caption, kConnect);
    ASSERT_EQ(atOpen.size(), 1u);
    EXPECT_EQ(atOpen[0].panel1, kClosed);
    EXPECT_EQ(atOpen[0].panel0, kTrying);
    EXPECT_EQ(atOpen[0].caption, kDisconnect);
    EXPECT_FALSE(atOpen[0].linkUp);

    EXPECT_EQ(library.OpenedDescription, "Adapter B");
    EXPECT_EQ(w().Link()->Description(), "Adapter B");
    EXPECT_TRUE(w().Link()->IsOpen());
    EXPECT_EQ(w().PanelText(0), kConnectedOk);
    EXPECT_EQ(w().PanelText(1), kLinkUp);
    EXPECT_EQ(w().Form().ConnectButton->text(), kDisconnect);
    EXPECT_EQ(library.Closed(), 1);
}

// Moving the selection with the arrow keys is the operator's selection of
// that line; giving the list the focus is not.
TEST_F(LinkWindow, SelectingALineWithTheKeyboardReconnectsToIt)
{
    w().show();
    w().Form().UsbBox->setFocus();
    QTest::keyClick(w().Form().UsbBox, Qt::Key_Down);
    const std::string first = library.OpenedDescription;
    QTest::keyClick(w().Form().UsbBox, Qt::Key_Down);

    EXPECT_EQ(w().Form().UsbBox->currentRow(), 1);
    EXPECT_EQ(library.OpenedDescription, "Adapter B");
    EXPECT_EQ(w().Link()->Description(), "Adapter B");
    EXPECT_TRUE(w().Link()->IsOpen());
    EXPECT_EQ(library.Closed(), first.empty() ? 0 : 1);
}

TEST_F(LinkWindow, FillingTheListIsNoSelection)
{
    w().show();
    w().Form().UsbBox->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(library.Called("OpenEx"));
    EXPECT_FALSE(w().Link()->IsOpen());
}

TEST_F(LinkWindow, SelectingALineWhileDownConnectsToIt)
{
    w().UsbBoxClick(w().Form().UsbBox->item(1));

    EXPECT_EQ(library.OpenedDescription, "Adapter B");
    EXPECT_TRUE(w().Link()->IsOpen());
    EXPECT_EQ(library.Closed(), 0);
    EXPECT_EQ(w().Form().ConnectButton->text(), kDisconnect);
}

TEST_F(LinkWindow, ButtonAfterALostLinkConnectsAgain)
{
    Connect();
    library.Fail["GetStatus"] = qvr::FT_IO_ERROR;
    w().UsbTimerTimer();
    ASSERT_FALSE(w().Link()->IsOpen());
    EXPECT_EQ(w().PanelText(1), kLinkLost);
    EXPECT_EQ(w().Form().ConnectButton->text(), kDisconnect);

    library.Fail.clear();
    library.Calls.clear();
    std::vector<Shown> &atOpen = WatchCall("OpenEx");
    w().ConnectButtonClick();

    ASSERT_EQ(atOpen.size(), 1u);
    EXPECT_EQ(atOpen[0].panel0, kTrying);
    EXPECT_EQ(atOpen[0].caption, kDisconnect);
    EXPECT_TRUE(w().Link()->IsOpen());
    EXPECT_EQ(w().PanelText(0), kConnectedOk);
    EXPECT_EQ(w().PanelText(1), kLinkUp);
    EXPECT_EQ(w().Form().ConnectButton->text(), kDisconnect);
}

// --- Receive tick ---------------------------------------------------------------------------

TEST_F(LinkWindow, BytesAfterOneEmptyTickContinueTheFrame)
{
    Connect();
    library.Receive({0x32, 0x03, 0x02});
    Ticks(2); // bytes, empty
    library.Receive({0x01, 0x2C, 0xBC, 0x0D});
    Ticks(2); // bytes, empty
    EXPECT_TRUE(LogLines(w()).empty());

    Ticks(1); // second empty tick

    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"RX: 32 03 02 01 2C BC 0D ", kBlue}}));
}

TEST_F(LinkWindow, FrameIsProcessedOnTheSecondEmptyTick)
{
    Connect();
    library.Receive({0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D});
    Ticks(2);
    EXPECT_TRUE(LogLines(w()).empty());
    EXPECT_EQ(w().Receiver().SilenceTicks(), 1);

    Ticks(1);
    EXPECT_EQ(LogLines(w()).size(), 1u);
    EXPECT_EQ(w().Receiver().SilenceTicks(), 0);

    Ticks(3); // silence goes on: nothing more
    EXPECT_EQ(LogLines(w()).size(), 1u);
}

struct ReplyCase {
    const char *name;
    std::vector<std::uint8_t> bytes;
    std::vector<LogLine> lines;
};

void PrintTo(const ReplyCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReplyLines : public LinkWindow, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyLines, AppearInTheLogInTheirColours)
{
    Connect();
    library.Incoming.assign(GetParam().bytes.begin(), GetParam().bytes.end());
    Ticks(3);
    EXPECT_EQ(LogLines(w()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ReplyLines,
    ::testing::Values(ReplyCase{"GoodReadReply",
                                {0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D},
                                {{"RX: 32 03 02 01 2C BC 0D ", kBlue}}},
                      ReplyCase{"ExceptionReply",
                                {0x32, 0x83, 0x02, 0x30, 0xFE},
                                {{"RX: 32 83 02 30 FE ", kBlue}, {"Error: 02", kDarkRed}}},
                      ReplyCase{
                          "AlteredCrc",
                          {0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0E},
                          {{"RX: 32 03 02 01 2C BC 0E ", kBlue}, {"Error: FFFFFFFF", kDarkRed}}},
                      ReplyCase{"ShortFrame",
                                {0x32, 0x03, 0x02, 0x01},
                                {{"RX: 32 03 02 01 ", kBlue}, {"Error: FFFFFFFF", kDarkRed}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LinkWindow, FailedStatusCallTakesTheLinkDownAndReadsNothing)
{
    Connect();
    library.Receive({0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D});
    library.Fail["GetStatus"] = qvr::FT_IO_ERROR;
    library.Calls.clear();

    w().UsbTimerTimer();

    EXPECT_FALSE(w().Link()->IsOpen());
    EXPECT_EQ(w().PanelText(1), kLinkLost);
    EXPECT_FALSE(w().UsbTimer()->isActive());
    EXPECT_FALSE(library.Called("Read"));
    EXPECT_EQ(library.Incoming.size(), 7u);
    EXPECT_EQ(w().Receiver().RxCount(), 0);
    EXPECT_TRUE(library.OpenHandles.empty());
}

// The port vanished between the status call and the read: nothing is
// appended that never arrived, and the link goes down as after a failed
// status call.
TEST_F(LinkWindow, FailedReadAppendsNothingAndTakesTheLinkDown)
{
    Connect();
    library.Receive({0x0D, 0x0A, 0x0D});
    library.Fail["Read"] = qvr::FT_IO_ERROR;

    Ticks(4);

    EXPECT_FALSE(w().Link()->IsOpen());
    EXPECT_EQ(w().PanelText(1), kLinkLost);
    EXPECT_FALSE(w().UsbTimer()->isActive());
    EXPECT_EQ(w().Receiver().RxCount(), 0);
    EXPECT_TRUE(library.OpenHandles.empty());
    EXPECT_TRUE(LogLines(w()).empty());
}

class TickWhileDown : public LinkWindow {
protected:
    // Half a frame received, one empty tick, then the link goes down.
    void SetUp() override
    {
        Connect();
        library.Receive({0x32, 0x03, 0x02});
        Ticks(2);
        ASSERT_EQ(w().Receiver().SilenceTicks(), 1);
        w().ConnectButtonClick();
        ASSERT_FALSE(w().Link()->IsOpen());

        library.Calls.clear();
        Ticks(3);
        ASSERT_TRUE(library.Calls.empty());
        ASSERT_EQ(w().Receiver().SilenceTicks(), 1);
        ASSERT_EQ(w().Receiver().RxCount(), 3);
        ASSERT_TRUE(LogLines(w()).empty());
        Connect();
    }
};

TEST_F(TickWhileDown, KeepsThePartialFrameForTheNextConnection)
{
    library.Receive({0x01, 0x2C, 0xBC, 0x0D});
    Ticks(3);
    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"RX: 32 03 02 01 2C BC 0D ", kBlue}}));
}

TEST_F(TickWhileDown, ResumesTheCountdownAfterReconnecting)
{
    Ticks(1);
    EXPECT_EQ(LogLines(w()),
              (std::vector<LogLine>{{"RX: 32 03 02 ", kBlue}, {"Error: FFFFFFFF", kDarkRed}}));
}

// --- Sending --------------------------------------------------------------------------------

TEST_F(LinkWindow, SentFrameIsWrittenAndLoggedInGreen)
{
    Connect();
    w().SendFrame(50, 3, 0, 1, 0);
    w().SendFrame(51, 6, 10, 0, 2);

    ASSERT_EQ(library.Written.size(), 2u);
    EXPECT_EQ(library.Written[0],
              (std::vector<std::uint8_t>{0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9}));
    EXPECT_EQ(library.Written[1],
              (std::vector<std::uint8_t>{0x33, 0x06, 0x00, 0x0A, 0x00, 0x02, 0x2C, 0x1B}));
    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"TX: 32 03 00 00 00 01 81 C9 ", kGreen},
                                                   {"TX: 33 06 00 0A 00 02 2C 1B ", kGreen}}));
}

TEST_F(LinkWindow, RequestWhileDownIsLoggedButNotWritten)
{
    w().SendFrame(50, 3, 0, 1, 0);

    EXPECT_FALSE(library.Called("Write"));
    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"TX: 32 03 00 00 00 01 81 C9 ", kGreen}}));
    EXPECT_EQ(w().PanelText(1), QString());
}

TEST_F(LinkWindow, FailedWriteTakesTheLinkDownAndStillLogs)
{
    Connect();
    library.Fail["Write"] = qvr::FT_IO_ERROR;

    w().SendFrame(50, 3, 0, 1, 0);

    EXPECT_TRUE(library.Called("Write"));
    EXPECT_FALSE(w().Link()->IsOpen());
    EXPECT_EQ(w().PanelText(1), kLinkLost);
    EXPECT_FALSE(w().UsbTimer()->isActive());
    EXPECT_TRUE(library.OpenHandles.empty());
    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"TX: 32 03 00 00 00 01 81 C9 ", kGreen}}));
}

// --- Traffic log ----------------------------------------------------------------------------

TEST_F(LinkWindow, DoubleClickEmptiesTheLogAndTheNextLineStartsAfresh)
{
    Connect();
    library.Receive({0x32, 0x83, 0x02, 0x30, 0xFE});
    Ticks(3);
    w().SendFrame(50, 3, 0, 1, 0);
    ASSERT_EQ(LogLines(w()).size(), 3u);

    QTest::mouseDClick(w().Form().UartLog->viewport(), Qt::LeftButton);
    EXPECT_TRUE(w().Form().UartLog->toPlainText().isEmpty());

    w().SendFrame(50, 3, 0, 1, 0);
    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"TX: 32 03 00 00 00 01 81 C9 ", kGreen}}));
}

// Only the left button acts: a right-button double click leaves the log.
TEST_F(LinkWindow, RightButtonDoubleClickKeepsTheLog)
{
    w().SendFrame(50, 3, 0, 1, 0);
    QTest::mouseDClick(w().Form().UartLog->viewport(), Qt::RightButton);
    EXPECT_EQ(LogLines(w()).size(), 1u);
}

// New lines do not take over the operator's selection: the selected text and
// the colours of the lines already there stay, and the selection can be copied.
TEST_F(LinkWindow, SelectionInTheLogKeepsItsTextAndColours)
{
    w().SendFrame(50, 3, 0, 1, 0);
    w().AppendLogLine(QStringLiteral("Error: 02"), qvr::text::kErrorColor);
    QTextCursor selection(w().Form().UartLog->document());
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    w().Form().UartLog->setTextCursor(selection);

    w().AppendLogLine(QStringLiteral("RX: 32 "), qvr::text::kRxColor);

    EXPECT_EQ(w().Form().UartLog->textCursor().selectedText(),
              QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
    EXPECT_EQ(LogLines(w()), (std::vector<LogLine>{{"TX: 32 03 00 00 00 01 81 C9 ", kGreen},
                                                   {"Error: 02", kDarkRed},
                                                   {"RX: 32 ", kBlue}}));
    w().Form().UartLog->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
}

// Two lines a reading, all day: a full log that follows its newest line
// repaints only the lines scrolled in, not the whole view, and still shows
// the newest line at the bottom.
TEST_F(LinkWindow, NewLinesRepaintOnlyWhatScrollsIn)
{
    struct PaintedArea : QObject {
        long pixels = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                for (const QRect &r : static_cast<QPaintEvent *>(e)->region())
                    pixels += r.width() * r.height();
            return false;
        }
    } painted;
    w().show();
    for (int i = 0; i < 100; ++i)
        w().SendFrame(50, 3, 0, 1, 0);
    QApplication::processEvents();
    QWidget *view = w().Form().UartLog->viewport();
    view->installEventFilter(&painted);

    for (int reading = 0; reading < 10; ++reading) {
        w().AppendLogLine(QStringLiteral("RX: 32 03 02 01 2C BC 0D "), qvr::text::kRxColor);
        w().SendFrame(51, 3, 0, 1, 0);
        QApplication::processEvents();
    }

    const long viewArea = static_cast<long>(view->width()) * view->height();
    EXPECT_GT(painted.pixels, 0);
    EXPECT_LT(painted.pixels, 10 * viewArea / 3);
    const QScrollBar *bar = w().Form().UartLog->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    const QTextBlock last = w().Form().UartLog->document()->lastBlock();
    EXPECT_EQ(last.text(), QStringLiteral("TX: 33 03 00 00 00 01 80 18 "));
    EXPECT_LE(w().Form().UartLog->cursorRect(QTextCursor(last)).bottom(), view->height());
}

TEST_F(LinkWindow, LogKeepsOnlyTheNewestLines)
{
    constexpr int kMax = TFMain::kUartLogMaxLines;
    static_assert(kMax >= 20000, "an operator must never notice the bound");
    for (int i = 0; i < kMax + 10; ++i)
        w().AppendLogLine(QString::number(i), i % 2 ? QColor(24, 142, 214) : QColor(123, 40, 42));

    const QTextDocument *doc = w().Form().UartLog->document();
    EXPECT_EQ(doc->blockCount(), kMax);
    EXPECT_EQ(doc->firstBlock().text(), QString::number(10));
    EXPECT_EQ(doc->lastBlock().text(), QString::number(kMax + 9));
    EXPECT_EQ(doc->lastBlock().begin().fragment().charFormat().foreground().color().name(),
              (kMax + 9) % 2 ? kBlue : kDarkRed);
}

} // namespace
