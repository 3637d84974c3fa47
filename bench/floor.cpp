// The floor program for bench/figures.sh: a window of the program's size,
// shown, with the program's timers and nothing else. The program's CPU minus
// this one's is what its drawing, polling and logging cost on top of being a
// shown Qt window woken at the same pace.
//   20 ms tick    the receive tick; every third one pauses 2 ms, as the
//                 program does before each request (16.7 requests/s)
//   100 ms tick   the log tick; it also ends the program on SIGTERM
// Nothing is drawn after the first paint. SIGTERM (or SIGINT) quits the event
// loop cleanly: exit code 0.
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <csignal>

namespace {

volatile std::sig_atomic_t stop = 0;

void OnSignal(int)
{
    stop = 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    QWidget window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setFixedSize(704, 579);
    window.show();

    int ticks = 0;
    QTimer receive;
    receive.setInterval(20);
    QObject::connect(&receive, &QTimer::timeout, [&ticks] {
        if (++ticks % 3 == 0)
            QThread::msleep(2);
    });
    QTimer log;
    log.setInterval(100);
    QObject::connect(&log, &QTimer::timeout, &app, [] {
        if (stop)
            QCoreApplication::quit();
    });
    receive.start();
    log.start();
    return app.exec();
}
