// Registration read back from the registry. The layout tests write under
// scratch roots with the token, the shell notification and the schema calls
// replaced; the last tests drive the real DLL through regsvr32 and COM.
#include <windows.h>
#include <propsys.h>
#include <thumbcache.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "shell/class_ids_win.h"
#include "shell/registration_win.h"
#include "windows/beside_tests.h"
#include "windows/documented_registration.h"
#include "windows/test_process.h"
#include "windows/thumbnail_helpers.h"

namespace {

using cvtest::besideTests;
using cvtest::keyExists;

using cvtest::documentedClasses;
using cvtest::documentedLists;
using cvtest::keptContentTypes;
using cvtest::kPreviews;
using cvtest::kProperties;
using cvtest::kReplacedValues;
using cvtest::kServed;
using cvtest::kThumbnails;
using cvtest::Lines;
using cvtest::narrow;
using cvtest::Served;
using cvtest::sorted;
using cvtest::widen;

constexpr const wchar_t* kScratch = L"Software\\CorvaneTests\\Registration";
constexpr const char* kAnotherClass = "{11111111-2222-3333-4444-555555555555}";
constexpr const wchar_t* kClassesKey = L"Software\\Classes";
constexpr const wchar_t* kShellLists = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr DWORD kProcessWait = 60000;  // ms for regsvr32 under a warm Wine
constexpr const wchar_t* kAssociations = L"Software\\Classes\\SystemFileAssociations\\";
constexpr const wchar_t* kThumbnailPoint = L"\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}";
constexpr const wchar_t* kPreviewPoint = L"\\ShellEx\\{8895B1C6-B41F-4C1C-A562-0D564250836F}";

// A terminated text as itself; any other value, an unterminated text
// included, as its type and bytes.
std::wstring shown(DWORD type, const BYTE* data, DWORD size) {
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    const DWORD characters = size / sizeof(wchar_t);
    if (type == REG_SZ && size % sizeof(wchar_t) == 0 && characters > 0 &&
        text[characters - 1] == L'\0')
        return text;
    std::wstring bytes = L"type " + std::to_wstring(type) + L":";
    constexpr const wchar_t* kDigits = L"0123456789abcdef";
    for (DWORD i = 0; i < size; ++i) bytes += {L' ', kDigits[data[i] >> 4], kDigits[data[i] & 15]};
    return bytes;
}

// Every value below `path` as "key|name=data" (key relative to `path`, "@"
// for a default value), and every empty key below it as "key|(empty)".
void collect(HKEY root, const std::wstring& path, const std::wstring& relative, Lines& lines) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const std::size_t before = lines.size();
    wchar_t name[256];
    BYTE data[2048];
    LSTATUS status = ERROR_SUCCESS;
    for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
        DWORD nameLength = 256;
        DWORD size = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        std::fill(std::begin(data), std::end(data), 0);
        status = RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size);
        if (status != ERROR_SUCCESS) break;
        lines.push_back(narrow(relative + L"|" + (nameLength == 0 ? L"@" : name) + L"=" +
                               shown(type, data, size)));
    }
    EXPECT_EQ(status, ERROR_NO_MORE_ITEMS) << "values of " << narrow(path);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        collect(root, path.empty() ? name : path + L"\\" + name,
                relative.empty() ? name : relative + L"\\" + name, lines);
    }
    if (lines.size() == before && !relative.empty()) lines.push_back(narrow(relative) + "|(empty)");
    RegCloseKey(key);
}

Lines dump(HKEY root, const std::wstring& path) {
    Lines lines;
    collect(root, path, L"", lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

HKEY createKey(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    return key;
}

void setText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(RegSetKeyValueW(root, path.c_str(), name, REG_SZ, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// A value as stored: its type and bytes.
using Stored = std::pair<DWORD, std::vector<BYTE>>;

Stored storedText(const std::wstring& text, DWORD type = REG_SZ, std::size_t terminators = 1) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {type, {bytes, bytes + (text.size() + terminators) * sizeof(wchar_t)}};
}

// A character other than NUL after the bytes, or the registry counts a
// missing terminator in.
void store(HKEY root, const std::wstring& path, const wchar_t* name, Stored value) {
    const auto size = static_cast<DWORD>(value.second.size());
    value.second.insert(value.second.end(), sizeof(wchar_t), BYTE{0xFF});
    ASSERT_EQ(RegSetKeyValueW(root, path.c_str(), name, value.first, value.second.data(), size),
              ERROR_SUCCESS);
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
        user_ = createKey(HKEY_CURRENT_USER, std::wstring(kScratch) + L"\\User");
        machine_ = createKey(HKEY_CURRENT_USER, std::wstring(kScratch) + L"\\Machine");
        system_.userRoot = user_;
        system_.machineRoot = machine_;
        system_.elevated = [this] { return elevated_; };
        system_.notifyShell = [this] { ++notifications_; };
        system_.registerSchema = [this](const std::wstring& path) {
            registeredSchemas_.push_back(path);
            return schemaAnswer_;
        };
        system_.unregisterSchema = [this](const std::wstring& path) {
            unregisteredSchemas_.push_back(path);
            return S_OK;
        };
    }
    void TearDown() override {
        RegCloseKey(user_);
        RegCloseKey(machine_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    }
    void setSwitch(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetKeyValueW(root, L"Software\\Mirelith\\Corvane", name, type, data, size),
                  ERROR_SUCCESS);
    }
    HKEY root(cvwin::InstallRoot root) const {
        return root == cvwin::InstallRoot::Machine ? machine_ : user_;
    }
    void startAfresh() {
        RegDeleteTreeW(user_, L"Software");
        RegDeleteTreeW(machine_, L"Software");
        notifications_ = 0;
        registeredSchemas_.clear();
        schemaAnswer_ = S_OK;
    }

    // Beside the test programs lies Corvane.propdesc, as beside an installed server.
    const std::wstring server_ = besideTests(L"Corvane.dll");
    HKEY user_ = nullptr;
    HKEY machine_ = nullptr;
    bool elevated_ = false;
    int notifications_ = 0;
    HRESULT schemaAnswer_ = S_OK;
    std::vector<std::wstring> registeredSchemas_;
    std::vector<std::wstring> unregisteredSchemas_;
    cvwin::RegistrationSystem system_;
};

TEST_F(Registration, PerUserWritesTheDocumentedKeysAndNothingMachineWide) {
    ASSERT_EQ(cvwin::registerForToken(server_, system_), S_OK);
    EXPECT_EQ(dump(user_, kClassesKey), documentedClasses(narrow(server_)));
    EXPECT_EQ(dump(machine_, L""), Lines{});
    EXPECT_EQ(dump(user_, L"").size(), documentedClasses(narrow(server_)).size())
        << "the dump sees below its root";
    EXPECT_EQ(notifications_, 1);
    EXPECT_TRUE(registeredSchemas_.empty());
}

TEST_F(Registration, MachineWideAddsTheListsAndTheSchemaBesideTheServer) {
    elevated_ = true;
    ASSERT_EQ(cvwin::registerForToken(server_, system_), S_OK);
    EXPECT_EQ(dump(machine_, kClassesKey), documentedClasses(narrow(server_)));
    EXPECT_EQ(dump(machine_, kShellLists), documentedLists());
    EXPECT_EQ(registeredSchemas_, std::vector<std::wstring>{besideTests(L"Corvane.propdesc")});
    EXPECT_EQ(notifications_, 1);
    EXPECT_EQ(dump(user_, L""), Lines{});
}

TEST_F(Registration, MachineWideWithoutASchemaWritesTheKeysButReportsTheMissingFile) {
    elevated_ = true;
    const std::wstring elsewhere = L"C:\\No schema.here\\Corvane.dll";
    EXPECT_EQ(cvwin::registerForToken(elsewhere, system_),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(dump(machine_, kClassesKey), documentedClasses(narrow(elsewhere)));
    EXPECT_EQ(dump(machine_, kShellLists), documentedLists());
    EXPECT_TRUE(registeredSchemas_.empty());
    EXPECT_EQ(notifications_, 0) << "a failed registration is not announced";
}

TEST_F(Registration, SwitchesUnderTheSameRootLeaveSingleExtensionsToOtherPrograms) {
    using enum cvwin::InstallRoot;
    const DWORD off = 0;
    const wchar_t text[] = L"0";
    struct Case {
        cvwin::InstallRoot switchRoot;
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
        cvwin::InstallRoot registered;
        std::vector<std::pair<const wchar_t*, bool>> served;
    };
    const Case cases[] = {
        {User,
         L"Registerseq",
         REG_DWORD,
         &off,
         sizeof off,
         User,
         {{L".seq", false}, {L".xpsm", true}}},
        {User, L"Registerseq", REG_SZ, text, sizeof text, User, {{L".seq", true}}},
        {User,
         L"Registerfits",
         REG_DWORD,
         &off,
         sizeof off,
         User,
         {{L".fits", false}, {L".fit", true}, {L".fts", true}}},
        {Machine,
         L"Registerxisf",
         REG_DWORD,
         &off,
         sizeof off,
         Machine,
         {{L".xisf", false}, {L".fits", true}}},
        {User, L"Registerxisf", REG_DWORD, &off, sizeof off, Machine, {{L".xisf", true}}},
        {Machine, L"Registerfz", REG_DWORD, &off, sizeof off, Machine, {{L".fz", false}}},
    };
    for (const Case& c : cases) {
        startAfresh();
        setSwitch(root(c.switchRoot), c.name, c.type, c.data, c.size);
        ASSERT_EQ(cvwin::installUnderRoot(true, c.registered == Machine ? L"machine" : L"user",
                                          server_, system_),
                  S_OK);
        for (const auto& [extension, served] : c.served) {
            const std::wstring association =
                std::wstring(L"Software\\Classes\\SystemFileAssociations\\") + extension;
            EXPECT_EQ(keyExists(root(c.registered), association), served)
                << narrow(c.name) << " type " << c.type << ": " << narrow(extension);
            if (c.registered != Machine) continue;
            const std::wstring handler =
                std::wstring(kShellLists) + L"\\PropertySystem\\PropertyHandlers\\" + extension;
            EXPECT_EQ(keyExists(machine_, handler), served)
                << narrow(c.name) << ": " << narrow(extension);
        }
    }
}

TEST_F(Registration, ASwitchedOffExtensionKeepsItsKeysUntilRemoval) {
    ASSERT_EQ(cvwin::installUnderRoot(true, L"user", server_, system_), S_OK);
    const DWORD off = 0;
    setSwitch(user_, L"Registerseq", REG_DWORD, &off, sizeof off);
    const std::wstring seq = L"Software\\Classes\\SystemFileAssociations\\.seq";
    ASSERT_EQ(cvwin::installUnderRoot(true, L"user", server_, system_), S_OK);
    EXPECT_TRUE(keyExists(user_, seq + L"\\ShellEx\\{8895B1C6-B41F-4C1C-A562-0D564250836F}"));
    ASSERT_EQ(cvwin::installUnderRoot(false, L"user", server_, system_), S_OK);
    EXPECT_EQ(dump(user_, seq), Lines{}) << "removal takes every extension, whatever its switch";
}

TEST_F(Registration, RemovalLeavesContentTypesAndWhatOtherProgramsHaveTaken) {
    ASSERT_EQ(cvwin::installUnderRoot(true, L"user", server_, system_), S_OK);
    ASSERT_EQ(cvwin::installUnderRoot(true, L"machine", server_, system_), S_OK);
    const Lines machineClasses = dump(machine_, kClassesKey);
    // Another program took some shared keys and values after Corvane; one
    // key still names Corvane, in lower case.
    const std::wstring associations = kAssociations;
    const std::wstring thumbnailPoint = kThumbnailPoint;
    const std::wstring previewPoint = kPreviewPoint;
    setText(user_, associations + L".fits" + thumbnailPoint, nullptr, widen(kAnotherClass));
    setText(user_, associations + L".xpsm" + previewPoint, nullptr, widen(kAnotherClass));
    setText(user_, associations + L".xpsm", L"PreviewDetails", L"prop:System.Size");
    setText(user_, associations + L".seq", L"InfoTip", L"prop:System.Size");
    std::wstring lowerCase = widen(kThumbnails);
    CharLowerW(lowerCase.data());
    setText(user_, associations + L".fts" + thumbnailPoint, nullptr, lowerCase);
    notifications_ = 0;

    EXPECT_EQ(cvwin::unregisterForToken(server_, system_), S_OK);
    Lines kept = keptContentTypes();
    kept.push_back("SystemFileAssociations\\.fits" + narrow(thumbnailPoint) +
                   "|@=" + kAnotherClass);
    kept.push_back("SystemFileAssociations\\.xpsm" + narrow(previewPoint) + "|@=" + kAnotherClass);
    kept.push_back("SystemFileAssociations\\.xpsm|PreviewDetails=prop:System.Size");
    kept.push_back("SystemFileAssociations\\.seq|InfoTip=prop:System.Size");
    EXPECT_EQ(dump(user_, kClassesKey), sorted(kept));
    EXPECT_EQ(dump(machine_, kClassesKey), machineClasses)
        << "without elevation the machine is left alone";
    EXPECT_EQ(notifications_, 1);

    setText(machine_, std::wstring(kShellLists) + L"\\PropertySystem\\PropertyHandlers\\.xisf",
            nullptr, widen(kAnotherClass));
    elevated_ = true;
    EXPECT_EQ(cvwin::unregisterForToken(server_, system_), S_OK);
    EXPECT_EQ(dump(machine_, kClassesKey), keptContentTypes());
    EXPECT_EQ(dump(machine_, kShellLists),
              sorted({"PreviewHandlers|(empty)",
                      std::string("PropertySystem\\PropertyHandlers\\.xisf|@=") + kAnotherClass}));
    EXPECT_EQ(unregisteredSchemas_, std::vector<std::wstring>{besideTests(L"Corvane.propdesc")});
}

TEST_F(Registration, AnotherProgramsValuesAreKeptWhileRegisteredAndGivenBackByRemoval) {
    const std::wstring another = widen(kAnotherClass);
    const std::wstring kept = widen(kReplacedValues);
    for (const bool machine : {false, true}) {
        startAfresh();
        const HKEY base = machine ? machine_ : user_;
        const wchar_t* rootName = machine ? L"machine" : L"user";
        // Handlers and lists as programs leave them: unterminated, expandable.
        std::vector<std::tuple<std::wstring, const wchar_t*, Stored>> replaced{
            {kAssociations + std::wstring(L".fits") + kThumbnailPoint, nullptr,
             storedText(another)},
            {kAssociations + std::wstring(L".xisf") + kPreviewPoint, nullptr,
             storedText(another, REG_SZ, 0)},
            {kAssociations + std::wstring(L".seq"), L"PreviewDetails",
             storedText(L"prop:System.Size")},
            {kAssociations + std::wstring(L".xpsm"), L"InfoTip",
             storedText(L"prop:System.Title", REG_EXPAND_SZ)},
            {L"Software\\Classes\\.fts", L"Content Type", storedText(L"image/x-fits")}};
        if (machine) {
            replaced.push_back(
                {std::wstring(kShellLists) + L"\\PropertySystem\\PropertyHandlers\\.fits", nullptr,
                 storedText(another)});
        }
        for (const auto& [path, name, value] : replaced) store(base, path, name, value);
        // A sports-watch program's ".fit" types, both or one alone, are never replaced.
        Lines registered = documentedClasses(narrow(server_));
        std::erase_if(registered,
                      [](const std::string& line) { return line.starts_with(".fit|"); });
        std::vector<std::pair<const wchar_t*, const wchar_t*>> watch{
            {L"PerceivedType", L"document"}};
        if (!machine) watch.push_back({L"Content Type", L"application/vnd.ant.fit"});
        for (const auto& [name, text] : watch) {
            setText(base, L"Software\\Classes\\.fit", name, text);
            registered.push_back(".fit|" + narrow(name) + "=" + narrow(text));
        }
        const Lines before = dump(base, L"");
        Lines notFit = before;
        std::erase_if(notFit, [](const std::string& line) {
            return line.starts_with("Software\\Classes\\.fit|");
        });
        ASSERT_EQ(cvwin::installUnderRoot(false, rootName, server_, system_), S_OK);
        EXPECT_EQ(dump(base, L""), before) << rootName << ": removal with nothing registered";

        for (int time = 1; time <= 2; ++time) {
            ASSERT_EQ(cvwin::installUnderRoot(true, rootName, server_, system_), S_OK);
            EXPECT_EQ(dump(base, kClassesKey), sorted(registered)) << rootName << " x" << time;
            if (machine) {
                EXPECT_EQ(dump(base, kShellLists), documentedLists());
            }
            EXPECT_EQ(dump(base, kept), notFit) << rootName << " x" << time << ": the copies";
        }

        ASSERT_EQ(cvwin::installUnderRoot(false, rootName, server_, system_), S_OK);
        // Beside them: content types Corvane wrote where none stood, and the
        // machine's preview list, kept as Windows' own lists are.
        Lines after = before;
        for (const std::string& line : cvtest::keptContentTypes()) {
            if (!line.starts_with(".fit|") && line != ".fts|Content Type=image/fits")
                after.push_back("Software\\Classes\\" + line);
        }
        if (machine)
            after.push_back(narrow(std::wstring(kShellLists)) + "\\PreviewHandlers|(empty)");
        EXPECT_EQ(dump(base, L""), sorted(after)) << rootName;
    }
}

TEST_F(Registration, WhatChangedSinceOrCannotBeKeptIsLeftAsItIs) {
    const std::wstring thumbnail = kAssociations + std::wstring(L".fits") + kThumbnailPoint;
    const std::wstring third = L"{99999999-8888-7777-6666-555555555555}";
    setText(user_, thumbnail, nullptr, widen(kAnotherClass));
    ASSERT_EQ(cvwin::installUnderRoot(true, L"user", server_, system_), S_OK);
    setText(user_, thumbnail, nullptr, third);
    ASSERT_EQ(cvwin::installUnderRoot(false, L"user", server_, system_), S_OK);
    EXPECT_EQ(dump(user_, thumbnail), Lines{"|@=" + narrow(third)});
    EXPECT_FALSE(keyExists(user_, L"Software\\Mirelith")) << "the copy is gone";

    const Stored large{REG_BINARY, std::vector<BYTE>(64 * 1024 + 1, 0x5A)};  // over 64 KiB kept
    store(user_, thumbnail, nullptr, large);
    EXPECT_EQ(cvwin::installUnderRoot(true, L"user", server_, system_), E_ACCESSDENIED);
    DWORD size = 0;
    EXPECT_EQ(
        RegGetValueW(user_, thumbnail.c_str(), nullptr, RRF_RT_REG_BINARY, nullptr, nullptr, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, large.second.size());
}

TEST_F(Registration, RefusesWhatItCannotDoWithoutAnnouncingIt) {
    EXPECT_EQ(cvwin::registerServer(cvwin::InstallRoot::User, L"", system_), E_INVALIDARG);
    EXPECT_EQ(cvwin::installUnderRoot(true, L"everyone", server_, system_), E_INVALIDARG);
    EXPECT_EQ(cvwin::installUnderRoot(false, nullptr, server_, system_), E_INVALIDARG);
    RegDeleteTreeW(HKEY_CURRENT_USER,
                   (std::wstring(kScratch) + L"\\User").c_str());  // the open root goes stale
    EXPECT_EQ(cvwin::registerForToken(server_, system_), E_ACCESSDENIED);
    EXPECT_EQ(notifications_, 0);
    EXPECT_EQ(cvwin::schemaPathBeside(L"C:\\a.b\\Corvane"), L"C:\\a.b\\Corvane.propdesc");
}

// A volatile key refuses lasting children (ERROR_CHILD_MUST_BE_VOLATILE),
// which stands for a key registration is not allowed to write.
void makeVolatile(HKEY root, const std::wstring& parent, const std::wstring& name) {
    RegCloseKey(createKey(root, parent));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, (parent + L"\\" + name).c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Registration, AFailureStopsWhereItShouldAndIsNotAnnounced) {
    using enum cvwin::InstallRoot;
    const std::wstring handlers = std::wstring(kShellLists) + L"\\PropertySystem\\PropertyHandlers";
    struct Case {
        const char* what;
        cvwin::InstallRoot root;
        std::wstring volatileParent;
        std::wstring volatileName;
        bool handlersBeforehand;  // the handler keys already there, so only the preview list fails
        HRESULT schemaAnswer;
        HRESULT expected;
        std::size_t schemaCalls;
        std::wstring present;
        std::wstring absent;
    };
    const Case cases[] = {
        {"a class key", User, kClassesKey, L"CLSID", false, S_OK, E_ACCESSDENIED, 0,
         L"Software\\Classes\\Directory\\Background\\shell\\CorvaneRefresh\\command",
         L"Software\\Classes\\SystemFileAssociations"},
        {"an association", User, kClassesKey, L"SystemFileAssociations", false, S_OK,
         E_ACCESSDENIED, 0, L"Software\\Classes\\Directory\\shell\\CorvaneRefresh\\command",
         L"Software\\Classes\\.xisf"},
        {"the preview list", Machine, L"Software\\Microsoft\\Windows", L"CurrentVersion", true,
         S_OK, E_ACCESSDENIED, 1, handlers + L"\\.seq",
         std::wstring(kShellLists) + L"\\PreviewHandlers"},
        {"a property handler", Machine, L"Software\\Microsoft\\Windows", L"CurrentVersion", false,
         S_OK, E_ACCESSDENIED, 0, L"Software\\Classes\\Directory\\shell\\CorvaneRefresh", handlers},
        {"the schema", Machine, L"Software\\Corvane", L"Unused", false, E_FAIL, E_FAIL, 1,
         handlers + L"\\.seq", L"None"},
    };
    for (const Case& c : cases) {
        startAfresh();
        schemaAnswer_ = c.schemaAnswer;
        makeVolatile(root(c.root), c.volatileParent, c.volatileName);
        for (const Served& served : kServed) {
            if (!c.handlersBeforehand) break;
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(
                          machine_, (handlers + L"\\" + widen(served.extension)).c_str(), 0,
                          nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
        EXPECT_EQ(cvwin::installUnderRoot(true, c.root == Machine ? L"machine" : L"user", server_,
                                          system_),
                  c.expected)
            << c.what;
        EXPECT_EQ(registeredSchemas_.size(), c.schemaCalls) << c.what;
        EXPECT_TRUE(keyExists(root(c.root), c.present)) << c.what << ": " << narrow(c.present);
        EXPECT_FALSE(keyExists(root(c.root), c.absent)) << c.what << ": " << narrow(c.absent);
        EXPECT_EQ(notifications_, 0) << c.what;
    }
}

// regsvr32 as an administrator runs it; Wine's token is always elevated.
DWORD regsvr32(const std::wstring& arguments) {
    return cvtest::runToEnd(
        L"regsvr32.exe " + arguments + L" \"" + besideTests(L"Corvane.dll") + L"\"", kProcessWait);
}

// Removes a real registration however the test ends, so the prefix stays clean.
struct RemovedAtEnd {
    const wchar_t* arguments;
    ~RemovedAtEnd() { regsvr32(arguments); }
};

std::wstring classKey(const char* clsid) {
    return L"Software\\Classes\\CLSID\\" + widen(clsid);
}

template <typename Interface>
Interface* initialisedThroughCom(const CLSID& clsid, const std::string& bytes) {
    IInitializeWithStream* initialize = nullptr;
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IInitializeWithStream),
                         reinterpret_cast<void**>(&initialize)),
        S_OK);
    if (initialize == nullptr) return nullptr;
    IStream* stream = cvtest::memoryStream(bytes);
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    stream->Release();
    Interface* object = nullptr;
    EXPECT_EQ(initialize->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(&object)),
              S_OK);
    initialize->Release();
    return object;
}

TEST(RegisteredServer, Regsvr32RegistersMachineWideAndComFindsTheClasses) {
    const RemovedAtEnd removal{L"/u /s"};
    ASSERT_EQ(regsvr32(L"/s"), 0u);
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    ASSERT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, (classKey(kThumbnails) + L"\\InprocServer32").c_str(),
                     nullptr, RRF_RT_REG_SZ, nullptr, path, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(CompareStringOrdinal(path, -1, besideTests(L"Corvane.dll").c_str(), -1, TRUE),
              CSTR_EQUAL);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE,
                          std::wstring(kShellLists) + L"\\PropertySystem\\PropertyHandlers\\.seq"));

    IThumbnailProvider* provider = initialisedThroughCom<IThumbnailProvider>(
        cvwin::kThumbnailProviderClsid, cvtest::generatedSample("bitpix16.fits"));
    ASSERT_NE(provider, nullptr);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), S_OK);
    BITMAP shape{};
    EXPECT_NE(GetObjectW(bitmap, sizeof shape, &shape), 0);
    EXPECT_EQ(std::max(shape.bmWidth, shape.bmHeight), 64);
    DeleteObject(bitmap);
    provider->Release();
    IPropertyStore* store = initialisedThroughCom<IPropertyStore>(
        cvwin::kPropertyStoreClsid, cvtest::generatedSample("bitpix16.fits"));
    ASSERT_NE(store, nullptr);
    DWORD count = 0;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_GT(count, 0u);
    store->Release();

    ASSERT_EQ(regsvr32(L"/u /s"), 0u);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, classKey(kThumbnails)));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, std::wstring(kShellLists) +
                                                   L"\\PropertySystem\\PropertyHandlers\\.seq"));
    EXPECT_NE(
        RegGetValueW(HKEY_LOCAL_MACHINE, (std::wstring(kShellLists) + L"\\PreviewHandlers").c_str(),
                     widen(kPreviews).c_str(), RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
        ERROR_SUCCESS);
}

TEST(RegisteredServer, DllInstallRegistersForTheCurrentUserWhateverTheToken) {
    const RemovedAtEnd removal{L"/u /s /n /i:user"};
    ASSERT_EQ(regsvr32(L"/s /n /i:user"), 0u);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, classKey(kPreviews)));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, classKey(kPreviews)));
    ASSERT_EQ(regsvr32(L"/u /s /n /i:user"), 0u);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, classKey(kPreviews)));
}

}  // namespace
