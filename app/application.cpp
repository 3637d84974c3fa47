#include "application.h"

#include "ui/Main.h"
#include "ui/fonts.h"

#include <QMessageBox>
#include <exception>

namespace qvr {

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool RunGuarded(const std::function<bool()> &deliver)
{
    try {
        return deliver();
    } catch (const std::exception &e) {
        TApplication::ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        TApplication::ShowError(QString());
    }
    return false;
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    return RunGuarded([&] { return QApplication::notify(receiver, event); });
}

void TApplication::ShowError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("QVR 1 - PC"), message, QMessageBox::Ok);
    box.exec();
}

int RunApplication(int &argc, char **argv, const LibraryFactory &makeLibrary)
{
    try {
        TApplication app(argc, argv);
        TApplication::setApplicationName(QStringLiteral("qvr1pc"));
        TApplication::setApplicationDisplayName(QStringLiteral("QVR 1 - PC"));
        RegisterWindowFonts();
        QApplication::setFont(QFont(QStringLiteral("Tahoma"), 8));
        std::unique_ptr<ID2xx> library;
        std::unique_ptr<TFMain> FMain;
        RunGuarded([&] {
            library = makeLibrary(TApplication::applicationDirPath());
            FMain = std::make_unique<TFMain>(*library);
            FMain->show();
            TApplication::exec();
            return true;
        });
    } catch (...) {
        // Without an application object there is nothing to show the error on.
    }
    return 0;
}

} // namespace qvr
