// The monotonic clock for shell scripts (bench/figures.sh), the one bus_peer
// stamps its log with.
//   clock_exec                 prints CLOCK_MONOTONIC in ms (three decimals)
//   clock_exec FILE PROG ARG.. writes that time to FILE, then execs PROG
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <time.h>
#include <unistd.h>

namespace {

double NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 1) {
        std::printf("%.3f\n", NowMs());
        return 0;
    }
    if (argc < 3) {
        std::fputs("Usage: clock_exec [FILE PROGRAM [ARGUMENT...]]\n", stderr);
        return 2;
    }
    FILE *stamp = std::fopen(argv[1], "w");
    if (stamp == nullptr) {
        std::fprintf(stderr, "clock_exec: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const double now = NowMs();
    std::fprintf(stamp, "%.3f\n", now);
    if (std::fclose(stamp) != 0) {
        std::fprintf(stderr, "clock_exec: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    ::execvp(argv[2], argv + 2);
    std::fprintf(stderr, "clock_exec: %s: %s\n", argv[2], std::strerror(errno));
    return 127;
}
