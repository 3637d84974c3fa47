// The window's words for what the libraries report.
#include "measure/parameters.h"
#include "ui/texts.h"

#include <gtest/gtest.h>

namespace {

using namespace qvr::text;
using Bytes = std::vector<std::uint8_t>;

TEST(TrafficLines, TxAndRxListEveryByteWithATrailingSpace)
{
    const Bytes request{0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
    EXPECT_EQ(TxLine(request.data(), request.size()),
              QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
    const Bytes reply{0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D};
    EXPECT_EQ(RxLine(reply.data(), reply.size()), QStringLiteral("RX: 32 03 02 01 2C BC 0D "));
    EXPECT_EQ(RxLine(reply.data(), 0), QStringLiteral("RX: "));
}

TEST(TrafficLines, ErrorShowsTheSignExtendedResult)
{
    const std::pair<int, const char *> rows[] = {
        {-1, "Error: FFFFFFFF"},  {2, "Error: 02"},         {0x0B, "Error: 0B"},
        {0x7F, "Error: 7F"},      {-128, "Error: FFFFFF80"}, {0x83 - 256, "Error: FFFFFF83"},
    };
    for (const auto &[result, text] : rows)
        EXPECT_EQ(ErrorLine(static_cast<std::int8_t>(result)), QString::fromLatin1(text)) << text;
}

TEST(TrafficLines, Colours)
{
    EXPECT_EQ(kTxColor, QColor(109, 178, 49));
    EXPECT_EQ(kRxColor, QColor(24, 142, 214));
    EXPECT_EQ(kErrorColor, QColor(123, 40, 42));
}

TEST(Confirmations, EchoedRegistersHaveTheirTexts)
{
    EXPECT_EQ(WriteConfirmation(1), QStringLiteral("Parametr [OC_ON_OFF] został zapisany"));
    EXPECT_EQ(WriteConfirmation(2), QStringLiteral("Parametr [OC_ON_MIN] został zapisany"));
    EXPECT_EQ(WriteConfirmation(3), QStringLiteral("Parametr [OC_ON_MAX] został zapisany"));
    EXPECT_EQ(WriteConfirmation(10), QStringLiteral("Parametr [OC_MODE] został zapisany"));
    for (int reg : {0, 4, 9, 11, 255})
        EXPECT_EQ(WriteConfirmation(static_cast<std::uint8_t>(reg)), std::nullopt) << reg;
}

} // namespace
