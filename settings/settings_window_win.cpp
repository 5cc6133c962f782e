#include "settings/settings_window_win.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <array>
#include <cwchar>
#include <new>
#include <string>

#include "corvane/version.h"
#include "settings/associations_win.h"
#include "settings/command_line_win.h"
#include "settings/dpi_win.h"
#include "settings/install_state_win.h"
#include "settings/settings_store_win.h"
#include "settings/thumbnail_refresh_win.h"
#include "shell/file_system_win.h"
#include "shell/registry_settings_win.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

namespace {

constexpr const wchar_t* kWindowClass = L"CorvaneSettingsWindow";

enum ControlId : int {
    kIconId = 1010,
    kTitleId = 1300,
    kSubtitleId = 1301,
    kRefreshId = 1006,
    kHelpId = 1009,
    kFileTypesGroupId = 1500,
    kFirstFileTypeId = 1100,
    kFileTypesNoteId = 1305,
    kRenderingGroupId = 1501,
    kAutoStretchId = 1200,
    kLabelFormatId = 1206,
    kLabelCornerId = 1207,
    kStretchNoteId = 1307,
    kBrightnessLabelId = 1308,
    kBrightnessId = 1201,
    kCfaLabelId = 1309,
    kCfaId = 1202,
    kPreviewGroupId = 1502,
    kDarkBackgroundId = 1203,
    kSidebarId = 1204,
    kApplyId = 1205,
    kStatusId = 1005,
    kRestartNoticeId = 1311,
};

// Layout, in 1/96 inch: the controls below the restart notice start at the
// base, which moves down when the notice is shown.
constexpr int kBase = 112;
constexpr int kBaseWithNotice = 152;
constexpr int kClientWidth = 560;
constexpr int kClientHeightBelowBase = 618;
constexpr int kIconSize = 64;
constexpr LONG kBoldWeight = 600;
constexpr COLORREF kNoticeColor = RGB(168, 75, 0);
constexpr DWORD kElevatedWaitMs = 60000;

enum class Kind { Icon, Text, Button, Group, Check, List };

struct Control {
    int id;
    Kind kind;
    const wchar_t* text;
    int x, y, width, height;
    bool belowBase;  // y counts from the base
};

// Creation order is tab order.
constexpr Control kControls[] = {
    {kIconId, Kind::Icon, L"", 20, 16, kIconSize, kIconSize, false},
    {kTitleId, Kind::Text, L"", 100, 18, 440, 22, false},
    {kSubtitleId, Kind::Text, L"Thumbnails, preview and metadata columns for XISF and FITS files.",
     100, 42, 440, 20, false},
    {kRefreshId, Kind::Button, L"Refresh thumbnails", 178, 0, 150, 30, true},
    {kHelpId, Kind::Button, L"Help", 336, 0, 80, 30, true},
    {kFileTypesGroupId, Kind::Group, L"File types", 20, 46, 520, 142, true},
    {kFirstFileTypeId + 0, Kind::Check, L".xisf", 34, 68, 242, 22, true},
    {kFirstFileTypeId + 1, Kind::Check, L".fit / .fits / .fz", 34, 92, 242, 22, true},
    {kFirstFileTypeId + 2, Kind::Check, L".fts", 34, 116, 242, 22, true},
    {kFirstFileTypeId + 3, Kind::Check, L".vmproj (Vellumar)", 280, 68, 242, 22, true},
    {kFirstFileTypeId + 4, Kind::Check, L".xpsm (PixInsight icons)", 280, 92, 242, 22, true},
    {kFirstFileTypeId + 5, Kind::Check, L".seq (Siril)", 280, 116, 242, 22, true},
    {kFileTypesNoteId, Kind::Text,
     L"Files of other kinds that share these extensions, such as Garmin .fit activity files, are "
     L"detected and left alone.",
     34, 144, 492, 32, true},
    {kRenderingGroupId, Kind::Group, L"Rendering", 20, 202, 520, 192, true},
    {kAutoStretchId, Kind::Check, L"Auto-stretch images", 34, 224, 492, 22, true},
    {kLabelFormatId, Kind::Check, L"Label thumbnails with the file format, at the", 34, 360, 290,
     22, true},
    {kLabelCornerId, Kind::List, L"", 330, 356, 140, 200, true},
    {kStretchNoteId, Kind::Text,
     L"Off shows the data exactly as stored, which for unprocessed linear frames is almost black.",
     52, 248, 474, 32, true},
    {kBrightnessLabelId, Kind::Text, L"Brightness", 34, 288, 170, 18, true},
    {kBrightnessId, Kind::List, L"", 210, 284, 300, 200, true},
    {kCfaLabelId, Kind::Text, L"Color from Bayer data", 34, 322, 170, 18, true},
    {kCfaId, Kind::List, L"", 210, 318, 300, 200, true},
    {kPreviewGroupId, Kind::Group, L"Preview pane", 20, 408, 520, 80, true},
    {kDarkBackgroundId, Kind::Check, L"Always use a dark background", 34, 430, 492, 22, true},
    {kSidebarId, Kind::Check, L"Show image details beside the picture", 34, 454, 492, 22, true},
    {kApplyId, Kind::Button, L"Apply settings", 20, 506, 150, 30, true},
    {kStatusId, Kind::Text, L"", 20, 546, 520, 56, true},
    {kRestartNoticeId, Kind::Text,
     L"A restart is needed to finish updating Corvane. Until then some options here will have no "
     L"effect on "
     L"thumbnails.",
     20, 112, 520, 34, false},
};

constexpr int kBoldIds[] = {kTitleId, kFileTypesGroupId, kRenderingGroupId, kPreviewGroupId};

constexpr const wchar_t* kCorners[] = {L"Top left", L"Top right", L"Bottom left", L"Bottom right"};
constexpr const wchar_t* kBrightnessNames[] = {L"Darker", L"Standard", L"Brighter"};
constexpr const wchar_t* kCfaNames[] = {L"Automatic", L"Always color", L"Always mono"};

// Which served extensions (registration order) each file-type box stands for.
constexpr std::array<std::array<int, 3>, 6> kFileTypeExtensions = {
    {{0, -1, -1}, {1, 2, 7}, {3, -1, -1}, {4, -1, -1}, {5, -1, -1}, {6, -1, -1}}};

constexpr const wchar_t* kSavedText =
    L"Options saved. They apply to thumbnails drawn from now on; ones Windows has already stored "
    L"keep their old look "
    L"until you use Refresh thumbnails.";
constexpr const wchar_t* kNotSavedText = L"Could not save the options.";
constexpr const wchar_t* kUpdatedText =
    L"Options saved and file types updated. Use Refresh thumbnails so the new file types are "
    L"picked up.";
constexpr const wchar_t* kNotUpdatedText =
    L"Options saved, but the file types could not be updated.";
constexpr const wchar_t* kApprovalText =
    L"File types were not changed: administrator approval is needed because Corvane is installed "
    L"for all users.";

// What one settings window owns.
struct WindowState {
    GdiFont normalFont;
    GdiFont boldFont;
    IconHandle icon;
    int dpi = kDefaultDpi;
    bool restartNotice = false;
};

WindowState* stateOf(HWND window) {
    return reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND item(HWND window, int id) {
    return GetDlgItem(window, id);
}
bool isChecked(HWND window, int id) {
    return IsDlgButtonChecked(window, id) == BST_CHECKED;
}
void setChecked(HWND window, int id, bool checked) {
    CheckDlgButton(window, id, checked ? BST_CHECKED : BST_UNCHECKED);
}
DWORD selection(HWND window, int id) {
    const LRESULT index = SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0);
    return index < 0 ? 0 : static_cast<DWORD>(index);
}
void setStatus(HWND window, const wchar_t* text) {
    SetDlgItemTextW(window, kStatusId, text);
}

DWORD styleOf(Kind kind) {
    switch (kind) {
        case Kind::Icon:
            return SS_ICON | SS_REALSIZECONTROL;
        case Kind::Text:
            return SS_LEFT;
        case Kind::Button:
            return BS_PUSHBUTTON | WS_TABSTOP;
        case Kind::Group:
            return BS_GROUPBOX;
        case Kind::Check:
            return BS_AUTOCHECKBOX | WS_TABSTOP;
        case Kind::List:
            return CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
    }
    return 0;
}

const wchar_t* classOf(Kind kind) {
    switch (kind) {
        case Kind::Icon:
        case Kind::Text:
            return L"STATIC";
        case Kind::List:
            return L"COMBOBOX";
        default:
            return L"BUTTON";
    }
}

// New fonts for the state's DPI; the old ones go only once the controls have
// the new ones, so the caller applies them first.
void makeFonts(WindowState& state) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                    static_cast<UINT>(state.dpi))) {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    }
    state.normalFont.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    LOGFONTW bold = metrics.lfMessageFont;
    bold.lfWeight = kBoldWeight;
    state.boldFont.reset(CreateFontIndirectW(&bold));
}

void applyFonts(HWND window, const WindowState& state) {
    for (const Control& control : kControls) {
        SendDlgItemMessageW(window, control.id, WM_SETFONT,
                            reinterpret_cast<WPARAM>(state.normalFont.get()), FALSE);
    }
    for (const int id : kBoldIds) {
        SendDlgItemMessageW(window, id, WM_SETFONT, reinterpret_cast<WPARAM>(state.boldFont.get()),
                            FALSE);
    }
}

void loadIcon(HWND window, WindowState& state) {
    const int size = scaledToDpi(kIconSize, state.dpi);
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                               IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    SendDlgItemMessageW(window, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    state.icon.reset(icon);
}

void layout(HWND window, const WindowState& state) {
    const int base = state.restartNotice ? kBaseWithNotice : kBase;
    const auto scaled = [&](int units) { return scaledToDpi(units, state.dpi); };
    for (const Control& control : kControls) {
        const int y = control.y + (control.belowBase ? base : 0);
        SetWindowPos(item(window, control.id), nullptr, scaled(control.x), scaled(y),
                     scaled(control.width), scaled(control.height), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT outer{0, 0, scaled(kClientWidth), scaled(base + kClientHeightBelowBase)};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    if (!AdjustWindowRectExForDpi(&outer, style, FALSE, exStyle, static_cast<UINT>(state.dpi))) {
        AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    }
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void fillList(HWND window, int id, const wchar_t* const* names, std::size_t count, DWORD selected) {
    for (std::size_t i = 0; i < count; ++i) {
        SendDlgItemMessageW(window, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i]));
    }
    SendDlgItemMessageW(window, id, CB_SETCURSEL, selected, 0);
}

void loadControls(HWND window) {
    const cv::RenderSettings settings = readRenderSettings();
    setChecked(window, kAutoStretchId, settings.autoStretch);
    setChecked(window, kLabelFormatId, settings.labelFormat);
    setChecked(window, kDarkBackgroundId, settings.previewDarkBackground);
    setChecked(window, kSidebarId, settings.previewSidebar);
    fillList(window, kLabelCornerId, kCorners, std::size(kCorners),
             static_cast<DWORD>(settings.labelCorner));
    fillList(window, kBrightnessId, kBrightnessNames, std::size(kBrightnessNames),
             static_cast<DWORD>(settings.brightness));
    fillList(window, kCfaId, kCfaNames, std::size(kCfaNames), static_cast<DWORD>(settings.cfaMode));
    EnableWindow(item(window, kLabelCornerId), settings.labelFormat);
    const HKEY root = rootKey(installRoot());
    for (std::size_t box = 0; box < kFileTypeExtensions.size(); ++box) {
        bool enabled = false;
        for (const int extension : kFileTypeExtensions[box]) {
            if (extension >= 0)
                enabled =
                    enabled ||
                    extensionEnabled(root, servedExtension(static_cast<std::size_t>(extension)));
        }
        setChecked(window, kFirstFileTypeId + static_cast<int>(box), enabled);
    }
}

void createControls(HWND window, WindowState& state) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const Control& control : kControls) {
        DWORD style = WS_CHILD | styleOf(control.kind);
        if (control.id != kRestartNoticeId || state.restartNotice) style |= WS_VISIBLE;
        CreateWindowExW(0, classOf(control.kind), control.text, style, 0, 0, 0, 0, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance,
                        nullptr);
    }
    wchar_t title[64];
    std::swprintf(title, std::size(title), L"Corvane %d.%d.%d", CORVANE_VERSION_MAJOR,
                  CORVANE_VERSION_MINOR, CORVANE_VERSION_PATCH);
    SetDlgItemTextW(window, kTitleId, title);
}

cv::RenderSettings optionsFrom(HWND window) {
    cv::RenderSettings settings;
    settings.autoStretch = isChecked(window, kAutoStretchId);
    settings.labelFormat = isChecked(window, kLabelFormatId);
    settings.labelCorner = cv::storedLabelCorner(selection(window, kLabelCornerId));
    settings.previewDarkBackground = isChecked(window, kDarkBackgroundId);
    settings.previewSidebar = isChecked(window, kSidebarId);
    settings.brightness = cv::storedBrightness(selection(window, kBrightnessId));
    settings.cfaMode = cv::storedCfaMode(selection(window, kCfaId));
    return settings;
}

std::array<bool, kServedExtensionCount> wantedExtensions(HWND window) {
    std::array<bool, kServedExtensionCount> wanted{};
    for (std::size_t box = 0; box < kFileTypeExtensions.size(); ++box) {
        for (const int extension : kFileTypeExtensions[box]) {
            if (extension >= 0)
                wanted[static_cast<std::size_t>(extension)] =
                    isChecked(window, kFirstFileTypeId + static_cast<int>(box));
        }
    }
    return wanted;
}

// The elevated run of this program that writes the machine's switches and
// registers; its exit code is the only answer.
const wchar_t* applyElevated(const std::array<bool, kServedExtensionCount>& wanted) {
    const std::wstring parameters = applyAssociationsArguments(wanted);
    const std::wstring program = programPath();
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"runas";
    execute.lpFile = program.c_str();
    execute.lpParameters = parameters.c_str();
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExW(&execute) || execute.hProcess == nullptr) return kApprovalText;
    const KernelHandle elevated(execute.hProcess);
    DWORD code = 1;
    if (WaitForSingleObject(elevated.get(), kElevatedWaitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(elevated.get(), &code)) {
        code = 1;
    }
    return code == 0 ? kUpdatedText : kNotUpdatedText;
}

void saveSettings(HWND window) {
    const bool saved = writeRenderSettings(optionsFrom(window));
    const InstallRoot root = installRoot();
    const auto wanted = wantedExtensions(window);
    const bool incomplete = root == InstallRoot::Machine && machineRegistrationIncomplete();
    if (!incomplete && !associationsChanged(rootKey(root), wanted)) {
        setStatus(window, saved ? kSavedText : kNotSavedText);
        return;
    }
    if (root == InstallRoot::User || processIsElevated()) {
        setStatus(window, applyAssociations(wanted) ? kUpdatedText : kNotUpdatedText);
        return;
    }
    // Elevation is asked for this copy only when it is the one installed for
    // all users: another (user-writable) copy must never run as administrator.
    setStatus(window, isMachineServer() ? applyElevated(wanted) : kNotUpdatedText);
}

void openHelp(HWND window) {
    const std::wstring folder = programFolder();
    for (const wchar_t* candidate : {L"doc\\index.html", L"..\\..\\doc\\index.html"}) {
        const std::wstring path = folder + candidate;
        if (!isFile(path)) continue;
        ShellExecuteW(window, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    MessageBoxW(window,
                L"The help file could not be found. It is installed as doc\\index.html beside "
                L"Corvane Settings.",
                L"Corvane", MB_ICONWARNING | MB_OK);
}

LRESULT onCreate(HWND window) {
    auto* state = new (std::nothrow) WindowState;
    if (state == nullptr) return -1;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    state->dpi = windowDpi(window);
    state->restartNotice = isRestartPending();
    makeFonts(*state);
    createControls(window, *state);
    applyFonts(window, *state);
    loadIcon(window, *state);
    loadControls(window);
    layout(window, *state);
    return 0;
}

void onDpiChanged(HWND window, WindowState& state, int dpi, const RECT& suggested) {
    state.dpi = dpi;
    {
        const GdiFont oldNormal = std::move(state.normalFont);
        const GdiFont oldBold = std::move(state.boldFont);
        makeFonts(state);
        applyFonts(window, state);
    }
    loadIcon(window, state);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    layout(window, state);
    InvalidateRect(window, nullptr, TRUE);
}

// The refresh's confirmation and outcome, in the window's status line.
void refreshAllThumbnails(HWND window) {
    constexpr const wchar_t* question =
        L"This clears every thumbnail stored on this computer and reloads Corvane. They are "
        L"redrawn as you browse.\n\n"
        L"To refresh just one file or one folder, right-click it in Explorer instead.\n\n"
        L"Explorer will close and reopen: your desktop and taskbar will disappear for a few "
        L"seconds and come back on "
        L"their own.\n\nContinue?";
    if (MessageBoxW(window, question, L"Refresh thumbnails", MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    setStatus(window,
              L"Refreshing thumbnails... Explorer will close and reopen; the desktop returns in a "
              L"few seconds.");
    UpdateWindow(window);
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const WholeRefreshOutcome outcome = refreshWholeComputer();
    SetCursor(previous);
    wchar_t status[256];
    if (!outcome.explorerBack) {
        std::swprintf(status, std::size(status),
                      L"Cleared %u thumbnail file(s), but Explorer did not come back. Press "
                      L"Ctrl+Shift+Esc, choose Run "
                      L"new task, and enter explorer.exe",
                      outcome.deletedFiles);
    } else if (outcome.deletedFiles > 0) {
        std::swprintf(status, std::size(status),
                      L"Cleared %u thumbnail file(s). Thumbnails are drawn again as you browse, so "
                      L"a folder of large "
                      L"files takes a moment the first time.",
                      outcome.deletedFiles);
    } else {
        std::swprintf(
            status, std::size(status),
            L"No stored thumbnails could be removed. Another program may be holding them open.");
    }
    setStatus(window, status);
}

LRESULT onCommand(HWND window, int id, int notification) {
    switch (id) {
        case kRefreshId:
            refreshAllThumbnails(window);
            break;
        case kHelpId:
            openHelp(window);
            break;
        case kApplyId:
            saveSettings(window);
            break;
        case kLabelFormatId:
            if (notification == BN_CLICKED)
                EnableWindow(item(window, kLabelCornerId), isChecked(window, kLabelFormatId));
            break;
        default:
            break;
    }
    return 0;
}

LRESULT CALLBACK settingsProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        WindowState* state = stateOf(window);
        switch (message) {
            case WM_CREATE:
                return onCreate(window);
            case WM_COMMAND:
                return onCommand(window, LOWORD(wParam), HIWORD(wParam));
            case WM_CTLCOLORSTATIC: {
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetBkMode(dc, TRANSPARENT);
                if (reinterpret_cast<HWND>(lParam) == item(window, kRestartNoticeId))
                    SetTextColor(dc, kNoticeColor);
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            case WM_DPICHANGED:
                if (state != nullptr) {
                    onDpiChanged(window, *state, HIWORD(wParam),
                                 *reinterpret_cast<const RECT*>(lParam));
                }
                return 0;
            case WM_CLOSE:
                DestroyWindow(window);
                return 0;
            case WM_DESTROY:
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
                delete state;
                PostQuitMessage(0);
                return 0;
            default:
                break;
        }
    } catch (...) {
        // Out of memory in a handler: the window stays as it was.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int runWindowLoop() {
    // Named so an installer can tell that the program runs; a second instance still starts.
    CreateMutexW(nullptr, FALSE, L"CorvaneSettings-5B1D93A4-Single");
    CreateMutexW(nullptr, FALSE, L"Global\\CorvaneSettings-5B1D93A4-Single");
    becomeDpiAware();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = settingsProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);
    constexpr int kProvisionalWidth = 400;
    constexpr int kProvisionalHeight = 300;
    HWND window =
        CreateWindowExW(0, kWindowClass, L"Corvane Settings",
                        WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                        kProvisionalWidth, kProvisionalHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

// The shell's calls behind Help and the elevation prompt want the thread in an apartment.
int runSettingsWindow() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const int code = runWindowLoop();
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}

}  // namespace cvwin
