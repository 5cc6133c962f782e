#include "cli/bench_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "core/file_reader.h"
#include "formats/image_header.h"
#include "render/render_profiles.h"

namespace corvane_cli {

namespace {

double millisecondsSince(std::int64_t start) {
    return static_cast<double>(cv::steadyNowNs() - start) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Reads the whole file with read(2) into a buffer that is already allocated
// and touched, so the figure is the cost of the bytes alone.
double wholeFileReadMs(const std::string& path, std::vector<unsigned char>& buffer) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return -1.0;
    const std::int64_t start = cv::steadyNowNs();
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::read(descriptor, buffer.data() + done, buffer.size() - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    const double elapsed = millisecondsSince(start);
    ::close(descriptor);
    return done == buffer.size() ? elapsed : -1.0;
}

// funpack decompressing the file to nothing, the peer's floor for a
// tile-compressed file; negative when funpack is missing or fails.
double funpackMs(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "funpack";
    std::string toStandardOutput = "-S";
    std::string file = path;
    char* arguments[] = {program.data(), toStandardOutput.data(), file.data(), nullptr};
    const std::int64_t start = cv::steadyNowNs();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "funpack", &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1.0;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    return millisecondsSince(start);
}

struct Sample {
    double renderMs;
    double readMs;
    std::uint64_t bytesRead;
    cv::ReadStatus status;
};

Sample renderOnce(const std::string& path, cv::FileReader& reader, std::uint32_t size,
                  std::vector<unsigned char>& buffer) {
    Sample sample{0.0, wholeFileReadMs(path, buffer), 0, cv::ReadStatus::Ok};
    const std::int64_t start = cv::steadyNowNs();
    cv::ImageData data;
    sample.status = cv::readImageHeader(reader, data);
    if (sample.status != cv::ReadStatus::Ok) return sample;
    cv::RenderOptions options = cv::thumbnailOptions(size, cv::RenderSettings{});
    options.secondThread = true;  // as the tool's thumbnails are drawn
    cv::RgbImage image;
    cv::RenderReport report;
    sample.status = cv::renderImage(reader, data, options, cv::thumbnailBudget(), image, &report);
    sample.renderMs = millisecondsSince(start);
    sample.bytesRead = report.bytesReadHere;
    return sample;
}

int benchFile(const std::string& path, const BenchOptions& options) {
    auto reader = cv::FileReader::open(path);
    if (!reader) {
        std::fprintf(stderr, "%s: cannot open the file\n", path.c_str());
        return 1;
    }
    std::vector<unsigned char> buffer(static_cast<std::size_t>(reader->size()), 1);
    std::vector<double> renders;
    std::vector<double> reads;
    Sample last{};
    for (unsigned i = 0; i < options.repeats; ++i) {
        last = renderOnce(path, *reader, options.size, buffer);
        if (last.status != cv::ReadStatus::Ok && last.status != cv::ReadStatus::Partial) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), cv::readStatusName(last.status));
            return 1;
        }
        renders.push_back(last.renderMs);
        reads.push_back(last.readMs);
    }
    const double renderMs = median(renders);
    const double readMs = median(reads);
    const double megabytes = static_cast<double>(reader->size()) / 1e6;
    std::printf(
        "%s: %.2f ms per thumbnail (%s), %.0f MB/s of file, %.1f MB read; whole-file read %.2f ms "
        "(%.2f x)",
        path.c_str(), renderMs, cv::readStatusName(last.status), megabytes / (renderMs / 1e3),
        static_cast<double>(last.bytesRead) / 1e6, readMs, renderMs / readMs);
    cv::ImageData data;
    if (cv::readImageHeader(*reader, data) == cv::ReadStatus::Ok && data.image.tiles) {
        std::vector<double> unpacks;
        for (unsigned i = 0; i < options.repeats; ++i) unpacks.push_back(funpackMs(path));
        const double unpackMs = median(unpacks);
        if (unpackMs >= 0.0)
            std::printf("; funpack %.2f ms (%.2f x)", unpackMs, renderMs / unpackMs);
    }
    std::printf("\n");
    return 0;
}

}  // namespace

int runBench(const BenchOptions& options) {
    int exitCode = 0;
    for (const auto& path : options.paths) {
        try {
            exitCode = std::max(exitCode, benchFile(path, options));
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "%s: out of memory\n", path.c_str());
            exitCode = 1;
        }
    }
    return exitCode;
}

}  // namespace corvane_cli
