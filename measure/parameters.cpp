#include "measure/parameters.h"

#include <algorithm>

namespace qvr {

std::optional<int> ParameterValue(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return std::clamp(value, 0, kParameterMax);
}

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

} // namespace qvr
