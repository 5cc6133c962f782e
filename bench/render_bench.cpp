// Thumbnails of the generated 6000 x 4000 frames beside the floor they are
// bound by: reading the same file end to end into a buffer that is already
// allocated and touched. Run: build/native/bench/corvane_bench
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zstd.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/file_reader.h"
#include "formats/image_header.h"
#include "render/instruction_set.h"
#include "render/render_profiles.h"
#include "formats/data_block.h"
#include "samples/fits_samples.h"
#include "samples/xisf_samples.h"

namespace {

const char* const kFiles[] = {
    "starfield-6000x4000-u16.fits",
    "starfield-6000x4000-f32.fits",
    "rggb-6000x4000-u16.fits",
    "rgb-cube-3000x2000-u16.fits",
    "starfield-6000x4000-u16-zstd-sh.xisf",
    "starfield-6000x4000-u16-lz4.xisf",
};
constexpr int kFirstXisf = 4;
constexpr int kLastFile = 5;

std::string samplesFolder() {
    const char* folder = std::getenv("CORVANE_BENCH_SAMPLES");
    return folder != nullptr ? folder : "bench-samples";
}

// Writes the large samples once; later runs reuse them.
void ensureSamples() {
    const std::filesystem::path folder = samplesFolder();
    std::filesystem::create_directories(folder);
    auto samples = cvsamples::fitsSamples(true);
    for (auto& sample : cvsamples::xisfSamples(true)) samples.push_back(std::move(sample));
    for (const auto& sample : samples) {
        if (sample.name.find("6000") == std::string::npos &&
            sample.name.find("3000") == std::string::npos)
            continue;
        const auto path = folder / sample.name;
        if (std::filesystem::exists(path)) continue;
        const std::string bytes = sample.build();
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

std::string pathOf(int index) {
    return (std::filesystem::path(samplesFolder()) / kFiles[index]).string();
}

// Second argument: 0 draws with the baseline loops, 1 with the widest this processor has.
void BM_Thumbnail(benchmark::State& state) {
    const std::string path = pathOf(static_cast<int>(state.range(0)));
    auto reader = cv::FileReader::open(path);
    if (!reader) {
        state.SkipWithError("sample missing");
        return;
    }
    const cv::InstructionSet set =
        state.range(1) == 0 ? cv::InstructionSet::Baseline : cv::bestInstructionSet();
    const cv::InstructionSet previous = cv::useInstructionSet(set);
    std::uint64_t bytesRead = 0;
    for (auto _ : state) {
        cv::ImageData data;
        if (cv::readImageHeader(*reader, data) != cv::ReadStatus::Ok) {
            state.SkipWithError("header not read");
            break;
        }
        cv::RenderOptions options = cv::thumbnailOptions(256, cv::RenderSettings{});
        options.secondThread = true;  // as the Linux tool draws thumbnails
        cv::RgbImage image;
        cv::RenderReport report;
        const auto status =
            cv::renderImage(*reader, data, options, cv::thumbnailBudget(), image, &report);
        benchmark::DoNotOptimize(image.pixels.data());
        if (status != cv::ReadStatus::Ok && status != cv::ReadStatus::Partial)
            state.SkipWithError("render failed");
        bytesRead = report.bytesReadHere;
    }
    cv::useInstructionSet(previous);
    state.SetLabel(std::string(kFiles[state.range(0)]) +
                   (set == cv::InstructionSet::Avx2 ? " avx2" : " baseline"));
    state.counters["MB_read"] = static_cast<double>(bytesRead) / 1e6;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reader->size()));
}

void BM_WholeFileRead(benchmark::State& state) {
    const std::string path = pathOf(static_cast<int>(state.range(0)));
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
    std::vector<unsigned char> buffer(size, 1);  // allocated and touched before timing
    for (auto _ : state) {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::read(descriptor, buffer.data() + done, size - done);
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        ::close(descriptor);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetLabel(kFiles[state.range(0)]);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// The compressed XISF frames' floor and its parts: reading the stored block,
// decoding it with the codec library alone and un-shuffling it, each into
// freshly allocated buffers as the render must.
struct StoredBlock {
    cv::ImageBlock block;
    std::vector<std::uint8_t> bytes;
};

StoredBlock readStoredBlock(const std::string& path) {
    auto reader = cv::FileReader::open(path);
    cv::ImageData data;
    if (!reader || cv::readImageHeader(*reader, data) != cv::ReadStatus::Ok) return {};
    StoredBlock stored{data.image,
                       std::vector<std::uint8_t>(static_cast<std::size_t>(data.image.size))};
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto got = ::pread(descriptor, stored.bytes.data(), stored.bytes.size(),
                             static_cast<off_t>(data.image.position));
    ::close(descriptor);
    if (got != static_cast<ssize_t>(stored.bytes.size())) return {};
    return stored;
}

void decodeWithLibrary(const StoredBlock& stored, std::vector<std::uint8_t>& out) {
    out.assign(static_cast<std::size_t>(stored.block.uncompressedSize), 0);
    if (stored.block.codec == cv::Codec::Zstd) {
        ZSTD_decompress(out.data(), out.size(), stored.bytes.data(), stored.bytes.size());
    } else {
        LZ4_decompress_safe(reinterpret_cast<const char*>(stored.bytes.data()),
                            reinterpret_cast<char*>(out.data()),
                            static_cast<int>(stored.bytes.size()), static_cast<int>(out.size()));
    }
}

void BM_BlockRead(benchmark::State& state) {
    const std::string path = pathOf(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(readStoredBlock(path).bytes.data());
    state.SetLabel(kFiles[state.range(0)]);
}

void BM_BlockDecode(benchmark::State& state) {
    const StoredBlock stored = readStoredBlock(pathOf(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        std::vector<std::uint8_t> out;
        decodeWithLibrary(stored, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(kFiles[state.range(0)]);
}

void BM_BlockUnshuffle(benchmark::State& state) {
    const StoredBlock stored = readStoredBlock(pathOf(static_cast<int>(state.range(0))));
    std::vector<std::uint8_t> decoded;
    decodeWithLibrary(stored, decoded);
    for (auto _ : state) {
        std::vector<std::uint8_t> copy = decoded;
        benchmark::DoNotOptimize(cv::unshuffle(copy, 2));
    }
    state.SetLabel(kFiles[state.range(0)]);
}

// The whole floor in one figure: read, decode and (when shuffled) un-shuffle.
void BM_BlockFloor(benchmark::State& state) {
    const std::string path = pathOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const StoredBlock stored = readStoredBlock(path);
        std::vector<std::uint8_t> out;
        decodeWithLibrary(stored, out);
        if (stored.block.byteShuffled)
            benchmark::DoNotOptimize(cv::unshuffle(out, stored.block.shuffleItemSize));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(kFiles[state.range(0)]);
}

// Sampling and display alone: the render over a block already decoded in memory.
void BM_SamplingAndDisplay(benchmark::State& state) {
    const StoredBlock stored = readStoredBlock(pathOf(static_cast<int>(state.range(0))));
    cv::ImageData data;
    data.image = stored.block;
    data.image.codec = cv::Codec::None;
    data.image.location = cv::DataLocation::Embedded;
    decodeWithLibrary(stored, data.image.inlineData);
    if (stored.block.byteShuffled)
        benchmark::DoNotOptimize(cv::unshuffle(data.image.inlineData, 2));
    cv::MemoryReader none(nullptr, 0);
    cv::RenderOptions options = cv::thumbnailOptions(256, cv::RenderSettings{});
    options.secondThread = true;  // as the Linux tool draws thumbnails
    for (auto _ : state) {
        cv::RgbImage image;
        benchmark::DoNotOptimize(
            cv::renderImage(none, data, options, cv::thumbnailBudget(), image));
    }
    state.SetLabel(kFiles[state.range(0)]);
}

}  // namespace

BENCHMARK(BM_Thumbnail)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kLastFile, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();  // a render may use a second thread
BENCHMARK(BM_WholeFileRead)->DenseRange(0, kLastFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockFloor)->DenseRange(kFirstXisf, kLastFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockRead)->DenseRange(kFirstXisf, kLastFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockDecode)->DenseRange(kFirstXisf, kLastFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockUnshuffle)->Arg(kFirstXisf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SamplingAndDisplay)->DenseRange(kFirstXisf, kLastFile)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    ensureSamples();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
