#include "fonts.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>

namespace qvr {

bool RegisterWindowFonts()
{
    static const char *const kFaces[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                         "/usr/share/wine/fonts/tahomabd.ttf"};
    bool registered = false;
    for (const char *face : kFaces) {
        if (QFile::exists(QString::fromLatin1(face)) &&
            QFontDatabase::addApplicationFont(QString::fromLatin1(face)) >= 0)
            registered = true;
    }
    if (!registered)
        QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"));
    return registered;
}

} // namespace qvr
