// SPDX-License-Identifier: MIT
#include "bench/device/LargestImage.h"
#include "device/Catalogue.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

struct TempFile {
    std::string path;
    explicit TempFile(const char* name)
        : path((std::filesystem::temp_directory_path() /
                ("korvalin-bench-" + std::to_string(::getpid()) + "-" + name)).string()) {}
    ~TempFile() { std::filesystem::remove(path); }
};

void loadLargest(benchmark::State& state) {
    TempFile file("load.hex");
    largestImage().saveHex(file.path, true, 0x3FFF);
    MemoryImage image;
    image.resize(8192, 0x3FFF, 256);
    image.setFamily(2);
    for (auto _ : state) {
        if (!image.loadHex(file.path)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.programWords.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(file.path)));
}
BENCHMARK(loadLargest)->Unit(benchmark::kMicrosecond);

// The whole save: text, temporary file, flush to the disk, rename.
void saveLargest(benchmark::State& state) {
    TempFile file("save.hex");
    const MemoryImage image = largestImage();
    for (auto _ : state)
        if (!image.saveHex(file.path, true, 0x3FFF)) state.SkipWithError("save failed");
}
BENCHMARK(saveLargest)->Unit(benchmark::kMicrosecond);

void formatLargest(benchmark::State& state) {
    const MemoryImage image = largestImage();
    for (auto _ : state) benchmark::DoNotOptimize(image.hexText(true, 0x3FFF));
}
BENCHMARK(formatLargest)->Unit(benchmark::kMicrosecond);

// What a device selection costs: the names for the list, then the line of the last device.
void selectFromCatalogue(benchmark::State& state, const std::string& path) {
    CatalogueNames names = readCatalogueNames(path);
    if (!names.opened || names.names.empty()) {
        state.SkipWithError("no catalogue");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(readCatalogueNames(path));
        benchmark::DoNotOptimize(findCatalogueDevice(path, names.names.back()));
    }
    state.counters["devices"] = double(names.names.size());
}

void shippedCatalogue(benchmark::State& state) {
    selectFromCatalogue(state, KORVALIN_CATALOGUE_FILE);
}
BENCHMARK(shippedCatalogue)->Unit(benchmark::kMicrosecond);

void generatedCatalogue(benchmark::State& state) {
    TempFile file("catalogue.txt");
    {
        std::ofstream out(file.path, std::ios::binary);
        out << "; generated\r\n";
        for (int i = 0; i < state.range(0); ++i)
            out << "PIC16F" << i << "\t8192:14\t256\t[CP][x][DEBUG][WRT1][WRT0][CPD][LVP][BOREN][x][x]"
                   "[PWRTEn][WDTE][FOSC1][FOSC0]\t40\t0\t2\t0\t1\t0\t4\t8\t:\t0E20:3FF0\t\r\n";
    }
    selectFromCatalogue(state, file.path);
}
BENCHMARK(generatedCatalogue)->Arg(18)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
