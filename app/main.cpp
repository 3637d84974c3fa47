// QVR-1 PC: the measuring installation's front-end on the real serial ports.
#include "app/application.h"
#include "link/serial_ports.h"

#include <QDir>

int main(int argc, char **argv)
{
    return qvr::RunApplication(argc, argv, [](const QString &exeDir) {
        const QString config = QDir(exeDir).filePath(QStringLiteral("config.ini"));
        return std::make_unique<qvr::TSerialPortLibrary>(config);
    });
}
