// Settings files for window tests, each new and in a folder that lives as
// long as the test program: no test reads or writes a config.ini beside the
// test program.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace qvr::test {

// A new config.ini holding `text`. The default, the [Options] header alone,
// loads with the three automatic options off, every save flag ticked and
// index 0 in every list.
inline QString SettingsFile(const QByteArray &text = "[Options]\n")
{
    static QTemporaryDir dir;
    static int files = 0;
    const QString path = dir.filePath(QStringLiteral("config%1.ini").arg(++files));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

} // namespace qvr::test
