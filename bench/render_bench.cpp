// Thumbnails of the generated 6000 x 4000 frames beside the floor they are
// bound by: reading the same file end to end into a buffer that is already
// allocated and touched. Run: build/native/bench/corvane_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/file_reader.h"
#include "core/image_header.h"
#include "render/render_profiles.h"
#include "samples/fits_samples.h"

namespace {

const char* const kFiles[] = {
    "starfield-6000x4000-u16.fits",
    "starfield-6000x4000-f32.fits",
    "rggb-6000x4000-u16.fits",
    "rgb-cube-3000x2000-u16.fits",
};

std::string samplesFolder() {
    const char* folder = std::getenv("CORVANE_BENCH_SAMPLES");
    return folder != nullptr ? folder : "bench-samples";
}

// Writes the large samples once; later runs reuse them.
void ensureSamples() {
    const std::filesystem::path folder = samplesFolder();
    std::filesystem::create_directories(folder);
    for (const auto& sample : cvsamples::fitsSamples(true)) {
        const auto path = folder / sample.name;
        if (std::filesystem::exists(path)) continue;
        const std::string bytes = sample.build();
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

std::string pathOf(int index) { return (std::filesystem::path(samplesFolder()) / kFiles[index]).string(); }

void BM_Thumbnail(benchmark::State& state) {
    const std::string path = pathOf(static_cast<int>(state.range(0)));
    auto reader = corvane_cli::FileReader::open(path);
    if (!reader) {
        state.SkipWithError("sample missing");
        return;
    }
    std::uint64_t bytesRead = 0;
    for (auto _ : state) {
        cv::ImageData data;
        if (cv::readImageHeader(*reader, data) != cv::ReadStatus::Ok) {
            state.SkipWithError("header not read");
            return;
        }
        cv::RenderBudget budget = cv::thumbnailBudget();
        cv::RgbImage image;
        const auto status = cv::renderImage(*reader, data, cv::thumbnailOptions(256, cv::RenderSettings{}), budget, image);
        benchmark::DoNotOptimize(image.pixels.data());
        if (status != cv::ReadStatus::Ok && status != cv::ReadStatus::Partial) state.SkipWithError("render failed");
        bytesRead = budget.bytesRead;
    }
    state.SetLabel(kFiles[state.range(0)]);
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

}  // namespace

BENCHMARK(BM_Thumbnail)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeFileRead)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    ensureSamples();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
