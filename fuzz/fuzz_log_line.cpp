// The measurement log line for any field switches, sensor count index
// (-1 and out of range too), readings (kNoReading and past full scale) and
// coefficient text.
//
// Input: locale, field bits, sensor count index (signed byte), day (2 bytes),
// time of day (4 bytes), sixteen readings each a tag byte (0 kNoReading,
// 1 within 0..1023, 2 a 16-bit value, 3 a 32-bit value) and its bytes, then
// the coefficient text (UTF-8).
#include "fuzz_common.h"

using namespace qvr;
using namespace qvr::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TInput in(data, size);
    PickRegionalLocale(in.Byte());
    const std::uint8_t bits = in.Byte();
    const TLogFields fields = LogFieldsFrom(bits);
    const int sensorCountIndex = static_cast<std::int8_t>(in.Byte());
    // 1900-01-01 and some two centuries on; any time of day.
    const QDate day = QDate::fromJulianDay(2415021 + in.Number(2) % 73000);
    const QTime time = QTime(0, 0).addMSecs(static_cast<int>(in.Number(4) % 86400000));

    TReadings readings{};
    for (std::uint32_t &entry : readings) {
        switch (in.Byte() & 3) {
        case 0:
            entry = kNoReading;
            break;
        case 1:
            entry = in.Number(2) % (kFullScale + 1);
            break;
        case 2:
            entry = in.Number(2);
            break;
        default:
            entry = in.Number(4);
            break;
        }
    }
    const QString coeff = QString::fromUtf8(in.Rest());

    const QByteArray line =
        BuildLogLine(fields, QDateTime(day, time), sensorCountIndex, readings, coeff);
    CheckLogLine(line, fields, sensorCountIndex, readings, coeff);
    return 0;
}
