#include "application.h"

#include "app/termination.h"
#include "storage/settings.h"
#include "ui/Main.h"
#include "ui/fonts.h"

#include <QMessageBox>
#include <exception>

namespace qvr {

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool RunGuarded(const std::function<bool()> &deliver)
{
    try {
        return deliver();
    } catch (const std::exception &e) {
        TApplication::ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        TApplication::ShowError(QString());
    }
    return false;
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    return RunGuarded([&] { return QApplication::notify(receiver, event); });
}

void TApplication::ShowError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("QVR 1 - PC"), message, QMessageBox::Ok);
    box.exec();
}

void SetUpApplication()
{
    // Only a name: a display name would be appended to every window's title.
    // The application title captions the error display alone.
    QCoreApplication::setApplicationName(QStringLiteral("qvr1pc"));
    RegisterWindowFonts();
    QApplication::setFont(QFont(QStringLiteral("Tahoma"), 8));
}

void StartWindow(TFMain &window)
{
    // An error during start-up is shown and skips the remaining steps; the
    // window opens and runs all the same.
    RunGuarded([&] {
        window.FormCreate();
        return true;
    });
    window.show();
}

int RunApplication(int &argc, char **argv, const LibraryFactory &makeLibrary)
{
    try {
        TApplication app(argc, argv);
        SetUpApplication();
        std::unique_ptr<ID2xx> library;
        std::unique_ptr<TFMain> FMain;
        bool stopRequested = false;
        // A request to stop closes the window as its close button does (the
        // settings are saved), then leaves every running loop, a message
        // box's included.
        const TTerminationSignals stopSignals([&](int) {
            stopRequested = true;
            if (FMain)
                FMain->close();
            TApplication::exit(0);
        });
        RunGuarded([&] {
            const QString configPath = SettingsPath(TApplication::applicationDirPath());
            library = makeLibrary(configPath);
            FMain = std::make_unique<TFMain>(*library, configPath);
            StartWindow(*FMain);
            if (!stopRequested)
                TApplication::exec();
            return true;
        });
    } catch (...) {
        // Without an application object there is nothing to show the error on.
    }
    return 0;
}

} // namespace qvr
