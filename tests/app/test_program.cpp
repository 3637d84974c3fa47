// The real program end to end: qvr1pc, copied into a folder of its own with
// its config.ini, runs under a virtual X server; its adapter is a
// pseudo-terminal named in [Adapters], and libmodbus answers on the other end
// as sensors 50 and 51. Connecting, polling and logging are switched on by
// the settings; a SIGTERM ends it as the close button would.
#include "bench/modbus_peer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

namespace {

using qvr::test::TModbusPeer;

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WaitFor(const std::function<bool()> &done, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The thirteen keys in their order, as a saved file holds them.
QByteArray Options(const QString &log)
{
    return "[Options]\nAutoSave=2\nUpdate=1\nAutoConnect=1\nSaveDate=1\nSaveTime=1\nSaveRaw=1\n"
           "SavePercent=1\nSaveCoeff=1\nSaveFile=" +
           log.toUtf8() + "\nSensorCount=1\nSaveFreq=3\nChartType=0\nCoeff=1,50\n";
}

TEST(Program, ConnectsPollsLogsAndSavesItsSettingsOnSigterm)
{
    TModbusPeer peer({50, 51}, 300);
    ASSERT_TRUE(peer.Ready());
    peer.SetRegister(0, 777, 51);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("qvr1pc");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QVR1PC_PATH), program));
    const QString config = dir.filePath("config.ini");
    const QString log = dir.filePath("pomiar.csv");
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Options(log) + "[Adapters]\nPort1=" + QByteArray::fromStdString(peer.Path()) +
                "\n");
    }

    QProcess x;
    x.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LC_ALL", "pl_PL.UTF-8");
    // The X libraries' own allocations outlive the program; they are not its leaks.
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    x.setProcessEnvironment(env);
    x.setProcessChannelMode(QProcess::ForwardedChannels);
    x.start("xvfb-run", {"-a", "-s", "-screen 0 1024x768x24", "sh", "-c",
                         "echo $$ > pid; echo $DISPLAY > display; echo $XAUTHORITY > xauth; "
                         "exec ./qvr1pc"});
    ASSERT_TRUE(x.waitForStarted(5000));

    // Lines carrying both sensors' values: the link came up, polling ran.
    const QRegularExpression answered(
        QStringLiteral("^[^;]+;\\d{2}:\\d{2}:\\d{2};300;29,33;450,00;777;75,95;1165,50;$"));
    // Before the first replies, or after a time-out on a loaded machine.
    const QRegularExpression waiting(
        QStringLiteral("^[^;]+;\\d{2}:\\d{2}:\\d{2};(300;29,33;450,00;|0;0,00;0,00;|---;---;---;)"
                       "(777;75,95;1165,50;|0;0,00;0,00;|---;---;---;)$"));
    auto answeredLines = [&] {
        int n = 0;
        for (const QString &line : QString::fromUtf8(ReadFile(log)).split("\r\n"))
            n += answered.match(line).hasMatch();
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return answeredLines() >= 5; }, 30))
        << ReadFile(log).left(400).toStdString();

    // The caption as the window system reports it.
    QProcess info;
    QProcessEnvironment xenv = env;
    xenv.insert("DISPLAY", QString::fromUtf8(ReadFile(dir.filePath("display")).trimmed()));
    xenv.insert("XAUTHORITY", QString::fromUtf8(ReadFile(dir.filePath("xauth")).trimmed()));
    info.setProcessEnvironment(xenv);
    info.start("xwininfo", {"-root", "-tree"});
    ASSERT_TRUE(info.waitForFinished(10000));
    EXPECT_TRUE(info.readAllStandardOutput().contains("\"QVR-1 PC  wersja: 1.02\""));

    const qint64 pid = ReadFile(dir.filePath("pid")).trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGTERM), 0);
    ASSERT_TRUE(x.waitForFinished(20000));
    EXPECT_EQ(x.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(x.exitCode(), 0);

    // Every line well formed, each ending in CR LF.
    const QByteArray logged = ReadFile(log);
    ASSERT_TRUE(logged.endsWith("\r\n"));
    QStringList lines = QString::fromUtf8(logged).split("\r\n");
    lines.removeLast();
    for (const QString &line : lines)
        EXPECT_TRUE(answered.match(line).hasMatch() || waiting.match(line).hasMatch())
            << line.toStdString();

    // The settings saved at the signal: normalised values, order and the
    // serial ports kept.
    EXPECT_EQ(ReadFile(config).toStdString(),
              (QByteArray(Options(log)).replace("AutoSave=2", "AutoSave=1").replace("1,50", "1,5") +
               "[Adapters]\nPort1=" + QByteArray::fromStdString(peer.Path()) + "\n")
                  .toStdString());
}

} // namespace

// --- Stop signals at bad moments, on the demo program (the same process entry) ---------------

// The signal mask line "SigCgt" of /proc/<pid>/status: whether SIGTERM is caught.
bool CatchesSigterm(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

struct TStopCase {
    const char *name;
    // What happens once the program runs; returns false when the test cannot
    // go on (or, for `early`, when the moment was missed).
    std::function<bool(qint64 pid, const QString &config)> act;
    // The moment is a race with the program's start: a start on which it was
    // missed is tried again.
    bool early;
    int exitCode;
    bool saved;        // config.ini rewritten at the signal
    const char *error; // in standard error; nullptr: nothing there
};

void PrintTo(const TStopCase &c, std::ostream *os)
{
    *os << c.name;
}

class StopSignal : public ::testing::TestWithParam<TStopCase> {};

const TStopCase kStopCases[] = {
    // Caught before the application object exists (no platform plugin loaded
    // yet): the program ends cleanly, the settings file untouched.
    {"BeforeTheWindowExists",
     [](qint64 pid, const QString &) {
         const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         while (!CatchesSigterm(pid))
             if (std::chrono::steady_clock::now() > deadline)
                 return false;
         ::kill(static_cast<pid_t>(pid), SIGSTOP);
         const QByteArray maps = ReadFile(QStringLiteral("/proc/%1/maps").arg(pid));
         if (maps.contains("platforms/libq")) {
             ::kill(static_cast<pid_t>(pid), SIGCONT);
             return false; // the platform plugin is loaded already: too late
         }
         ::kill(static_cast<pid_t>(pid), SIGTERM);
         ::kill(static_cast<pid_t>(pid), SIGCONT);
         return true;
     },
     true, 0, false, nullptr},
    // Two signals close together: the second is ignored, the first saves.
    {"TwoSignalsFiveMillisecondsApart",
     [](qint64 pid, const QString &) {
         ::kill(static_cast<pid_t>(pid), SIGTERM);
         QThread::msleep(5);
         ::kill(static_cast<pid_t>(pid), SIGTERM);
         return true;
     },
     false, 0, true, nullptr},
    // A save that fails waits for no click: standard error and exit code 1.
    {"ASaveThatFails",
     [](qint64 pid, const QString &config) {
         if (!QFile::remove(config) || !QDir().mkdir(config)) // a folder where the file was
             return false;
         ::kill(static_cast<pid_t>(pid), SIGTERM);
         return true;
     },
     false, 1, false, "config.ini"},
};

INSTANTIATE_TEST_SUITE_P(Moments, StopSignal, ::testing::ValuesIn(kStopCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(StopSignal, EndsWithoutWaitingAndReportsTheSave)
{
    const TStopCase &c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("qvr1pc-demo");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QVR1PC_DEMO_PATH), program));
    const QString config = dir.filePath("config.ini");
    const QString log = dir.filePath("pomiar.csv");
    const QByteArray settings =
        "[Options]\nAutoSave=2\nUpdate=1\nAutoConnect=1\nSaveFile=" + log.toUtf8() + "\n";
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings);
    }

    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    p.setProcessEnvironment(env);
    // An early moment missed on a busy machine is tried on a new start; the
    // program is never signalled late, so the file stays as written.
    bool acted = false;
    for (int start = 0; start < (c.early ? 10 : 1) && !acted; ++start) {
        p.start(program, {});
        ASSERT_TRUE(p.waitForStarted(5000));
        // Running: the log's first lines are there (except for the early signal).
        if (!c.early) {
            ASSERT_TRUE(WaitFor([&] { return ReadFile(log).count("\r\n") >= 2; }, 30));
        }
        acted = c.act(p.processId(), config);
        if (!acted) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
    ASSERT_TRUE(acted);
    ASSERT_TRUE(p.waitForFinished(15000)) << "still running: waiting for a click?";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.exitCode);
    const QByteArray errors = p.readAllStandardError();
    if (c.error != nullptr) {
        EXPECT_TRUE(errors.contains(c.error)) << errors.toStdString();
    }
    if (QFileInfo(config).isFile()) {
        // Saved: AutoSave normalised, the other keys added in their order.
        EXPECT_EQ(ReadFile(config) != settings, c.saved) << ReadFile(config).toStdString();
        if (c.saved) {
            EXPECT_TRUE(ReadFile(config).startsWith("[Options]\nAutoSave=1\n"));
        }
    }
}
