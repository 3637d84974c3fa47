#include "texts.h"

#include "link/codec.h"
#include "measure/parameters.h"

#include <QDir>

namespace qvr::text {

std::optional<QString> WriteConfirmation(std::uint8_t registerLow)
{
    switch (registerLow) {
    case kRegisterOnOff:
        return QStringLiteral("Parametr [OC_ON_OFF] został zapisany");
    case kRegisterOnMin:
        return QStringLiteral("Parametr [OC_ON_MIN] został zapisany");
    case kRegisterOnMax:
        return QStringLiteral("Parametr [OC_ON_MAX] został zapisany");
    case kRegisterMode:
        return QStringLiteral("Parametr [OC_MODE] został zapisany");
    default:
        return std::nullopt;
    }
}

QString SensorRowTitle(int address)
{
    return QStringLiteral("ID [%1]").arg(address);
}

QString SeriesTitle(int address)
{
    return QStringLiteral("Czujnik [ID %1]").arg(address);
}

QString TxLine(const std::uint8_t *frame, std::size_t length)
{
    return HexLine("TX: ", frame, length);
}

QString RxLine(const std::uint8_t *frame, std::size_t length)
{
    return HexLine("RX: ", frame, length);
}

QString ErrorLine(std::int8_t result)
{
    const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(result));
    return QStringLiteral("Error: ") + QString::number(value, 16).toUpper().rightJustified(2, u'0');
}

QColor SeriesColour(int index)
{
    static constexpr QRgb kColours[] = {0xFF0000, 0x008000, 0xFF8000, 0x400080, 0x400000, 0x808000,
                                        0xFF0080, 0x00FF00, 0x004000, 0x0080FF, 0x400080, 0x408080,
                                        0x00FFFF, 0x8080C0, 0xFFFF00, 0x0000FF};
    return QColor::fromRgb(kColours[index]);
}

namespace {

QString FileError(const char *what, const QString &path, const QString &reason)
{
    return QStringLiteral("%1 %2: %3")
        .arg(QString::fromUtf8(what), QDir::toNativeSeparators(path), reason);
}

} // namespace

QString SettingsReadError(const QString &path, const QString &reason)
{
    return FileError("Nie można odczytać pliku", path, reason);
}

QString SettingsWriteError(const QString &path, const QString &reason)
{
    return FileError("Nie można zapisać pliku", path, reason);
}

} // namespace qvr::text
