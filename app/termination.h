// Ending the program the Linux way: SIGTERM (the session ends, a service
// manager stops the program), SIGINT (Ctrl+C in its terminal) and SIGHUP (its
// terminal goes) are each taken as a request to close the window.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qvr {

// Catches the three signals from here on, also before any application object
// exists: the handler only writes the signal's number to a pipe, to be read
// on the window's thread. The first signal taken makes the handler ignore
// the three until the process ends, so a second one cannot cut the close
// short. Call first thing in main; calling it again re-arms the handler.
void CatchTerminationSignals();

// Hands the caught signals to `onSignal` on the event loop, with no signal
// handler on the stack; a signal caught before the object existed is handed
// over on the first pass of the loop (or by TakePending). One object at a
// time; it needs the application object.
class TTerminationSignals : public QObject {
public:
    explicit TTerminationSignals(std::function<void(int signal)> onSignal);
    ~TTerminationSignals() override;

    TTerminationSignals(const TTerminationSignals &) = delete;
    TTerminationSignals &operator=(const TTerminationSignals &) = delete;

    // Whether the pipe and the handlers are in place.
    bool Installed() const { return notifier_ != nullptr; }
    // Hands over what was caught so far, now.
    void TakePending() { Drain(); }

private:
    void Drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace qvr
