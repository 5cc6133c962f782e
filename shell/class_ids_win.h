#pragma once

#include <objbase.h>

#include <string>

namespace cvwin {

// {1471463E-2231-4DB4-8833-62E2EA47742C}
inline constexpr CLSID kThumbnailProviderClsid = {
    0x1471463E, 0x2231, 0x4DB4, {0x88, 0x33, 0x62, 0xE2, 0xEA, 0x47, 0x74, 0x2C}};
// {038EA380-913F-4DD4-A6D7-C99C2A44A9C5}
inline constexpr CLSID kPropertyStoreClsid = {
    0x038EA380, 0x913F, 0x4DD4, {0xA6, 0xD7, 0xC9, 0x9C, 0x2A, 0x44, 0xA9, 0xC5}};
// {37D924B7-D0BB-4882-883C-8C1646365A50}
inline constexpr CLSID kPreviewHandlerClsid = {
    0x37D924B7, 0xD0BB, 0x4882, {0x88, 0x3C, 0x8C, 0x16, 0x46, 0x36, 0x5A, 0x50}};

// The shell's key for a type's preview handler: ...\ShellEx\{this}.
inline constexpr wchar_t kPreviewHandlerPoint[] = L"{8895B1C6-B41F-4C1C-A562-0D564250836F}";

// A class id as the registry writes it: in braces, upper case.
inline std::wstring guidText(const GUID& guid) {
    constexpr int kGuidTextCapacity = 39;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and NUL
    wchar_t text[kGuidTextCapacity] = {};
    StringFromGUID2(guid, text, kGuidTextCapacity);
    return text;
}

}  // namespace cvwin
