// Codec tests. Expected frames are published Modbus RTU check values; CRCs of
// frames without a published value come from the plain bitwise algorithm below.
#include "link/codec.h"
#include "link/receiver.h"

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
    static const char kDigits[] = "0123456789ABCDEF";
    std::string name;
    for (std::uint8_t b : bytes) {
        if (!name.empty())
            name += '_';
        name += kDigits[b >> 4];
        name += kDigits[b & 0x0F];
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

// --- Decoding --------------------------------------------------------------

TDecodedFrame Decode(const Bytes &bytes)
{
    return DecodeFrame(bytes.data(), bytes.size(), bytes.size());
}

Bytes Data(const TDecodedFrame &f)
{
    return Bytes(f.RxData.begin(), f.RxData.begin() + f.DataLength);
}

struct DecodeRow {
    const char *name;
    Bytes bytes;
    int result;
    std::uint8_t address, function, byteCount;
    Bytes data; // only what this frame carried
};

class Decoding : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(Decoding, GivesTheResultAndOnlyThisFramesFields)
{
    const DecodeRow &row = GetParam();
    const TDecodedFrame f = Decode(row.bytes);
    EXPECT_EQ(f.Result, row.result);
    EXPECT_EQ(f.Good(), row.result == 0);
    // Every frame keeps its bytes for the RX line, good or not.
    EXPECT_EQ(Bytes(f.Bytes.begin(), f.Bytes.begin() + f.FrameLength), row.bytes);
    EXPECT_EQ(f.RxAddress, row.address);
    EXPECT_EQ(f.RxFunction, row.function);
    EXPECT_EQ(f.RxByteCount, row.byteCount);
    EXPECT_EQ(Data(f), row.data);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Decoding,
    ::testing::Values(
        DecodeRow{
            "ReadReply", {0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D}, 0, 0x32, 3, 2, {0x01, 0x2C}},
        // A write echo: register high byte in the byte count, then register low and value.
        DecodeRow{"WriteEcho",
                  {0x32, 0x06, 0x00, 0x0A, 0x00, 0x01, 0x6D, 0xCB},
                  0,
                  0x32,
                  6,
                  0,
                  {0x0A, 0x00, 0x01}},
        DecodeRow{"Exception", {0x32, 0x83, 0x02, 0x30, 0xFE}, 2, 0x32, 0x83, 2, {}},
        DecodeRow{
            "ExceptionCodeIsSigned", WithCrc({0x32, 0x83, 0x83}), 0x83 - 256, 0x32, 0x83, 0x83, {}},
        // A zero "exception" byte is a good frame, but carries no data of its own.
        DecodeRow{"ZeroExceptionByte", WithCrc({0x33, 0x83, 0x00}), 0, 0x33, 0x83, 0, {}},
        DecodeRow{"ShortReadReply", WithCrc({0x32, 0x03, 0x00}), 0, 0x32, 3, 0, {}},
        DecodeRow{"Empty", {}, -1, 0, 0, 0, {}},
        DecodeRow{"FourBytes", {0x33, 0x83, 0x02, 0x30}, -1, 0, 0, 0, {}},
        DecodeRow{"CrcLowAltered", {0x33, 0x03, 0x02, 0x01, 0x2C, 0xBD, 0x0D}, -1, 0, 0, 0, {}},
        DecodeRow{"CrcHighAltered", {0x33, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0C}, -1, 0, 0, 0, {}},
        DecodeRow{"DataAltered", {0x32, 0x03, 0x02, 0x01, 0x2D, 0xBC, 0x0D}, -1, 0, 0, 0, {}},
        DecodeRow{"ExceptionCrcAltered", {0x32, 0x83, 0x02, 0x31, 0xFE}, -1, 0, 0, 0, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Receiving, SeventyBytesKeepTheFirst63AndTheLastAndFail)
{
    TReceiver rx;
    for (int i = 1; i <= 70; ++i)
        rx.AppendRxByte(static_cast<std::uint8_t>(i));
    ASSERT_EQ(rx.RxCount(), 64);
    for (int i = 0; i < 63; ++i)
        EXPECT_EQ(rx.RxBuffer()[i], i + 1);
    EXPECT_EQ(rx.RxBuffer()[63], 70);
    EXPECT_EQ(DecodeFrame(rx.RxBuffer().data(), rx.RxCount(), 70).Result, -1);
}

TEST(Receiving, AnOverlongFrameNeverPassesEvenWhenTheKeptBytesCheckOut)
{
    // 63 bytes, then a CRC that the kept 64 bytes happen to satisfy, after
    // bytes that were dropped in the middle.
    Bytes head(62, 0x11);
    head.insert(head.begin(), {0x32, 0x03});
    head.resize(62);
    const Bytes kept = WithCrc(head); // 64 bytes
    EXPECT_EQ(DecodeFrame(kept.data(), kept.size(), kept.size()).Result, 0);
    EXPECT_EQ(DecodeFrame(kept.data(), kept.size(), kept.size() + 6).Result, -1);
}

// --- Traffic log bytes -----------------------------------------------------

TEST(HexLines, ListEveryByteWithATrailingSpace)
{
    const Bytes reply{0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D, 0xFF, 0xA0};
    EXPECT_EQ(HexLine("RX: ", reply.data(), reply.size()),
              QStringLiteral("RX: 32 03 02 01 2C BC 0D FF A0 "));
    EXPECT_EQ(HexLine("RX: ", reply.data(), 0), QStringLiteral("RX: "));
}

} // namespace
