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

} // namespace qvr
