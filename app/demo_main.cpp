// The same program on the simulated sensor bus.
#include "app/application.h"
#include "sim/simbus.h"
#include "ui/texts.h"

int main(int argc, char **argv)
{
    return qvr::RunApplication(argc, argv, [](const QString &) {
        auto bus = std::make_unique<qvr::TSimulatedBus>();
        bus->SetDescription(qvr::text::kSimulatedBus.toStdString());
        return bus;
    });
}
