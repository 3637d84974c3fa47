// Process entry shared by the program and the demo.
#pragma once

#include "link/d2xx.h"

#include <QApplication>

class TFMain;
#include <functional>
#include <memory>

namespace qvr {

// Application object whose error display catches what escapes a handler: a
// message box captioned with the application title, an error icon and the
// error's message (empty for an error that carries none).
class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
    static void ShowError(const QString &message);
};

// Runs `deliver` and returns its result; an exception that escapes it is
// shown with TApplication::ShowError and false is returned.
bool RunGuarded(const std::function<bool()> &deliver);

// Application name and the window's fonts. No display name: Qt would append
// it to every window title.
void SetUpApplication();

// Brings the window up by FormCreate under the error display, then shows it.
void StartWindow(TFMain &window);

// Makes the adapter library the window talks to; given the settings file,
// which also names the serial ports of [Adapters].
using LibraryFactory = std::function<std::unique_ptr<ID2xx>(const QString &configPath)>;

// The settings saved as at close, for a stop signal: a failure is written to
// standard error (the text the error display would show) and gives 1; 0 when
// saved.
int SaveAtSignal(TFMain &window);

// Application title "QVR 1 - PC", the settings file (config.ini beside the
// executable, or in the per-user settings folder where the executable's
// folder cannot hold it), the main window, the message loop. SIGTERM, SIGINT
// and SIGHUP, caught from the first line on, save the settings as the close
// button does and end the program. The exit code is 0, or 1 when a stop
// signal's save failed.
int RunApplication(int &argc, char **argv, const LibraryFactory &makeLibrary);

} // namespace qvr
