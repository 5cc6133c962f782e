#include "shell/registration_win.h"

#include <propsys.h>
#include <shlobj.h>

#include <iterator>
#include <vector>

#include "shell/class_ids_win.h"
#include "shell/file_system_win.h"
#include "shell/registry_key_win.h"
#include "shell/registry_settings_win.h"
#include "shell/replaced_values_win.h"
#include "shell/server_win.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

namespace {

constexpr DWORD kServerPathCapacity = MAX_PATH;  // characters, with the terminating NUL

constexpr const wchar_t* kClassesKey = L"Software\\Classes";
constexpr const wchar_t* kPreviewHandlersKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";
constexpr const wchar_t* kPropertyHandlersKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers";
constexpr const wchar_t* kSettingsProgram = L"CorvaneSettings.exe";
constexpr const wchar_t* kSchemaExtension = L".propdesc";
constexpr const wchar_t* kExtensionPlaceholder = L"{ext}";

struct ServedExtension {
    const wchar_t* extension;
    bool thumbnails;  // thumbnail provider and refresh command
    const wchar_t* contentType;
    const wchar_t* previewDetails;
    const wchar_t* infoTip;
    // The extension also names other formats (".fit" is the sports watches'
    // FIT as well): a content or perceived type another program has set
    // stays, and Corvane then writes neither.
    bool yieldsFileType = false;
};

constexpr ServedExtension kServedExtensions[] = {
    {L".xisf", true, L"image/x-xisf", nullptr, nullptr},
    {L".fits", true, L"image/fits", nullptr, nullptr},
    {L".fit", true, L"image/fits", nullptr, nullptr, true},
    {L".fts", true, L"image/fits", nullptr, nullptr},
    {L".vmproj", true, L"application/x-vmproj", nullptr, nullptr},
    {L".xpsm", false, nullptr,
     L"prop:System.ItemTypeText;Corvane.ProcessIcons;Corvane.Processes;System.DateModified;System."
     L"Size",
     L"prop:System.ItemTypeText;Corvane.ProcessIcons;Corvane.Processes;System.Size"},
    {L".seq", false, nullptr,
     L"prop:System.ItemTypeText;Corvane.Frames;Corvane.SelectedFrames;Corvane.FWHM;System."
     L"DateModified;System.Size",
     L"prop:System.ItemTypeText;Corvane.Frames;Corvane.SelectedFrames;Corvane.FWHM;System.Size"},
    // Tile-compressed FITS ("name.fits.fz"). Last: the settings program names
    // the rows before it by their places.
    {L".fz", true, L"image/fits", nullptr, nullptr},
};

static_assert(std::size(kServedExtensions) == kServedExtensionCount);

// The stages run in this order; each has its own consequence of a failure.
enum class Stage {
    Classes,           // under Software\Classes; a failure skips to the folders
    Extensions,        // likewise, extension by extension in table order
    Folders,           // always written, failures ignored
    PreviewList,       // machine-wide only; a failure is remembered, the rest goes on
    PropertyHandlers,  // machine-wide only; a failure ends the registration
};

enum class Applies {
    Once,
    EachExtension,
    WithThumbnails,
    WithoutThumbnails,
    WithContentType,
    WithImageContentType
};

enum class Data {
    Literal,
    ServerPath,
    IconText,
    FileCommand,
    BackgroundCommand,
    ContentType,
    PreviewDetails,
    InfoTip
};

// Shared values may hold another program's data when registration comes:
// it is kept before Corvane's replaces it, and removal gives it back while
// the value is still Corvane's; one that another program has changed since
// is left as it is.
enum class Removal {
    None,        // goes with the key above it
    Tree,        // Corvane's own key
    Value,       // Corvane's own value in a key others use
    Shared,      // handlers and lists: Corvane's goes when there is nothing to give back
    SharedType,  // a file type's content or perceived type: Corvane's stays
};

struct RegistryRow {
    Stage stage;
    Applies applies;
    std::wstring key;   // below the stage's anchor; kExtensionPlaceholder stands for the extension
    std::wstring name;  // empty: the key's default value
    Data data;
    std::wstring text;  // Data::Literal
    bool required;      // its failure fails the registration
    Removal removal;
};

// The whole layout: registering writes these rows in order, removing walks
// the same rows, so the two cannot drift apart.
std::vector<RegistryRow> buildRows() {
    const std::wstring thumbnails = guidText(kThumbnailProviderClsid);
    const std::wstring properties = guidText(kPropertyStoreClsid);
    const std::wstring previews = guidText(kPreviewHandlerClsid);
    const std::wstring thumbnailPoint = L"{E357FCCD-A995-4576-B01F-234630154E96}";
    const std::wstring previewPoint = kPreviewHandlerPoint;
    const std::wstring previewSurrogate = L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}";
    const std::wstring extension = kExtensionPlaceholder;
    const std::wstring association = L"SystemFileAssociations\\" + extension;
    const std::wstring fileVerb = association + L"\\shell\\CorvaneRefresh";
    const std::wstring folderVerb = L"Directory\\shell\\CorvaneRefresh";
    const std::wstring backgroundVerb = L"Directory\\Background\\shell\\CorvaneRefresh";

    using enum Stage;
    using enum Applies;
    using enum Data;
    using enum Removal;
    std::vector<RegistryRow> rows;
    const auto addClass = [&](const std::wstring& clsid, const wchar_t* name,
                              const wchar_t* threading) {
        rows.push_back({Classes, Once, L"CLSID\\" + clsid, {}, Literal, name, true, Tree});
        rows.push_back({Classes,
                        Once,
                        L"CLSID\\" + clsid + L"\\InprocServer32",
                        {},
                        ServerPath,
                        {},
                        true,
                        None});
        rows.push_back({Classes, Once, L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel",
                        Literal, threading, true, None});
    };
    addClass(thumbnails, L"Corvane Thumbnail Provider", L"Both");
    addClass(properties, L"Corvane Property Handler", L"Both");
    addClass(previews, L"Corvane Preview Handler", L"Apartment");
    rows.push_back(
        {Classes, Once, L"CLSID\\" + previews, L"AppID", Literal, previewSurrogate, true, None});

    rows.push_back({Extensions,
                    WithThumbnails,
                    association + L"\\ShellEx\\" + thumbnailPoint,
                    {},
                    Literal,
                    thumbnails,
                    true,
                    Shared});
    rows.push_back({Extensions,
                    EachExtension,
                    association + L"\\ShellEx\\" + previewPoint,
                    {},
                    Literal,
                    previews,
                    true,
                    Shared});
    rows.push_back({Extensions, WithImageContentType, extension, L"PerceivedType", Literal,
                    L"image", false, SharedType});
    rows.push_back({Extensions,
                    WithContentType,
                    extension,
                    L"Content Type",
                    ContentType,
                    {},
                    false,
                    SharedType});
    rows.push_back(
        {Extensions, WithThumbnails, fileVerb, {}, Literal, L"Refresh thumbnail", false, Tree});
    rows.push_back({Extensions, WithThumbnails, fileVerb, L"Icon", IconText, {}, false, None});
    rows.push_back(
        {Extensions, WithThumbnails, fileVerb + L"\\command", {}, FileCommand, {}, false, None});
    rows.push_back({Extensions,
                    WithoutThumbnails,
                    association,
                    L"PreviewDetails",
                    PreviewDetails,
                    {},
                    false,
                    Shared});
    rows.push_back(
        {Extensions, WithoutThumbnails, association, L"InfoTip", InfoTip, {}, false, Shared});

    for (const std::wstring& verb : {folderVerb, backgroundVerb}) {
        rows.push_back(
            {Folders, Once, verb, {}, Literal, L"Refresh Corvane thumbnails", false, Tree});
        rows.push_back({Folders, Once, verb, L"Icon", IconText, {}, false, None});
        rows.push_back({Folders,
                        Once,
                        verb + L"\\command",
                        {},
                        verb == folderVerb ? FileCommand : BackgroundCommand,
                        {},
                        false,
                        None});
    }

    rows.push_back(
        {PreviewList, Once, {}, previews, Literal, L"Corvane Preview Handler", true, Value});
    rows.push_back(
        {PropertyHandlers, EachExtension, extension, {}, Literal, properties, true, Shared});
    return rows;
}

const std::vector<RegistryRow>& registryRows() {
    static const std::vector<RegistryRow> rows = buildRows();
    return rows;
}

const wchar_t* valueName(const RegistryRow& row) {
    return row.name.empty() ? nullptr : row.name.c_str();
}

bool applies(const RegistryRow& row, const ServedExtension* served) {
    switch (row.applies) {
        case Applies::Once:
            return served == nullptr;
        case Applies::EachExtension:
            return served != nullptr;
        case Applies::WithThumbnails:
            return served != nullptr && served->thumbnails;
        case Applies::WithoutThumbnails:
            return served != nullptr && !served->thumbnails;
        case Applies::WithContentType:
            return served != nullptr && served->contentType != nullptr;
        case Applies::WithImageContentType:
            return served != nullptr && served->contentType != nullptr &&
                   std::wstring_view(served->contentType).starts_with(L"image/");
    }
    return false;
}

std::wstring keyOf(const RegistryRow& row, const ServedExtension* served) {
    std::wstring key = row.key;
    const auto at = key.find(kExtensionPlaceholder);
    if (at != std::wstring::npos && served != nullptr) {
        key.replace(at, std::char_traits<wchar_t>::length(kExtensionPlaceholder),
                    served->extension);
    }
    return key;
}

// The texts that depend on where the server lies.
struct ServerTexts {
    std::wstring serverPath;
    std::wstring iconText;
    std::wstring fileCommand;
    std::wstring backgroundCommand;
};

ServerTexts serverTexts(const std::wstring& serverPath) {
    const auto slash = serverPath.rfind(L'\\');
    const std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : serverPath.substr(0, slash + 1);
    const std::wstring settings = folder + kSettingsProgram;
    const std::wstring quoted = L"\"" + settings + L"\" /refresh ";
    return {serverPath, settings + L",0", quoted + L"\"%1\"", quoted + L"\"%V\""};
}

std::wstring dataOf(const RegistryRow& row, const ServedExtension* served,
                    const ServerTexts& texts) {
    switch (row.data) {
        case Data::Literal:
            return row.text;
        case Data::ServerPath:
            return texts.serverPath;
        case Data::IconText:
            return texts.iconText;
        case Data::FileCommand:
            return texts.fileCommand;
        case Data::BackgroundCommand:
            return texts.backgroundCommand;
        case Data::ContentType:
            return served->contentType;
        case Data::PreviewDetails:
            return served->previewDetails;
        case Data::InfoTip:
            return served->infoTip;
    }
    return {};
}

// The key a stage writes beneath: its rows' keys are relative to it, and
// removal never deletes it, however empty.
std::wstring anchorOf(Stage stage) {
    switch (stage) {
        case Stage::Classes:
        case Stage::Extensions:
        case Stage::Folders:
            return kClassesKey;
        case Stage::PreviewList:
            return kPreviewHandlersKey;
        case Stage::PropertyHandlers:
            return kPropertyHandlersKey;
    }
    return kClassesKey;
}

std::wstring pathOf(Stage stage, const std::wstring& key) {
    return key.empty() ? anchorOf(stage) : anchorOf(stage) + L"\\" + key;
}

bool setText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    RegistryKey key;
    if (!key.create(root, path.c_str(), KEY_WRITE)) return false;
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          bytes) == ERROR_SUCCESS;
}

void deleteValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    RegistryKey key;
    if (key.open(root, path.c_str(), KEY_SET_VALUE)) RegDeleteValueW(key.get(), name);
}

bool valueExists(HKEY root, const std::wstring& path, const wchar_t* name) {
    RegistryKey key;
    return key.open(root, path.c_str(), KEY_QUERY_VALUE) &&
           RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool isShared(const RegistryRow& row) {
    return row.removal == Removal::Shared || row.removal == Removal::SharedType;
}

// Every extension of the table for per-extension rows, or one pass without.
std::vector<const ServedExtension*> targetsOf(Stage stage) {
    if (stage == Stage::Classes || stage == Stage::Folders || stage == Stage::PreviewList)
        return {nullptr};
    std::vector<const ServedExtension*> targets;
    for (const auto& served : kServedExtensions) targets.push_back(&served);
    return targets;
}

// Calls `visit(row, path, data)` for the stage's rows that apply to `served`.
template <typename Visit>
void forEachRow(Stage stage, const ServedExtension* served, const ServerTexts& texts, Visit visit) {
    for (const RegistryRow& row : registryRows()) {
        if (row.stage != stage || !applies(row, served)) continue;
        if (!visit(row, pathOf(stage, keyOf(row, served)), dataOf(row, served, texts))) return;
    }
}

// Whether another program has set a content or perceived type of an
// extension that yields them.
bool fileTypeTaken(HKEY root, const ServedExtension* served, const ServerTexts& texts) {
    if (served == nullptr || !served->yieldsFileType) return false;
    bool taken = false;
    forEachRow(Stage::Extensions, served, texts,
               [&](const RegistryRow& row, const std::wstring& path, const std::wstring& data) {
                   taken = row.removal == Removal::SharedType &&
                           valueExists(root, path, valueName(row)) &&
                           !registryTextEquals(root, path.c_str(), valueName(row), data);
                   return !taken;
               });
    return taken;
}

// Another program's value is kept before Corvane's replaces it; one that
// cannot be kept is not replaced. Corvane's own is never kept, so
// registering again keeps nothing more.
bool writeRow(HKEY root, const RegistryRow& row, const std::wstring& path,
              const std::wstring& data) {
    const wchar_t* name = valueName(row);
    if (isShared(row) && !registryTextEquals(root, path.c_str(), name, data) &&
        !keepReplacedValue(root, path, name)) {
        return false;
    }
    return setText(root, path, name, data);
}

// Writes the stage's rows in table order, extension by extension, skipping
// extensions switched off under the root; false at the first required row
// that could not be written.
bool writeStage(Stage stage, HKEY root, const ServerTexts& texts) {
    for (const ServedExtension* served : targetsOf(stage)) {
        if (served != nullptr && !extensionEnabled(root, served->extension)) continue;
        const bool typeTaken = fileTypeTaken(root, served, texts);
        bool written = true;
        forEachRow(stage, served, texts,
                   [&](const RegistryRow& row, const std::wstring& path, const std::wstring& data) {
                       if (typeTaken && row.removal == Removal::SharedType) return true;
                       written = writeRow(root, row, path, data) || !row.required;
                       return written;
                   });
        if (!written) return false;
    }
    return true;
}

void removeRow(HKEY root, const RegistryRow& row, const std::wstring& path,
               const std::wstring& data) {
    const wchar_t* name = valueName(row);
    switch (row.removal) {
        case Removal::None:
            break;
        case Removal::Tree:
            RegDeleteTreeW(root, path.c_str());
            break;
        case Removal::Value:
            deleteValue(root, path, name);
            break;
        case Removal::Shared:
        case Removal::SharedType:
            if (!registryTextEquals(root, path.c_str(), name, data)) break;
            if (!giveBackReplacedValue(root, path, name) && row.removal == Removal::Shared)
                deleteValue(root, path, name);
            break;
    }
}

// Removes the stage's rows for every extension, whatever its switch, then
// the keys on their paths that this leaves empty.
void removeStage(Stage stage, HKEY root, const ServerTexts& texts) {
    for (const ServedExtension* served : targetsOf(stage)) {
        forEachRow(stage, served, texts,
                   [&](const RegistryRow& row, const std::wstring& path, const std::wstring& data) {
                       removeRow(root, row, path, data);
                       return true;
                   });
    }
    for (const ServedExtension* served : targetsOf(stage)) {
        for (const RegistryRow& row : registryRows()) {
            if (row.stage == stage && applies(row, served))
                deleteEmptyKeys(root, anchorOf(stage), keyOf(row, served));
        }
    }
}

// Schema calls want a single-threaded apartment; a thread already in another
// apartment keeps it. Every successful initialisation, S_FALSE included, counts
// and is balanced, or each registration from a host with COM running would
// leave one more behind.
template <typename Call>
HRESULT inSingleThreadedApartment(Call call) {
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT result = call();
    if (SUCCEEDED(initialised)) CoUninitialize();
    return result;
}

HRESULT registerMachineWide(const std::wstring& serverPath, const RegistrationSystem& system,
                            const ServerTexts& texts) {
    HRESULT result = S_OK;
    if (!writeStage(Stage::PreviewList, system.machineRoot, texts)) result = E_ACCESSDENIED;
    if (!writeStage(Stage::PropertyHandlers, system.machineRoot, texts)) return E_ACCESSDENIED;
    const std::wstring schema = schemaPathBeside(serverPath);
    if (!isFile(schema)) return FAILED(result) ? result : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const HRESULT registered = system.registerSchema(schema);
    return FAILED(result) || SUCCEEDED(registered) ? result : registered;
}

void unregisterSchema(const std::wstring& serverPath, const RegistrationSystem& system) {
    if (serverPath.empty()) return;
    const std::wstring schema = schemaPathBeside(serverPath);
    if (isFile(schema)) system.unregisterSchema(schema);
}

}  // namespace

const wchar_t* servedExtension(std::size_t index) {
    return kServedExtensions[index].extension;
}

bool processIsElevated() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const KernelHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) !=
               FALSE &&
           elevation.TokenIsElevated != 0;
}

void notifyAssociationsChanged() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

HRESULT registerPropertySchema(const std::wstring& schemaPath) {
    return inSingleThreadedApartment([&] { return PSRegisterPropertySchema(schemaPath.c_str()); });
}

HRESULT unregisterPropertySchema(const std::wstring& schemaPath) {
    return inSingleThreadedApartment(
        [&] { return PSUnregisterPropertySchema(schemaPath.c_str()); });
}

// A path that fills the buffer was cut short: registering it would point the
// shell at a file that does not exist.
HRESULT serverFilePath(std::wstring& path) {
    wchar_t buffer[kServerPathCapacity] = {};
    const DWORD length = GetModuleFileNameW(moduleHandle(), buffer, kServerPathCapacity);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length >= kServerPathCapacity) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

// Only the file name's extension is replaced: a dot in a folder name is not one.
std::wstring schemaPathBeside(const std::wstring& serverPath) {
    const auto slash = serverPath.rfind(L'\\');
    const auto dot = serverPath.rfind(L'.');
    const bool hasExtension =
        dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    return (hasExtension ? serverPath.substr(0, dot) : serverPath) + kSchemaExtension;
}

HRESULT registerServer(InstallRoot root, const std::wstring& serverPath,
                       const RegistrationSystem& system) {
    if (serverPath.empty()) return E_INVALIDARG;
    const ServerTexts texts = serverTexts(serverPath);
    const HKEY base = system.rootKey(root);
    if (!RegistryKey().create(base, kClassesKey, KEY_WRITE)) return E_ACCESSDENIED;
    HRESULT result = S_OK;
    if (!writeStage(Stage::Classes, base, texts) || !writeStage(Stage::Extensions, base, texts))
        result = E_ACCESSDENIED;
    writeStage(Stage::Folders, base, texts);
    if (FAILED(result) || root != InstallRoot::Machine) return result;
    return registerMachineWide(serverPath, system, texts);
}

void unregisterServer(InstallRoot root, const std::wstring& serverPath,
                      const RegistrationSystem& system) {
    const ServerTexts texts = serverTexts(serverPath);
    const HKEY base = system.rootKey(root);
    for (const Stage stage : {Stage::Classes, Stage::Extensions, Stage::Folders})
        removeStage(stage, base, texts);
    if (root == InstallRoot::Machine) {
        removeStage(Stage::PropertyHandlers, base, texts);
        removeStage(Stage::PreviewList, base, texts);
    }
    forgetReplacedValues(base);
    if (root == InstallRoot::Machine) unregisterSchema(serverPath, system);
}

namespace {

HRESULT registerAndNotify(InstallRoot root, const std::wstring& serverPath,
                          const RegistrationSystem& system) {
    const HRESULT result = registerServer(root, serverPath, system);
    if (SUCCEEDED(result)) system.notifyShell();
    return result;
}

}  // namespace

HRESULT registerForToken(const std::wstring& serverPath, const RegistrationSystem& system) {
    return registerAndNotify(system.elevated() ? InstallRoot::Machine : InstallRoot::User,
                             serverPath, system);
}

HRESULT unregisterForToken(const std::wstring& serverPath, const RegistrationSystem& system) {
    unregisterServer(InstallRoot::User, serverPath, system);
    if (system.elevated()) unregisterServer(InstallRoot::Machine, serverPath, system);
    system.notifyShell();
    return S_OK;
}

HRESULT installUnderRoot(bool install, const wchar_t* rootName, const std::wstring& serverPath,
                         const RegistrationSystem& system) {
    const auto named = [rootName](const wchar_t* name) {
        return rootName != nullptr &&
               CompareStringOrdinal(rootName, -1, name, -1, TRUE) == CSTR_EQUAL;
    };
    if (!named(L"user") && !named(L"machine")) return E_INVALIDARG;
    const InstallRoot root = named(L"machine") ? InstallRoot::Machine : InstallRoot::User;
    if (install) return registerAndNotify(root, serverPath, system);
    unregisterServer(root, serverPath, system);
    system.notifyShell();
    return S_OK;
}

}  // namespace cvwin
