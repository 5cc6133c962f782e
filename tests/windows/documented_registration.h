#pragma once

// The registry layout registration writes, written out by hand from the
// documented keys: the registration tests and the installer's compare with it.
#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace cvtest {

inline constexpr const char* kThumbnails = "{1471463E-2231-4DB4-8833-62E2EA47742C}";
inline constexpr const char* kProperties = "{038EA380-913F-4DD4-A6D7-C99C2A44A9C5}";
inline constexpr const char* kPreviews = "{37D924B7-D0BB-4882-883C-8C1646365A50}";

// Where registration keeps another program's values it replaced, in the
// root it registers under: each below its own key path from the root, under
// its own name, type and bytes unchanged. Removal gives them back and drops
// the key; it is there only while something is kept.
inline constexpr const char* kReplacedValues = "Software\\Mirelith\\Corvane\\ReplacedValues";

using Lines = std::vector<std::string>;

inline std::string narrow(const std::wstring& text) {
    return {text.begin(), text.end()};
}
inline std::wstring widen(const std::string& text) {
    return {text.begin(), text.end()};
}

inline Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('\\') + 1);
}

// A content or perceived type another program set for ".fit" (also the
// sports watches' FIT) stays, and Corvane's are then not written.
struct Served {
    const char* extension;
    const char* contentType;  // null: none
    bool thumbnails;
};

inline constexpr Served kServed[] = {
    {".xisf", "image/x-xisf", true},
    {".fits", "image/fits", true},
    {".fit", "image/fits", true},
    {".fts", "image/fits", true},
    {".vmproj", "application/x-vmproj", true},
    {".xpsm", nullptr, false},
    {".seq", nullptr, false},
    {".fz", "image/fits", true},
};

inline const char* const kPreviewDetails[] = {
    "prop:System.ItemTypeText;Corvane.ProcessIcons;Corvane.Processes;System.DateModified;System."
    "Size",
    "prop:System.ItemTypeText;Corvane.Frames;Corvane.SelectedFrames;Corvane.FWHM;System."
    "DateModified;System.Size"};
inline const char* const kInfoTips[] = {
    "prop:System.ItemTypeText;Corvane.ProcessIcons;Corvane.Processes;System.Size",
    "prop:System.ItemTypeText;Corvane.Frames;Corvane.SelectedFrames;Corvane.FWHM;System.Size"};

inline Lines contentTypeLines(const Served& served) {
    Lines lines;
    if (served.contentType == nullptr) return lines;
    const std::string type = served.contentType;
    if (type.starts_with("image/"))
        lines.push_back(std::string(served.extension) + "|PerceivedType=image");
    lines.push_back(std::string(served.extension) + "|Content Type=" + type);
    return lines;
}

// What registration writes under Software\Classes for a server at `server`,
// written out from the documented layout.
inline Lines documentedClasses(const std::string& server) {
    const std::string settings = folderOf(server) + "CorvaneSettings.exe";
    const std::string command = "\"" + settings + "\" /refresh ";
    Lines lines;
    for (const auto& [clsid, name, threading] :
         {std::tuple{kThumbnails, "Corvane Thumbnail Provider", "Both"},
          std::tuple{kProperties, "Corvane Property Handler", "Both"},
          std::tuple{kPreviews, "Corvane Preview Handler", "Apartment"}}) {
        const std::string key = std::string("CLSID\\") + clsid;
        lines.push_back(key + "|@=" + name);
        lines.push_back(key + "\\InprocServer32|@=" + server);
        lines.push_back(key + "\\InprocServer32|ThreadingModel=" + threading);
    }
    lines.push_back(std::string("CLSID\\") + kPreviews +
                    "|AppID={6d2b5079-2f0b-48dd-ab7f-97cec514d30b}");
    int listed = 0;
    for (const Served& served : kServed) {
        const std::string association = std::string("SystemFileAssociations\\") + served.extension;
        lines.push_back(association +
                        "\\ShellEx\\{8895B1C6-B41F-4C1C-A562-0D564250836F}|@=" + kPreviews);
        for (const auto& line : contentTypeLines(served)) lines.push_back(line);
        if (served.thumbnails) {
            lines.push_back(association +
                            "\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}|@=" + kThumbnails);
            lines.push_back(association + "\\shell\\CorvaneRefresh|@=Refresh thumbnail");
            lines.push_back(association + "\\shell\\CorvaneRefresh|Icon=" + settings + ",0");
            lines.push_back(association + "\\shell\\CorvaneRefresh\\command|@=" + command +
                            "\"%1\"");
        } else {
            lines.push_back(association + "|PreviewDetails=" + kPreviewDetails[listed]);
            lines.push_back(association + "|InfoTip=" + kInfoTips[listed++]);
        }
    }
    for (const auto& [verb, placeholder] :
         {std::pair{"Directory\\shell", "%1"}, std::pair{"Directory\\Background\\shell", "%V"}}) {
        const std::string key = std::string(verb) + "\\CorvaneRefresh";
        lines.push_back(key + "|@=Refresh Corvane thumbnails");
        lines.push_back(key + "|Icon=" + settings + ",0");
        lines.push_back(key + "\\command|@=" + command + "\"" + placeholder + "\"");
    }
    return sorted(lines);
}

// The machine-wide lists, below CurrentVersion.
inline Lines documentedLists() {
    Lines lines{std::string("PreviewHandlers|") + kPreviews + "=Corvane Preview Handler"};
    for (const Served& served : kServed) {
        lines.push_back(std::string("PropertySystem\\PropertyHandlers\\") + served.extension +
                        "|@=" + kProperties);
    }
    return sorted(lines);
}

inline Lines keptContentTypes() {
    Lines lines;
    for (const Served& served : kServed) {
        for (const auto& line : contentTypeLines(served)) lines.push_back(line);
    }
    return sorted(lines);
}

}  // namespace cvtest
