// Codec costs per reply and per request: CRC + decode of a 7-byte read reply,
// and building a poll request with its TX line.
#include "link/codec.h"

#include <benchmark/benchmark.h>

namespace {

void BM_DecodeReadReply(benchmark::State &state)
{
    const std::uint8_t reply[] = {0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D};
    qvr::TDecodedFrame frame;
    for (auto _ : state) {
        frame = qvr::DecodeFrame(reply, sizeof reply, sizeof reply);
        benchmark::DoNotOptimize(frame);
        benchmark::ClobberMemory();
    }
    if (frame.RxData[1] != 0x2C)
        state.SkipWithError("reply did not decode");
}
BENCHMARK(BM_DecodeReadReply);

void BM_Crc16ReadReply(benchmark::State &state)
{
    std::uint8_t reply[] = {0x32, 0x03, 0x02, 0x01, 0x2C};
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply);
        benchmark::DoNotOptimize(qvr::Crc16(reply, sizeof reply));
    }
}
BENCHMARK(BM_Crc16ReadReply);

void BM_BuildRequestAndTxLine(benchmark::State &state)
{
    std::uint8_t frame[qvr::kMaxRequestSize];
    std::uint8_t address = 50;
    for (auto _ : state) {
        const std::size_t n = qvr::BuildRequest(frame, address, 3, 0, 1, 0);
        QString line = qvr::HexLine("TX: ", frame, n);
        benchmark::DoNotOptimize(line);
        address = address == 65 ? 50 : address + 1;
    }
}
BENCHMARK(BM_BuildRequestAndTxLine);

} // namespace
