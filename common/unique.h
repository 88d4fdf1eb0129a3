#pragma once
// The Win32 kinds of handle for the move-only owner of common/unique_owner.h, and the
// selection guard.

#include <windows.h>

#include "common/unique_owner.h"

struct GdiTraits {
    using Handle = HGDIOBJ;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { DeleteObject(h); }
};

struct MemoryDcTraits {  // from CreateCompatibleDC; a GetDC context goes back with ReleaseDC
    using Handle = HDC;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { DeleteDC(h); }
};

struct FileTraits {  // from CreateFile, which fails with INVALID_HANDLE_VALUE, not null
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
};

struct KernelHandleTraits {  // threads and events, which fail with null
    using Handle = HANDLE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { CloseHandle(h); }
};

struct FindTraits {  // from FindFirstFile, which also fails with INVALID_HANDLE_VALUE
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { FindClose(h); }
};

struct MenuTraits {  // a menu that no window owns; one set on a window goes with the window
    using Handle = HMENU;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { DestroyMenu(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { RegCloseKey(h); }
};

struct GlobalMemoryTraits {
    using Handle = HGLOBAL;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { GlobalFree(h); }
};

// A COM interface pointer, released once.
template <class Interface>
struct ComTraits {
    using Handle = Interface*;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { h->Release(); }
};

using UniqueGdi = Unique<GdiTraits>;
using UniqueFile = Unique<FileTraits>;
using UniqueGlobal = Unique<GlobalMemoryTraits>;
template <class Interface>
using UniqueCom = Unique<ComTraits<Interface>>;
using UniqueMemoryDc = Unique<MemoryDcTraits>;
using UniqueRegKey = Unique<RegKeyTraits>;
using UniqueKernelHandle = Unique<KernelHandleTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueMenu = Unique<MenuTraits>;

// A window's device context from GetDC, given back with ReleaseDC on the same window.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// The device context of one WM_PAINT: BeginPaint, and EndPaint with the same record on
// scope exit, whatever the painting did.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { EndPaint(window_, &paint_); }
    HDC get() const { return dc_; }
    const RECT& area() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects an object into a device context and puts the previous one back on scope exit.
// Declare it after the owner of the object, so the object is deselected before it is deleted.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() {
        if (previous_) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};
