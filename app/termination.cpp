#include "termination.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qvr {

#ifdef Q_OS_UNIX
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// Made once and never closed: a handler running at any moment writes to
// this pipe and nothing else, never to a descriptor reused for a file.
int pipeFds[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signal)
{
    // Only async-signal-safe calls here.
    const int saved = errno;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int s : kSignals)
        ::sigaction(s, &ignore, nullptr);
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &number, 1);
    errno = saved;
}

} // namespace

void CatchTerminationSignals()
{
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    // The three block one another while the handler runs, so that only the
    // first of two close together is taken.
    for (const int s : kSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal))
{
    CatchTerminationSignals();
    if (pipeFds[0] < 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TTerminationSignals::Drain);
}

TTerminationSignals::~TTerminationSignals() = default;

void TTerminationSignals::Drain()
{
    unsigned char number = 0;
    while (pipeFds[0] >= 0 && ::read(pipeFds[0], &number, 1) == 1)
        onSignal_(number);
}

#else

// Other systems end the program through their own session messages.
void CatchTerminationSignals() {}
TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal))
{
}
TTerminationSignals::~TTerminationSignals() = default;
void TTerminationSignals::Drain() {}

#endif

} // namespace qvr
