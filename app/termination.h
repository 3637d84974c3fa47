// Ending the program the Linux way: SIGTERM (the session ends, a service
// manager stops the program), SIGINT (Ctrl+C in its terminal) and SIGHUP (its
// terminal goes) are each taken as the operator closing the window.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qvr {

// While an object of this class lives, the three signals are caught. The
// handler only writes the signal's number to a pipe; `onSignal` runs later
// on the window's thread, from the event loop, with no signal handler on
// the stack. One object at a time.
class TTerminationSignals : public QObject {
public:
    explicit TTerminationSignals(std::function<void(int signal)> onSignal);
    ~TTerminationSignals() override;

    TTerminationSignals(const TTerminationSignals &) = delete;
    TTerminationSignals &operator=(const TTerminationSignals &) = delete;

    // Whether the pipe and the handlers are in place.
    bool Installed() const { return notifier_ != nullptr; }

private:
    void Drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace qvr
