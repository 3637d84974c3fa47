// QVR-1 PC: the measuring installation's front-end on the real serial ports.
#include "app/application.h"
#include "link/serial_ports.h"
#include "storage/settings.h"

int main(int argc, char **argv)
{
    return qvr::RunApplication(argc, argv, [](const QString &configPath) {
        // [Adapters] is read afresh at every listing, so an edit takes
        // effect at the next one.
        return std::make_unique<qvr::TSerialPortLibrary>(
            [configPath] { return qvr::AdapterPorts(configPath); });
    });
}
