// SPDX-License-Identifier: MIT
#include "programmer/Programmer.h"
#include "programmer/UsbDriver.h"

#include <benchmark/benchmark.h>

#include <cstring>

#ifdef KORVALIN_BENCH_WITH_SIM
#include "sim/SimulatedDriver.h"

#include <chrono>
#endif

namespace {

// Answers every read at once with zeros of the requested length: what is left of an
// exchange's time is the host's own (script building, decoding, bookkeeping).
class NullDriver : public UsbDriver, public UsbPipe {
public:
    uint64_t exchanges = 0;

    int openProgrammer() override { return 1; }
    UsbPipe* openPipe(int, int, int) override { return this; }
    int isRemoved(int) override { return 0; }
    void closeProgrammer(int) override {}

    int write(const uint8_t*, std::size_t length, int) override
    {
        ++exchanges;
        return static_cast<int>(length);
    }
    int read(uint8_t* data, std::size_t length, int) override
    {
        std::memset(data, 0, length);
        return static_cast<int>(length);
    }
};

// PIC16F877A: 8192 words, 256 EEPROM bytes, entry 0, program by rows of 8 after a chip
// erase, EEPROM method 0, configuration family 1, erase by chip erase.
void configure877A(Programmer& p)
{
    p.setGeometry(8192, 0x3FFF, 256);
    p.setMethods(0, 2, 0, 1, 0, 8, 4);
}

void attachTo(Programmer& p, UsbDriver& driver)
{
    p.driver = &driver;
    p.deviceHandle = driver.openProgrammer();
    p.writePipe = driver.openPipe(p.deviceHandle, 0, 1);
    p.readPipe = driver.openPipe(p.deviceHandle, 0, 0);
}

template <bool Program>
void hostTimePerExchange(benchmark::State& state)
{
    NullDriver driver;
    Programmer p;
    configure877A(p);
    attachTo(p, driver);
    for (auto _ : state) {
        const bool ok = Program ? p.programAll() : p.readAll();
        benchmark::DoNotOptimize(ok);
    }
    // Reported as the time of one exchange: seconds per exchange, shown in us.
    state.counters["per_exchange"] =
        benchmark::Counter(static_cast<double>(driver.exchanges), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["exchanges_per_op"] = static_cast<double>(driver.exchanges) / static_cast<double>(state.iterations());
}

BENCHMARK_TEMPLATE(hostTimePerExchange, false)->Name("host/readAll_16F877A")->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(hostTimePerExchange, true)->Name("host/programAll_16F877A")->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

#ifdef KORVALIN_BENCH_WITH_SIM
// Against the simulator's real-time model, which answers each script 1 ms after it was written
// plus the script's own modelled time. The model's lower bound for a whole operation is the
// sum of those; wall_over_model is the operation's wall time over that bound (1.0 at best).
template <bool Program>
void realTimeAgainstModel(benchmark::State& state)
{
    SimConfig config;
    config.chip = "PIC16F877A";
    config.realTime = true;
    SimulatedDriver driver(config);
    Programmer p;
    configure877A(p);
    attachTo(p, driver);
    p.selectSocket(40);
    double ratioSum = 0;
    double boundSum = 0;
    double overSum = 0;
    for (auto _ : state) {
        const double modelBefore = driver.virtualMicroseconds();
        const uint64_t exchangesBefore = driver.exchangeCount();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Program ? p.programAll() : p.readAll();
        const auto wall = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        if (!ok) {
            state.SkipWithError("transfer failed");
            break;
        }
        const double bound = 1000.0 * static_cast<double>(driver.exchangeCount() - exchangesBefore) +
                             (driver.virtualMicroseconds() - modelBefore);
        ratioSum += wall / bound;
        boundSum += bound;
        overSum += (wall - bound) / static_cast<double>(driver.exchangeCount() - exchangesBefore);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["model_bound_ms"] = boundSum / n / 1000.0;
    state.counters["wall_over_model"] = ratioSum / n;
    // Time past the model per exchange: the host's own share (see host/...) plus how late the
    // simulator's timed wait wakes up.
    state.counters["over_us_per_exchange"] = overSum / n;
}

BENCHMARK_TEMPLATE(realTimeAgainstModel, false)->Name("realtime/readAll_16F877A")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_TEMPLATE(realTimeAgainstModel, true)->Name("realtime/programAll_16F877A")->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

} // namespace

BENCHMARK_MAIN();
