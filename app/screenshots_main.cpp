// Renders the window offscreen on the simulated bus, connected and polling,
// and saves one picture per page: <folder>/page1.png .. page3.png.
#include "app/application.h"
#include "sim/simbus.h"
#include "ui/Main.h"
#include "ui/texts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qvr::SetUpApplication();

    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    // Sixteen sensors with their readings moving: connected and polling from
    // the start, by settings of its own.
    QTemporaryDir settingsDir;
    const QString config = settingsDir.filePath(QStringLiteral("config.ini"));
    QFile file(config);
    if (!settingsDir.isValid() || !file.open(QIODevice::WriteOnly))
        return 1;
    file.write("[Options]\nAutoConnect=1\nUpdate=1\nSensorCount=15\nCoeff=1\n");
    file.close();

    qvr::TSimulatedBus bus;
    bus.SetDescription(qvr::text::kSimulatedBus.toStdString());
    TFMain window(bus, config);
    qvr::StartWindow(window);

    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 6000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);

    for (int page = 0; page < window.Form().PageControl1->count(); ++page) {
        window.Form().PageControl1->setCurrentIndex(page);
        QApplication::processEvents();
        const QString file = QDir(folder).filePath(QStringLiteral("page%1.png").arg(page + 1));
        if (!window.grab().save(file))
            return 1;
    }
    return 0;
}
