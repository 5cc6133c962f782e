#include "settings/thumbnail_refresh_win.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <thumbcache.h>
#include <wrl/client.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <memory>

#include "settings/dpi_win.h"
#include "shell/file_system_win.h"
#include "shell/registration_win.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

namespace {

constexpr UINT kThumbnailSizes[] = {96, 256};    // pixels, the shell's common sizes
constexpr std::size_t kPathCapacity = MAX_PATH;  // characters of a file's full path, with its NUL
constexpr std::size_t kDriveRootLength = 3;      // "C:\"
constexpr UINT kWorkerDoneMessage = WM_APP + 1;
constexpr DWORD kWorkerEndWaitMs = 60000;
constexpr const wchar_t* kProgressClass = L"CorvaneRefreshProgress";

constexpr int kTextId = 2001;
constexpr int kBarId = 2002;
constexpr int kCancelId = 2003;

// {50EF4544-AC9F-4A8E-B21B-8A26180DB13F}: declared by mingw's headers, defined nowhere.
constexpr CLSID kLocalThumbnailCache = {
    0x50EF4544, 0xAC9F, 0x4A8E, {0xB2, 0x1B, 0x8A, 0x26, 0x18, 0x0D, 0xB1, 0x3F}};

bool isServedName(std::wstring_view name) {
    const auto dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos) return false;
    const std::wstring_view extension = name.substr(dot);
    for (std::size_t i = 0; i < kServedExtensionCount; ++i) {
        if (CompareStringOrdinal(extension.data(), static_cast<int>(extension.size()),
                                 servedExtension(i), -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

// Calls `visit` with the name of each served file directly in the folder;
// `visit` returns false to stop.
// "C:\\" and "C:\\Frames" both take a file name after one backslash.
std::wstring inFolder(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

template <typename Visit>
void forEachServedFile(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW found{};
    const FindHandle search(FindFirstFileW(inFolder(folder, L"*").c_str(), &found));
    if (!search) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            !isServedName(found.cFileName))
            continue;
        if (!visit(std::wstring(found.cFileName))) break;
    } while (FindNextFileW(search.get(), &found));
}

std::size_t countServedFiles(const std::wstring& folder) {
    std::size_t count = 0;
    forEachServedFile(folder, [&](const std::wstring&) {
        ++count;
        return true;
    });
    return count;
}

struct RefreshJob {
    HWND window = nullptr;
    HWND text = nullptr;
    HWND bar = nullptr;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::wstring folder;
};

// Sent by the worker with the next file's name; the window thread shows it
// unless Cancel was pressed meanwhile, so "Stopping..." stays.
constexpr UINT kShowFileMessage = WM_APP + 2;

// The worker shares the job, so a window closed early (or a main thread done
// waiting) never leaves it working on freed memory.
DWORD WINAPI refreshWorker(void* context) {
    std::shared_ptr<RefreshJob> job(*static_cast<std::shared_ptr<RefreshJob>*>(context));
    delete static_cast<std::shared_ptr<RefreshJob>*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        refreshFolder(job->folder, [&](const std::wstring& name, std::size_t index,
                                       std::size_t total) {
            if (job->cancel.load()) return false;
            SendMessageW(job->bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total > 0 ? total : 1));
            SendMessageW(job->bar, PBM_SETPOS, index, 0);
            SendMessageW(job->window, kShowFileMessage, 0, reinterpret_cast<LPARAM>(name.c_str()));
            return true;
        });
    } catch (...) {
        // Out of memory: the walk ends here, the window still closes.
    }
    if (SUCCEEDED(com)) CoUninitialize();
    job->done.store(true);
    PostMessageW(job->window, kWorkerDoneMessage, 0, 0);
    return 0;
}

LRESULT CALLBACK progressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* job = reinterpret_cast<RefreshJob*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kCancelId && job != nullptr) {
                job->cancel.store(true);
                SetWindowTextW(job->text, L"Stopping...");
                EnableWindow(GetDlgItem(window, kCancelId), FALSE);
                return 0;
            }
            break;
        case WM_CLOSE:
            if (job != nullptr) job->cancel.store(true);
            return 0;  // the window stays until the worker ends
        case kShowFileMessage:
            if (job != nullptr && !job->cancel.load())
                SetWindowTextW(job->text, reinterpret_cast<const wchar_t*>(lParam));
            return 0;
        case kWorkerDoneMessage:
            if (job != nullptr && job->done.load())
                DestroyWindow(window);  // only the worker's own word counts
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                 int x, int y, int width, int height) {
    HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                                 height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    return child;
}

HWND createProgressWindow(RefreshJob& job, std::size_t total) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = progressProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kProgressClass;
    RegisterClassExW(&windowClass);
    const int dpi = screenDpi();
    const auto scaled = [dpi](int units) { return scaledToDpi(units, dpi); };
    HWND window =
        CreateWindowExW(WS_EX_DLGMODALFRAME, kProgressClass, L"Refresh Corvane thumbnails",
                        WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, scaled(420),
                        scaled(150), nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&job));
    RECT client{};
    GetClientRect(window, &client);
    const int margin = scaled(14);
    const int width = client.right - 2 * margin;
    job.text = createChild(window, L"STATIC", L"Starting...", SS_PATHELLIPSIS, kTextId, margin,
                           scaled(14), width, scaled(18));
    job.bar =
        createChild(window, PROGRESS_CLASSW, L"", 0, kBarId, margin, scaled(42), width, scaled(18));
    SendMessageW(job.bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
    createChild(window, L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, kCancelId,
                client.right - margin - scaled(90), scaled(74), scaled(90), scaled(26));
    job.window = window;
    ShowWindow(window, SW_SHOW);
    return window;
}

int refreshFolderWithProgress(const std::wstring& folder) {
    becomeDpiAware();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const std::size_t total = countServedFiles(folder);
    if (total == 0) return 0;
    auto job = std::make_shared<RefreshJob>();
    job->folder = folder;
    HWND window = createProgressWindow(*job, total);
    if (window == nullptr) return 1;
    auto* handedOver = new std::shared_ptr<RefreshJob>(job);
    const KernelHandle worker(CreateThread(nullptr, 0, refreshWorker, handedOver, 0, nullptr));
    if (!worker) {
        delete handedOver;
        DestroyWindow(window);
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    WaitForSingleObject(worker.get(), kWorkerEndWaitMs);
    return 0;
}

// Runs a command line without a window and waits for it, at most `waitMs`.
void runHidden(const wchar_t* commandLine, DWORD waitMs) {
    std::wstring command = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return;
    }
    const KernelHandle thread(process.hThread);
    const KernelHandle child(process.hProcess);
    WaitForSingleObject(child.get(), waitMs);
}

bool waitForShell(int checks, DWORD intervalMs) {
    for (int i = 0; i < checks; ++i) {
        if (GetShellWindow() != nullptr) return true;
        Sleep(intervalMs);
    }
    return GetShellWindow() != nullptr;
}

unsigned deleteThumbnailCaches() {
    wchar_t localAppData[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", localAppData, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 0;
    const std::wstring folder = std::wstring(localAppData) + L"\\Microsoft\\Windows\\Explorer";
    unsigned deleted = 0;
    WIN32_FIND_DATAW found{};
    const FindHandle search(FindFirstFileW((folder + L"\\thumbcache_*.db").c_str(), &found));
    if (!search) return 0;
    do {
        if (DeleteFileW((folder + L"\\" + found.cFileName).c_str())) ++deleted;
    } while (FindNextFileW(search.get(), &found));
    return deleted;
}

// The system's own cmd.exe, never one beside the program or in the current
// folder; and only this session's Explorer, even when run elevated.
void stopExplorer() {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    wchar_t command[2 * MAX_PATH];
    std::swprintf(command, std::size(command),
                  L"\"%ls\\cmd.exe\" /c taskkill /f /fi \"SESSION eq %lu\" /im explorer.exe",
                  system, session);
    constexpr DWORD kStopWaitMs = 10000;
    runHidden(command, kStopWaitMs);
    Sleep(700);
    runHidden(command, kStopWaitMs);
    Sleep(300);
}

// Whether a shell window is there again; Explorer is started when it does not come back on its own.
bool bringExplorerBack() {
    constexpr int kShellChecks = 20;
    constexpr DWORD kShellCheckMs = 250;
    if (waitForShell(kShellChecks, kShellCheckMs)) return true;
    wchar_t explorer[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(explorer, MAX_PATH);
    if (length > 0 && length < MAX_PATH - 16) wcscat_s(explorer, L"\\explorer.exe");
    ShellExecuteW(nullptr, L"open", explorer, nullptr, nullptr, SW_SHOWNORMAL);
    return waitForShell(kShellChecks, kShellCheckMs);
}

}  // namespace

std::wstring cleanRefreshPath(std::wstring_view argument) {
    while (!argument.empty() && (argument.front() == L'"' || argument.front() == L' '))
        argument.remove_prefix(1);
    while (!argument.empty() && (argument.back() == L'"' || argument.back() == L' '))
        argument.remove_suffix(1);
    while (argument.size() > kDriveRootLength && argument.back() == L'\\')
        argument.remove_suffix(1);
    return std::wstring(argument);
}

bool refreshFile(const std::wstring& path) {
    Microsoft::WRL::ComPtr<IThumbnailCache> cache;
    if (FAILED(CoCreateInstance(kLocalThumbnailCache, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_PPV_ARGS(&cache)))) {
        return false;
    }
    Microsoft::WRL::ComPtr<IShellItem> item;
    if (FAILED(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item))))
        return false;
    bool renewed = false;
    for (const UINT size : kThumbnailSizes) {
        Microsoft::WRL::ComPtr<ISharedBitmap> bitmap;
        if (SUCCEEDED(cache->GetThumbnail(item.Get(), size, WTS_FORCEEXTRACTION, &bitmap, nullptr,
                                          nullptr))) {
            renewed = true;
        }
    }
    if (renewed) SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSH, path.c_str(), nullptr);
    return renewed;
}

void refreshFolder(const std::wstring& folder, const RefreshProgress& progress) {
    const std::size_t total = countServedFiles(folder);
    std::size_t index = 0;
    forEachServedFile(folder, [&](const std::wstring& name) {
        if (!progress(name, index, total)) return false;
        const std::wstring path = inFolder(folder, name);
        if (path.size() >= kPathCapacity)
            return true;  // too long for the shell's calls: passed over
        refreshFile(path);
        ++index;
        return true;
    });
}

int refreshTarget(std::wstring_view argument) {
    const std::wstring path = cleanRefreshPath(argument);
    if (path.empty()) return 1;
    if (isFolder(path)) return refreshFolderWithProgress(path);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool renewed = refreshFile(path);
    if (SUCCEEDED(com)) CoUninitialize();
    return renewed ? 0 : 1;
}

WholeRefreshOutcome refreshWholeComputer() {
    stopExplorer();
    WholeRefreshOutcome outcome;
    outcome.deletedFiles = deleteThumbnailCaches();
    outcome.explorerBack = bringExplorerBack();
    return outcome;
}

}  // namespace cvwin
