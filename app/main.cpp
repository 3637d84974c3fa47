// QVR-1 PC: the measuring installation's front-end on the real serial ports.
#include "app/application.h"
#include "link/serial_ports.h"

int main(int argc, char **argv)
{
    return qvr::RunApplication(argc, argv, [](const QString &configPath) {
        return std::make_unique<qvr::TSerialPortLibrary>(configPath);
    });
}
