#pragma once

#include <windows.h>

#include <utility>

namespace cvwin {

// Owns one Win32 handle and gives it back through `Traits::close` when the
// owner goes or takes another. A replaced handle goes only after the new one
// is held, so whatever was keyed by the old value never sees it reused first.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return Traits::isValid(handle_); }

    void reset(Handle handle = Traits::kEmpty) {
        const Handle previous = std::exchange(handle_, handle);
        if (Traits::isValid(previous)) Traits::close(previous);
    }

    Handle release() { return std::exchange(handle_, Traits::kEmpty); }

private:
    Handle handle_ = Traits::kEmpty;
};

// Kernel objects: events, semaphores, threads, processes, tokens. Either
// "no handle" value the system hands out counts as empty.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static constexpr Handle kEmpty = nullptr;
    static bool isValid(Handle handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void close(Handle handle) { CloseHandle(handle); }
};

// A FindFirstFileW search: a kernel-style handle closed by its own call.
struct FindHandleTraits : KernelHandleTraits {
    static void close(Handle handle) { FindClose(handle); }
};

// A GDI font, brush, pen or bitmap (never one selected into a device context).
template <typename Object>
struct GdiObjectTraits {
    using Handle = Object;
    static constexpr Handle kEmpty = nullptr;
    static bool isValid(Handle handle) { return handle != nullptr; }
    static void close(Handle handle) { DeleteObject(handle); }
};

struct IconTraits {
    using Handle = HICON;
    static constexpr Handle kEmpty = nullptr;
    static bool isValid(Handle handle) { return handle != nullptr; }
    static void close(Handle handle) { DestroyIcon(handle); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using GdiFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using GdiBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using GdiPen = UniqueHandle<GdiObjectTraits<HPEN>>;
using GdiBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using IconHandle = UniqueHandle<IconTraits>;

}  // namespace cvwin
