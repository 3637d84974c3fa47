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
int pipeFds[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signal)
{
    // Only async-signal-safe calls here.
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &number, 1);
    errno = saved;
}

} // namespace

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal))
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TTerminationSignals::Drain);
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

TTerminationSignals::~TTerminationSignals()
{
    if (!notifier_)
        return;
    for (const int s : kSignals)
        ::signal(s, SIG_DFL);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void TTerminationSignals::Drain()
{
    unsigned char number = 0;
    while (::read(pipeFds[0], &number, 1) == 1)
        onSignal_(number);
}

#else

// Other systems end the program through their own session messages.
TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal))
{
}
TTerminationSignals::~TTerminationSignals() = default;
void TTerminationSignals::Drain() {}

#endif

} // namespace qvr
