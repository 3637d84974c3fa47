// Codec tests. Expected frames are published Modbus RTU check values; CRCs of
// frames without a published value come from the plain bitwise algorithm below.
#include "link/codec.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace qvr;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Modbus CRC-16 bit by bit: independent of the tables under test.
std::uint16_t BitwiseCrc(const Bytes &data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

Bytes WithCrc(Bytes frame)
{
    const std::uint16_t crc = BitwiseCrc(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

std::string HexName(const Bytes &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string name;
    for (std::uint8_t b : bytes) {
        if (!name.empty())
            name += '_';
        name += digits[b >> 4];
        name += digits[b & 0x0F];
    }
    return name;
}

// --- CRC -------------------------------------------------------------------

struct CrcRow {
    Bytes message;
    std::uint8_t first, second; // CRC bytes in wire order
};

class CrcCheckValues : public ::testing::TestWithParam<CrcRow> {};

TEST_P(CrcCheckValues, GivesPublishedBytes)
{
    const CrcRow &row = GetParam();
    const std::uint16_t crc = Crc16(row.message.data(), row.message.size());
    EXPECT_EQ(crc & 0xFF, row.first);
    EXPECT_EQ(crc >> 8, row.second);
    EXPECT_EQ(BitwiseCrc(row.message), crc);
}

INSTANTIATE_TEST_SUITE_P(
    Published, CrcCheckValues,
    ::testing::Values(CrcRow{{0x32, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x81, 0xC9},
                      CrcRow{{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x84, 0x0A},
                      CrcRow{{0x33, 0x06, 0x00, 0x0A, 0x00, 0x02}, 0x2C, 0x1B},
                      CrcRow{{0x32, 0x60, 0x00, 0xFF, 0x00, 0x00}, 0xB4, 0x31},
                      CrcRow{{0x32, 0x06, 0x00, 0x01, 0x02, 0x00}, 0xDC, 0xA9},
                      CrcRow{{0x32, 0x06, 0x00, 0x0A, 0x00, 0x01}, 0x6D, 0xCB},
                      // the CRC catalogue's check value for "123456789": 0x4B37
                      CrcRow{{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x37, 0x4B}),
    [](const auto &info) { return HexName(info.param.message); });

// A one-byte message b indexes both tables at 0xFF ^ b, so the 256 single
// bytes pin every table entry; the two-byte messages also exercise the carry
// from one step into the next.
TEST(Crc16, MatchesBitwiseForAllOneAndTwoByteMessages)
{
    for (int a = 0; a < 256; ++a) {
        const Bytes one{static_cast<std::uint8_t>(a)};
        ASSERT_EQ(Crc16(one.data(), 1), BitwiseCrc(one)) << "byte " << a;
        for (int b = 0; b < 256; ++b) {
            const Bytes two{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
            ASSERT_EQ(Crc16(two.data(), 2), BitwiseCrc(two)) << "bytes " << a << " " << b;
        }
    }
}

TEST(Crc16, EmptyMessageIsTheInitialValue)
{
    const std::uint8_t none[1] = {};
    EXPECT_EQ(Crc16(none, 0), 0xFFFF);
}

// --- Requests --------------------------------------------------------------

struct RequestRow {
    std::uint8_t address, function;
    std::uint16_t w1, w2, w3;
    Bytes expected;
};

class Requests : public ::testing::TestWithParam<RequestRow> {};

TEST_P(Requests, HaveTheirLayoutAndCrc)
{
    const RequestRow &row = GetParam();
    std::uint8_t out[kMaxRequestSize + 4];
    std::memset(out, 0xEE, sizeof out);
    const std::size_t n = BuildRequest(out, row.address, row.function, row.w1, row.w2, row.w3);
    ASSERT_EQ(n, row.expected.size());
    EXPECT_EQ(Bytes(out, out + n), row.expected);
    for (std::size_t i = n; i < sizeof out; ++i)
        EXPECT_EQ(out[i], 0xEE) << "wrote past the frame at " << i;
}

// Words that a function code does not use are set to junk: they must not leak in.
INSTANTIATE_TEST_SUITE_P(
    Published, Requests,
    ::testing::Values(
        RequestRow{0x32, 3, 0, 1, 0xBEEF, {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9}},
        RequestRow{0x01, 3, 0, 1, 0xBEEF, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}},
        RequestRow{0x33, 6, 10, 0xBEEF, 2, {0x33, 0x06, 0x00, 0x0A, 0x00, 0x02, 0x2C, 0x1B}},
        RequestRow{0x32, 6, 1, 0xBEEF, 0x0200, {0x32, 0x06, 0x00, 0x01, 0x02, 0x00, 0xDC, 0xA9}},
        RequestRow{0x32, 6, 10, 0xBEEF, 1, {0x32, 0x06, 0x00, 0x0A, 0x00, 0x01, 0x6D, 0xCB}},
        RequestRow{
            0x32, 0x60, 0x1234, 0x5678, 0x9ABC, {0x32, 0x60, 0x00, 0xFF, 0x00, 0x00, 0xB4, 0x31}}),
    [](const auto &info) { return HexName(info.param.expected); });

TEST(Requests, OtherFunctionCodesCarryNoFields)
{
    for (std::uint8_t function : {0x00, 0x04, 0x10, 0x83, 0xFF}) {
        std::uint8_t out[kMaxRequestSize] = {};
        const std::size_t n = BuildRequest(out, 0x32, function, 0x1111, 0x2222, 0x3333);
        EXPECT_EQ(Bytes(out, out + n), WithCrc({0x32, function})) << int(function);
    }
}

// --- Receiving and decoding ------------------------------------------------

class Decode : public ::testing::Test {
protected:
    void Feed(const Bytes &bytes)
    {
        for (std::uint8_t b : bytes)
            rx.AppendRxByte(b);
    }
    std::int8_t DecodeGoodReply()
    {
        Feed(kGoodReply);
        return rx.DecodeFrame();
    }

    const Bytes kGoodReply{0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D};
    TRxFrame rx;
};

TEST_F(Decode, ReadReplyFillsTheFields)
{
    ASSERT_EQ(DecodeGoodReply(), 0);
    EXPECT_EQ(rx.RxAddress, 0x32);
    EXPECT_EQ(rx.RxFunction, 0x03);
    EXPECT_EQ(rx.RxByteCount, 2);
    EXPECT_EQ(rx.RxData[0], 0x01);
    EXPECT_EQ(rx.RxData[1], 0x2C);
    EXPECT_EQ(rx.RxCount, 0);
    // The buffer is not cleared: its bytes still make the RX line.
    EXPECT_EQ(Bytes(rx.RxBuffer, rx.RxBuffer + 7), kGoodReply);
}

TEST_F(Decode, WriteEchoPutsRegisterLowAndValueInData)
{
    Feed({0x32, 0x06, 0x00, 0x0A, 0x00, 0x01, 0x6D, 0xCB});
    ASSERT_EQ(rx.DecodeFrame(), 0);
    EXPECT_EQ(rx.RxFunction, 0x06);
    EXPECT_EQ(rx.RxByteCount, 0x00);
    EXPECT_EQ(Bytes(rx.RxData, rx.RxData + 3), (Bytes{0x0A, 0x00, 0x01}));
}

TEST_F(Decode, FollowingFrameStartsAtTheBufferStart)
{
    ASSERT_EQ(DecodeGoodReply(), 0);
    Feed({0x32, 0x83, 0x02, 0x30, 0xFE});
    EXPECT_EQ(rx.DecodeFrame(), 2);
    EXPECT_EQ(rx.RxFunction, 0x83);
    EXPECT_EQ(rx.RxByteCount, 2);
    EXPECT_EQ(rx.RxData[0], 0x01) << "an exception reply carries no data";
}

TEST_F(Decode, ExceptionCodeIsSigned)
{
    Feed(WithCrc({0x32, 0x83, 0x83}));
    EXPECT_EQ(rx.DecodeFrame(), static_cast<std::int8_t>(0x83));
}

TEST_F(Decode, ZeroExceptionByteIsAGoodFrameWithOldData)
{
    ASSERT_EQ(DecodeGoodReply(), 0);
    Feed(WithCrc({0x33, 0x83, 0x00}));
    EXPECT_EQ(rx.DecodeFrame(), 0);
    EXPECT_EQ(rx.RxAddress, 0x33);
    EXPECT_EQ(rx.RxByteCount, 0);
    EXPECT_EQ(rx.RxData[0], 0x01);
    EXPECT_EQ(rx.RxData[1], 0x2C);
}

TEST_F(Decode, SeventyBytesKeepTheFirst63AndTheLast)
{
    Bytes sent;
    for (int i = 1; i <= 70; ++i)
        sent.push_back(static_cast<std::uint8_t>(i));
    Feed(sent);
    ASSERT_EQ(rx.RxCount, 64);
    for (int i = 0; i < 63; ++i)
        EXPECT_EQ(rx.RxBuffer[i], i + 1);
    EXPECT_EQ(rx.RxBuffer[63], 70);
    EXPECT_EQ(rx.DecodeFrame(), -1);
    EXPECT_EQ(rx.RxCount, 0);
}

// A frame that fails leaves the fields of the last good frame in place.
struct BadFrame {
    const char *name;
    Bytes bytes;
};

class DecodeFailure : public Decode, public ::testing::WithParamInterface<BadFrame> {};

TEST_P(DecodeFailure, GivesMinusOneAndKeepsTheLastGoodFields)
{
    ASSERT_EQ(DecodeGoodReply(), 0);
    Feed(GetParam().bytes);
    EXPECT_EQ(rx.DecodeFrame(), -1);
    EXPECT_EQ(rx.RxCount, 0);
    EXPECT_EQ(rx.RxAddress, 0x32);
    EXPECT_EQ(rx.RxFunction, 0x03);
    EXPECT_EQ(rx.RxByteCount, 2);
    EXPECT_EQ(rx.RxData[0], 0x01);
    EXPECT_EQ(rx.RxData[1], 0x2C);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeFailure,
    ::testing::Values(BadFrame{"Empty", {}}, BadFrame{"FourBytes", {0x33, 0x83, 0x02, 0x30}},
                      BadFrame{"CrcLowAltered", {0x33, 0x03, 0x02, 0x01, 0x2C, 0xBD, 0x0D}},
                      BadFrame{"CrcHighAltered", {0x33, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0C}},
                      BadFrame{"DataAltered", {0x32, 0x03, 0x02, 0x01, 0x2D, 0xBC, 0x0D}},
                      BadFrame{"ExceptionCrcAltered", {0x32, 0x83, 0x02, 0x31, 0xFE}}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Traffic log lines -----------------------------------------------------

TEST(LogLines, TxAndRxListEveryByteWithATrailingSpace)
{
    const Bytes request{0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
    EXPECT_EQ(TxLine(request.data(), request.size()),
              QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
    const Bytes reply{0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D, 0xFF, 0xA0};
    EXPECT_EQ(RxLine(reply.data(), reply.size()),
              QStringLiteral("RX: 32 03 02 01 2C BC 0D FF A0 "));
    EXPECT_EQ(RxLine(reply.data(), 0), QStringLiteral("RX: "));
}

struct ErrorRow {
    int result;
    const char *text;
};

class ErrorLines : public ::testing::TestWithParam<ErrorRow> {};

TEST_P(ErrorLines, ShowTheSignExtendedResult)
{
    EXPECT_EQ(ErrorLine(static_cast<std::int8_t>(GetParam().result)),
              QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Results, ErrorLines,
                         ::testing::Values(ErrorRow{-1, "Error: FFFFFFFF"},
                                           ErrorRow{2, "Error: 02"}, ErrorRow{0x0B, "Error: 0B"},
                                           ErrorRow{0x7F, "Error: 7F"},
                                           ErrorRow{-128, "Error: FFFFFF80"},
                                           ErrorRow{0x83 - 256, "Error: FFFFFF83"}),
                         [](const auto &info) { return std::string(info.param.text + 7); });

TEST(LogLines, Colours)
{
    EXPECT_EQ(kTxColor, QColor(109, 178, 49));
    EXPECT_EQ(kRxColor, QColor(24, 142, 214));
    EXPECT_EQ(kErrorColor, QColor(123, 40, 42));
}

} // namespace
