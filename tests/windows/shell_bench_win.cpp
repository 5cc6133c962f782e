// Explorer's own path timed: thumbnails drawn by each Corvane.dll named on
// the command line through a shell file stream, as the thumbnail cache asks
// for them, beside that stream's whole-file read. Run by tools/windows-bench.sh.
//   corvane_shell_bench FOLDER DLL...
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/image_header.h"
#include "render/band_reader.h"
#include "render/render_profiles.h"
#include "samples/fits_samples.h"
#include "shell/class_ids_win.h"
#include "shell/preview_job_win.h"
#include "shell/read_ahead_lane_win.h"
#include "shell/stream_adapter_win.h"
#include "shell/thumbnail_provider_win.h"
#include "windows/read_only_stream.h"

namespace {

constexpr int kRepeats = 9;
constexpr int kThumbnailsPerThread = 24;
constexpr int kThreads = 4;
constexpr UINT kSizes[] = {256, 1400};  // a thumbnail, and the preview pane's picture
const char* const kFiles[] = {
    "starfield-6000x4000-u16.fits",
    "starfield-6000x4000-f32.fits",
    "rggb-6000x4000-u16.fits",
    "rgb-cube-3000x2000-u16.fits",
};

double nowMs() {
    LARGE_INTEGER ticks;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&ticks);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks.QuadPart) * 1e3 / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writeMissingSamples(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    for (const auto& sample : cvsamples::fitsSamples(true)) {
        const auto path = folder / sample.name;
        if (std::find(std::begin(kFiles), std::end(kFiles), sample.name) == std::end(kFiles) ||
            std::filesystem::exists(path))
            continue;
        const std::string bytes = sample.build();
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

IStream* openStream(const std::wstring& path) {
    IStream* stream = nullptr;
    SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL,
                           FALSE, nullptr, &stream);
    return stream;
}

// The file's `size` bytes through the stream in calls of `into`'s size, each
// into `into`: the whole file in one call, or in a fetch's size into one
// buffer, as a render reads (one thread at the stream's one seek pointer, the
// floor of a render that reads every byte through it).
double readMs(const std::wstring& path, std::uint64_t size, std::vector<unsigned char>& into) {
    IStream* stream = openStream(path);
    if (stream == nullptr) return -1.0;
    const double start = nowMs();
    std::uint64_t left = size;
    while (left > 0) {
        const auto count = static_cast<ULONG>(std::min<std::uint64_t>(left, into.size()));
        ULONG got = 0;
        if (FAILED(stream->Read(into.data(), count, &got)) || got != count) break;
        left -= got;
    }
    const double elapsed = nowMs() - start;
    stream->Release();
    return left == 0 ? elapsed : -1.0;
}

// One Corvane.dll, loaded as the shell loads it.
struct Server {
    HMODULE module = nullptr;
    IClassFactory* factory = nullptr;
};

Server loadServer(const std::wstring& path) {
    Server server;
    server.module = LoadLibraryW(path.c_str());
    if (server.module == nullptr) return server;
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(server.module, "DllGetClassObject")));
    if (get != nullptr)
        get(cvwin::kThumbnailProviderClsid, IID_IClassFactory,
            reinterpret_cast<void**>(&server.factory));
    return server;
}

// A fresh provider over a fresh stream, as the thumbnail cache makes them
// per file; from the library linked in when the server has no factory.
double thumbnailMs(const Server& server, const std::wstring& path, UINT size) {
    IStream* stream = openStream(path);
    if (stream == nullptr) return -1.0;
    const double start = nowMs();
    IThumbnailProvider* provider = nullptr;
    IInitializeWithStream* initialize = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha{};
    bool drawn = false;
    const HRESULT created =
        server.factory != nullptr
            ? server.factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider),
                                             reinterpret_cast<void**>(&provider))
            : cvwin::createThumbnailProvider(__uuidof(IThumbnailProvider),
                                             reinterpret_cast<void**>(&provider));
    if (SUCCEEDED(created)) {
        if (SUCCEEDED(provider->QueryInterface(__uuidof(IInitializeWithStream),
                                               reinterpret_cast<void**>(&initialize)))) {
            drawn = SUCCEEDED(initialize->Initialize(stream, STGM_READ)) &&
                    SUCCEEDED(provider->GetThumbnail(size, &bitmap, &alpha));
            initialize->Release();
        }
        provider->Release();
    }
    const double elapsed = nowMs() - start;
    if (bitmap != nullptr) DeleteObject(bitmap);
    stream->Release();
    return drawn ? elapsed : -1.0;
}

// Each server's median, its repeats taken in turn with the others' so that a
// shared machine's slow spells fall on all of them alike. A server without a
// factory stands for the library linked in.
std::vector<double> medianThumbnailMs(const std::vector<Server>& servers, const std::wstring& path,
                                      UINT size) {
    std::vector<std::vector<double>> times(servers.size());
    for (int i = 0; i < kRepeats; ++i) {
        for (std::size_t s = 0; s < servers.size(); ++s)
            times[s].push_back(thumbnailMs(servers[s], path, size));
    }
    std::vector<double> medians;
    for (auto& serverTimes : times) {
        const bool failed =
            std::any_of(serverTimes.begin(), serverTimes.end(), [](double ms) { return ms < 0; });
        medians.push_back(failed ? -1.0 : median(serverTimes));
    }
    return medians;
}

// This process's processor time so far, user and kernel, in ms.
double processorMs() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    const auto ms = [](const FILETIME& time) {
        return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               1e4;
    };
    return ms(kernel) + ms(user);
}

struct Throughput {
    double perSecond;
    double processorsBusy;  // processor time over wall time: how many were kept at work
};

// Thumbnails per second with `threads` threads asking at once.
Throughput thumbnailsPerSecond(const Server& server, const std::wstring& path, int threads) {
    const double start = nowMs();
    const double startProcessor = processorMs();
    std::vector<std::thread> askers;
    for (int t = 0; t < threads; ++t) {
        askers.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < kThumbnailsPerThread; ++i) thumbnailMs(server, path, kSizes[0]);
            CoUninitialize();
        });
    }
    for (auto& asker : askers) asker.join();
    const double elapsed = nowMs() - start;
    return {threads * kThumbnailsPerThread / (elapsed / 1e3),
            (processorMs() - startProcessor) / elapsed};
}

// The same render in this process, through the stream adapter or from the
// file's bytes in memory, on one lane or two: where the DLL's time goes.
double inProcessMs(cv::Reader& reader, UINT size, bool twoLanes,
                   cv::LaneThread* laneThread = nullptr) {
    const double start = nowMs();
    cv::ImageData data;
    if (cv::readImageHeader(reader, data) != cv::ReadStatus::Ok) return -1.0;
    cv::RenderOptions options = cv::thumbnailOptions(size, cv::RenderSettings{});
    options.secondThread = twoLanes;
    options.laneThread = laneThread;
    cv::RgbImage image;
    const cv::ReadStatus status =
        cv::renderImage(reader, data, options, cv::thumbnailBudget(), image);
    const double elapsed = nowMs() - start;
    return status == cv::ReadStatus::Ok || status == cv::ReadStatus::Partial ? elapsed : -1.0;
}

// The file stream with its Read and Seek calls counted.
class CountingStream final : public cvtest::StreamOverAnother {
public:
    using StreamOverAnother::StreamOverAnother;
    ~CountingStream() { inner_->Release(); }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        ++calls;
        return inner_->Read(out, count, got);
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        ++calls;
        return inner_->Seek(move, origin, position);
    }
    long calls = 0;
};

void printInProcess(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    IStream* file = openStream(path);
    if (file == nullptr) return;
    CountingStream stream(file);
    cvwin::StreamAdapter adapter;
    adapter.attach(&stream);
    adapter.assumeSoleUse(true);  // as a thumbnail reads
    cv::MemoryReader memory(bytes.data(), bytes.size());
    for (const UINT size : kSizes) {
        std::vector<double> streamed;
        std::vector<double> readAhead;
        std::vector<double> twoLanes;
        std::vector<double> inMemory;
        std::vector<double> inMemoryTwoLanes;
        stream.calls = 0;
        for (int i = 0; i < kRepeats; ++i) {
            streamed.push_back(inProcessMs(adapter, size, false));
            {
                cvwin::ReadAheadLane lane;  // as GetThumbnail makes one
                adapter.readAheadThrough(&lane);
                readAhead.push_back(inProcessMs(adapter, size, false));
                adapter.readAheadThrough(nullptr);
            }
            {
                cvwin::ReadAheadLane lane;
                adapter.readAheadThrough(&lane);
                twoLanes.push_back(inProcessMs(adapter, size, true, &lane));
                adapter.readAheadThrough(nullptr);
            }
            inMemory.push_back(inProcessMs(memory, size, false));
            inMemoryTwoLanes.push_back(inProcessMs(memory, size, true));
        }
        std::printf(
            "  in process %u px: stream %.1f ms (%ld stream calls), read ahead %.1f ms, two lanes "
            "%.1f ms; memory %.1f ms; memory, two lanes %.1f ms\n",
            size, median(streamed), stream.calls / kRepeats / 3, median(readAhead),
            median(twoLanes), median(inMemory), median(inMemoryTwoLanes));
    }
}

// The preview pane's loading job, run here as the thread pool would run it.
class PreviewTimer final : public cvwin::PreviewJobOwner {
public:
    void publish(std::uint64_t, cvwin::PreviewContent&& content) override {
        shown_ = !content.dibRows.empty();
    }
    void releaseJobReference() override {}

    double previewMs(const std::wstring& path) {
        IStream* stream = openStream(path);
        if (stream == nullptr) return -1.0;
        auto* job = new cvwin::PreviewJob;
        job->owner = this;
        job->cancel = std::make_shared<std::atomic<bool>>(false);
        const bool attached = job->source.attach(stream);
        stream->Release();
        shown_ = false;
        const double start = nowMs();
        if (attached) cvwin::runPreviewJobHere(job);
        const double elapsed = nowMs() - start;
        if (!attached) delete job;
        return shown_ ? elapsed : -1.0;
    }

private:
    bool shown_ = false;
};

double medianPreviewMs(const std::wstring& path) {
    PreviewTimer timer;
    std::vector<double> times;
    for (int i = 0; i < kRepeats; ++i) times.push_back(timer.previewMs(path));
    return median(times);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) {
        std::fprintf(stderr, "usage: corvane_shell_bench FOLDER DLL...\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::filesystem::path folder = argv[1];
    writeMissingSamples(folder);
    std::vector<Server> servers;
    for (int i = 2; i < argc; ++i) {
        servers.push_back(loadServer(argv[i]));
        if (servers.back().factory == nullptr) {
            std::fprintf(stderr, "%ls: no thumbnail provider\n", argv[i]);
            return 1;
        }
    }
    for (const char* name : kFiles) {
        const std::wstring path = (folder / name).wstring();
        std::vector<unsigned char> buffer(std::filesystem::file_size(path), 1);
        std::vector<unsigned char> group(cv::kBytesReadAhead, 1);
        std::vector<double> reads;
        std::vector<double> groupedReads;
        for (int i = 0; i < kRepeats; ++i) {
            reads.push_back(readMs(path, buffer.size(), buffer));
            groupedReads.push_back(readMs(path, buffer.size(), group));
        }
        std::printf("%s: whole read through the stream %.1f ms, in %llu KiB reads %.1f ms\n", name,
                    median(reads), static_cast<unsigned long long>(cv::kBytesReadAhead / 1024),
                    median(groupedReads));
        printInProcess(path, buffer);
        std::vector<Server> timed = servers;
        timed.push_back(Server{});
        std::vector<std::vector<double>> bySize;
        for (const UINT size : kSizes) bySize.push_back(medianThumbnailMs(timed, path, size));
        for (std::size_t s = 0; s < timed.size(); ++s) {
            std::printf("  %ls:", s < servers.size() ? argv[2 + s] : L"linked in");
            for (std::size_t z = 0; z < bySize.size(); ++z)
                std::printf(" %u px %.1f ms;", kSizes[z], bySize[z][s]);
            std::printf("\n");
        }
        std::printf("  preview pane's job: %.1f ms\n", medianPreviewMs(path));
    }
    const std::wstring first = (folder / kFiles[0]).wstring();
    for (std::size_t s = 0; s < servers.size(); ++s) {
        const Throughput one = thumbnailsPerSecond(servers[s], first, 1);
        const Throughput four = thumbnailsPerSecond(servers[s], first, kThreads);
        std::printf(
            "%ls: %s at %u px, 1 thread %.1f/s (%.2f processors busy), %d threads %.1f/s (%.2f "
            "processors busy; %.2f x)\n",
            argv[2 + s], kFiles[0], kSizes[0], one.perSecond, one.processorsBusy, kThreads,
            four.perSecond, four.processorsBusy, four.perSecond / one.perSecond);
    }
    std::fflush(stdout);
    // The servers stay loaded: the process ends here, as a host's would.
    return 0;
}
