#include "application.h"

#include "ui/Main.h"
#include "ui/fonts.h"

#include <QMessageBox>
#include <exception>

namespace qvr {

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowError(QString());
    }
    return false;
}

void TApplication::ShowError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, applicationDisplayName(), message, QMessageBox::Ok);
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
        try {
            std::unique_ptr<ID2xx> library = makeLibrary(TApplication::applicationDirPath());
            TFMain FMain(*library);
            FMain.show();
            TApplication::exec();
        } catch (const std::exception &e) {
            TApplication::ShowError(QString::fromUtf8(e.what()));
        } catch (...) {
            TApplication::ShowError(QString());
        }
    } catch (...) {
        // Without an application object there is nothing to show the error on.
    }
    return 0;
}

} // namespace qvr
