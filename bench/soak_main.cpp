// Long-run soak driver: the window polls sixteen simulated sensors for hours
// of simulated time, with faults injected now and then, and prints per hour
// what went over the bus, the traffic log's size and the process's memory.
// Usage: build/bench/soak [simulated hours, default 1]
#include "sim/simbus.h"
#include "ui/Main.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <random>

namespace {

std::int64_t gNowUs = 0;

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int hours = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    // Settings of its own: every automatic option off.
    QTemporaryDir settingsDir;
    const QString config = settingsDir.filePath(QStringLiteral("config.ini"));
    QFile settings(config);
    if (!settingsDir.isValid() || !settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write("[Options]\n");
    settings.close();

    qvr::TSimulatedBus bus([] { return gNowUs; });
    TFMain window(bus, config);
    window.FormCreate();
    // The driver plays the timers in simulated time.
    window.UsbTimer->stop();
    window.SaveTimer->stop();
    window.SensorCnt->setCurrentIndex(15);
    window.ConnectButtonClick();
    window.UsbTimer->stop();
    window.UpdateData->setChecked(true);

    std::mt19937 random(7);
    using Fault = qvr::TSimulatedBus::Fault;
    const Fault faults[] = {Fault::Silence, Fault::BadCrc, Fault::Exception,
                            Fault::Garbage, Fault::Split,  Fault::Late};

    constexpr std::int64_t kTickUs = 20'000;
    constexpr std::int64_t kTimeoutUs = 200'000;
    constexpr std::int64_t kHourUs = 3'600'000'000;
    std::int64_t timeoutStartedUs = -1;
    std::uint64_t writesSeen = 0;
    auto trackTimeout = [&] {
        const std::uint64_t writes = bus.CallCount(qvr::TSimulatedBus::Call::Write);
        if (!window.TimeoutTimer->isActive())
            timeoutStartedUs = -1;
        else if (timeoutStartedUs < 0 || writes != writesSeen)
            timeoutStartedUs = gNowUs;
        writesSeen = writes;
    };
    std::printf("hour  requests  replies  log-lines  rss-KiB  link\n");
    for (int hour = 1; hour <= hours; ++hour) {
        const std::int64_t end = hour * kHourUs;
        while (gNowUs < end) {
            gNowUs += kTickUs;
            if (random() % 500 == 0)
                bus.InjectFault(faults[random() % std::size(faults)]);
            window.UsbTimerTimer();
            // TimeoutTimer in simulated time: the window starts it with each
            // poll request (a handled reply or a time-out stops it first,
            // within one handler call), so a request written while it runs
            // is a fresh start; a timer left running keeps its start.
            trackTimeout();
            if (timeoutStartedUs >= 0 && gNowUs - timeoutStartedUs >= kTimeoutUs) {
                window.TimeoutTimerTimer();
                trackTimeout();
            }
            if (!window.Link()->IsOpen())
                break;
        }
        long requests = 0;
        for (int a = 50; a <= 65; ++a)
            requests += bus.RequestsReceived(a);
        std::printf("%4d  %8ld  %7ld  %9d  %7ld  %s\n", hour, requests,
                    static_cast<long>(bus.RepliesSent()), window.UartLog->blockCount(),
                    ResidentKiB(), window.Link()->IsOpen() ? "up" : "DOWN");
        std::fflush(stdout);
        if (!window.Link()->IsOpen())
            return 1;
    }
    return 0;
}
