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

struct FileTraits {  // from CreateFileA, which fails with INVALID_HANDLE_VALUE, not null
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
};

struct KernelHandleTraits {  // threads and events, which fail with null
    using Handle = HANDLE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { CloseHandle(h); }
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
