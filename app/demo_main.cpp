// The same program on the simulated sensor bus.
#include "app/application.h"
#include "sim/simbus.h"

int main(int argc, char **argv)
{
    return qvr::RunApplication(
        argc, argv, [](const QString &) { return std::make_unique<qvr::TSimulatedBus>(); });
}
