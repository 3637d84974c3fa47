#include "application.h"

#include "app/termination.h"
#include "storage/settings.h"
#include "ui/Main.h"
#include "ui/fonts.h"
#include "ui/texts.h"

#include <QMessageBox>
#include <cstdio>
#include <exception>

namespace qvr {

namespace {

// The operator's message for a settings file that could not be read or written.
QString Worded(const TSettingsError &e)
{
    return e.Type() == TSettingsError::Kind::Read ? text::SettingsReadError(e.Path(), e.Reason())
                                                  : text::SettingsWriteError(e.Path(), e.Reason());
}

} // namespace

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool RunGuarded(const std::function<bool()> &deliver)
{
    try {
        return deliver();
    } catch (const TSettingsError &e) {
        TApplication::ShowError(Worded(e));
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

int SaveAtSignal(TFMain &window)
{
    try {
        window.FormClose();
        return 0;
    } catch (const TSettingsError &e) {
        std::fprintf(stderr, "%s\n", Worded(e).toUtf8().constData());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fputs("\n", stderr);
    }
    return 1;
}

int RunApplication(int &argc, char **argv, const LibraryFactory &makeLibrary)
{
    // Before anything else: a stop request in the first milliseconds is
    // taken like any other, never the default end with no save.
    CatchTerminationSignals();
    int exitCode = 0;
    try {
        TApplication app(argc, argv);
        SetUpApplication();
        std::unique_ptr<ID2xx> library;
        std::unique_ptr<TFMain> FMain;
        bool stopRequested = false;
        // A request to stop saves the settings as the close button does, but
        // waits for nobody: a failed save goes to standard error and the exit
        // code, not into a message box. Then every running loop is left, a
        // message box's included; the window is not closed again.
        TTerminationSignals stopSignals([&](int) {
            if (stopRequested)
                return;
            stopRequested = true;
            if (FMain && FMain->isVisible())
                exitCode = SaveAtSignal(*FMain);
            TApplication::exit(exitCode);
        });
        stopSignals.TakePending();
        RunGuarded([&] {
            if (stopRequested)
                return true;
            const QString configPath = SettingsPath(TApplication::applicationDirPath());
            library = makeLibrary(configPath);
            FMain = std::make_unique<TFMain>(*library, configPath);
            StartWindow(*FMain);
            stopSignals.TakePending();
            if (!stopRequested)
                TApplication::exec();
            return true;
        });
    } catch (...) {
        // Without an application object there is nothing to show the error on.
    }
    return exitCode;
}

} // namespace qvr
