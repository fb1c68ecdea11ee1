// SPDX-License-Identifier: MIT
// What one simulated exchange costs in host time, and how much chip time the model counts for it.

#include "sim/SimulatedDriver.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

struct Bench {
    SimulatedDriver sim;
    int handle;
    UsbPipe* out;
    UsbPipe* in;
    explicit Bench(const char* chip) : sim(config(chip)), handle(sim.openProgrammer()),
        out(sim.openPipe(handle, 0, 1)), in(sim.openPipe(handle, 0, 0)) {}
    static SimConfig config(const char* chip) {
        SimConfig c;
        c.chip = chip;
        return c;
    }
    void exchange(const std::vector<uint8_t>& script, std::size_t length) {
        uint8_t answer[65];
        out->write(script.data(), script.size(), 1000);
        in->read(answer, length, 1000);
    }
};

// A 16-word read block: the host's commonest script.
void BM_ReadBlockExchange(benchmark::State& state) {
    Bench b("PIC16F877A");
    b.exchange({0x80, 0x08, 0x80, 0x00, 0x80, 0x02, 0x80, 0x0B, 0x80, 0x05, 0x80, 0x04, 0x80, 0x0A}, 10);
    std::vector<uint8_t> block;
    for (int i = 0; i < 16; ++i) block.insert(block.end(), {0x84, 0x04, 0x82, 0x06});
    const double start = b.sim.virtualMicroseconds();
    for (auto _ : state) b.exchange(block, 64);
    state.counters["model_us_per_exchange"] =
        (b.sim.virtualMicroseconds() - start) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadBlockExchange);

// An 8-word row load and its commit, as programming by blocks sends them.
void BM_RowWriteExchanges(benchmark::State& state) {
    Bench b("PIC16F877A");
    b.exchange({0x80, 0x08, 0x80, 0x00, 0x80, 0x02, 0x80, 0x0B, 0x80, 0x05, 0x80, 0x04, 0x80, 0x0A}, 10);
    std::vector<uint8_t> load;
    for (int i = 0; i < 8; ++i) {
        load.insert(load.end(), {0x83, 0x02, static_cast<uint8_t>(i << 1), 0x10});
        if (i < 7) load.insert(load.end(), {0x82, 0x06});
    }
    const std::vector<uint8_t> commit = {0x82, 0x18, 0x81, 0x00, 0xBF, 0xE0, 0x82, 0x17, 0x82, 0x06};
    const double start = b.sim.virtualMicroseconds();
    for (auto _ : state) {
        b.exchange(load, 64);
        b.exchange(commit, 10);
    }
    state.counters["model_us_per_row"] =
        (b.sim.virtualMicroseconds() - start) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RowWriteExchanges);

// A bulk erase of the largest part: the model touches every word.
void BM_ChipErase8K(benchmark::State& state) {
    Bench b("PIC16F877A");
    b.exchange({0x80, 0x08, 0x80, 0x00, 0x80, 0x02, 0x80, 0x0B, 0x80, 0x05, 0x80, 0x04, 0x80, 0x0A}, 10);
    for (auto _ : state) b.exchange({0x82, 0x1F, 0x81, 0x00, 0x7F, 0xC1, 0x82, 0x06}, 10);
}
BENCHMARK(BM_ChipErase8K);

} // namespace

BENCHMARK_MAIN();
