// The error display: what escapes a handler is shown in a message box
// captioned with the application title, with an error icon and the message.
#include "app/application.h"
#include "app/termination.h"
#include "link/fake_library.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct ShownBox {
    bool shown = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Reads and closes the message box that the next modal loop shows.
ShownBox CaptureNextBox(const std::function<void()> &action)
{
    ShownBox seen;
    QTimer::singleShot(0, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen = {true, box->windowTitle(), box->text(), box->icon()};
            box->accept();
        }
    });
    action();
    return seen;
}

TEST(ErrorDisplay, ShowsTheMessageOfAnEscapedError)
{
    bool result = true;
    const ShownBox box = CaptureNextBox([&] {
        result = qvr::RunGuarded([]() -> bool { throw std::runtime_error("Brak pliku"); });
    });
    EXPECT_FALSE(result);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.title, QStringLiteral("QVR 1 - PC"));
    EXPECT_EQ(box.text, QStringLiteral("Brak pliku"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
}

TEST(ErrorDisplay, AnErrorWithoutMessageShowsAnEmptyOne)
{
    const ShownBox box = CaptureNextBox([] { qvr::RunGuarded([]() -> bool { throw 42; }); });
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.title, QStringLiteral("QVR 1 - PC"));
    EXPECT_TRUE(box.text.isEmpty());
}

// Qt appends a display name to every window's title; the application title
// must caption the error display only.
TEST(Application, SetsNoDisplayNameForTheWindowTitles)
{
    qvr::SetUpApplication();
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    EXPECT_NE(QGuiApplication::applicationDisplayName(), QStringLiteral("QVR 1 - PC"));
}

TEST(Application, StartsTheWindowBroughtUpAndShown)
{
    qvr::test::FakeLibrary library;
    library.Adapters = {"Adapter A"};
    TFMain window(library, qvr::test::SettingsFile());
    qvr::StartWindow(window);
    EXPECT_TRUE(window.isVisible());
    ASSERT_NE(window.Link(), nullptr);
    EXPECT_EQ(window.Link()->Description(), "Adapter A");
}

// A started window on a settings file of its own, which can be made
// unwritable by putting a folder where the file was.
struct TStartedWindow {
    qvr::test::FakeLibrary library;
    QTemporaryDir dir;
    const QString config = dir.filePath("config.ini");
    TFMain window{library, config};
    TStartedWindow() { qvr::StartWindow(window); }
    bool BreakSettingsFile()
    {
        return QFile::remove(config) && QDir(dir.path()).mkdir("config.ini");
    }
    // The operator's text for the broken file: the save fails reading it.
    QString Failure() const
    {
        return "Nie można odczytać pliku " + QDir::toNativeSeparators(config) +
               ": not a regular file";
    }
};

// A save that fails at close is shown; the window closes all the same.
TEST(Application, AFailedSaveAtCloseIsShownAndTheWindowCloses)
{
    TStartedWindow started;
    TFMain &window = started.window;
    ASSERT_TRUE(window.isVisible());
    ASSERT_TRUE(started.BreakSettingsFile());
    const ShownBox box = CaptureNextBox([&] { window.close(); });
    ASSERT_TRUE(box.shown);
    EXPECT_TRUE(box.text.contains(QStringLiteral("config.ini"))) << box.text.toStdString();
    EXPECT_EQ(box.text.toStdString(), started.Failure().toStdString());
    EXPECT_FALSE(window.isVisible());
}

// A stop signal reaches the handler on the event loop, whichever of the three
// it is; once one is taken, the others are ignored until the process ends
// (a default action would end it with no save).
TEST(Application, TheFirstStopSignalArrivesOnTheEventLoopAndTheRestAreIgnored)
{
    for (const int first : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(first);
        std::vector<int> received;
        qvr::TTerminationSignals stopSignals([&](int s) { received.push_back(s); });
        ASSERT_TRUE(stopSignals.Installed());
        ASSERT_EQ(::raise(first), 0);
        for (const int s : {SIGTERM, SIGINT, SIGHUP})
            ASSERT_EQ(::raise(s), 0);  // the process lives on
        EXPECT_TRUE(received.empty()); // nothing runs inside the signal handler
        QCoreApplication::processEvents();
        EXPECT_EQ(received, std::vector<int>{first});
    }
}

// A signal caught before the application's loop runs is handed over at once.
TEST(Application, ASignalCaughtBeforeTheLoopIsTaken)
{
    qvr::CatchTerminationSignals();
    ASSERT_EQ(::raise(SIGTERM), 0);
    std::vector<int> received;
    qvr::TTerminationSignals stopSignals([&](int s) { received.push_back(s); });
    stopSignals.TakePending();
    EXPECT_EQ(received, std::vector<int>{SIGTERM});
}

// Closing by a signal waits for no click: a failed save goes to standard
// error and the exit code; a good one gives 0.
TEST(Application, ASaveAtASignalReportsOnStandardErrorNotInABox)
{
    TStartedWindow started;
    TFMain &window = started.window;
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(qvr::SaveAtSignal(window), 0);

    ASSERT_TRUE(started.BreakSettingsFile());
    bool boxShown = false;
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            boxShown = true;
            modal->close();
        }
    });
    ::testing::internal::CaptureStderr();
    const int code = qvr::SaveAtSignal(window);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    QApplication::processEvents();
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(boxShown);
    EXPECT_NE(errors.find("config.ini"), std::string::npos) << errors;
    EXPECT_EQ(errors, started.Failure().toStdString() + "\n");
}

TEST(ErrorDisplay, NothingIsShownWhenNothingEscapes)
{
    bool shown = false;
    QTimer::singleShot(0, [&] { shown = QApplication::activeModalWidget() != nullptr; });
    EXPECT_TRUE(qvr::RunGuarded([] { return true; }));
    QApplication::processEvents();
    EXPECT_FALSE(shown);
}

} // namespace
