// Throughput of the MIDI input message parser on device replies: 70-byte DT1 frames of
// the status block (F0 41 7F 00 00 3F 12 01 00 00 <58 data> sum F7), back to back,
// arriving in 256-byte port buffers as the input port hands them over.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "midi/MidiIn.h"
#include "midi/MidiInMsg.h"
#include "midi/MidiInPort.h"
#include "protocol/wire/DeviceBlocks.h"
#include "protocol/wire/DeviceFrames.h"

namespace {

class CReplyCounter : public CMidiInMsg {
public:
    int64_t m_nReplies = 0;
    int64_t m_nBytes = 0;
    void OnOtherSysEx(const uint8_t* /*pMsg*/, int nLen) override {
        ++m_nReplies;
        m_nBytes += nLen;
    }
};

// nFrames status replies back to back. 128 frames make the 256-byte buffer edges fall
// at every possible position inside a frame.
std::vector<uint8_t> ReplyStream(int nFrames) {
    uint8_t abyStatus[qz::kStatusSize];
    for (int i = 0; i < qz::kStatusSize; ++i) abyStatus[i] = static_cast<uint8_t>((i * 37) & 0x7F);
    std::vector<uint8_t> stream;
    uint8_t abyFrame[qz::kStatusSize + 12];
    for (int f = 0; f < nFrames; ++f) {
        abyStatus[0] = static_cast<uint8_t>(f & 0x7F);
        const size_t n = qz::BuildDT1(abyFrame, sizeof abyFrame, 0x7F, qz::kAddrStatus, abyStatus, qz::kStatusSize);
        stream.insert(stream.end(), abyFrame, abyFrame + n);
    }
    return stream;
}

void BM_ParseDeviceReplies(benchmark::State& state) {
    const std::vector<uint8_t> stream = ReplyStream(128);
    const int nFrames = 128;
    CMidiInPort<CReplyCounter> parser;
    for (auto _ : state) {
        for (size_t i = 0; i < stream.size(); i += CMidiIn::kSlotSize) {
            const size_t n = std::min<size_t>(CMidiIn::kSlotSize, stream.size() - i);
            parser.OnLongData(stream.data() + i, static_cast<uint32_t>(n));
        }
        benchmark::ClobberMemory();
    }
    if (parser.m_nReplies != static_cast<int64_t>(state.iterations()) * nFrames ||
        parser.m_nBytes != static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size())) {
        state.SkipWithError("replies lost or cut");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * nFrames);
}
BENCHMARK(BM_ParseDeviceReplies);

}  // namespace

BENCHMARK_MAIN();
