#pragma once
// One move-only owner for every kind of handle. The traits of a kind say which value
// means "none" and how a handle is released; copying is impossible, so nothing is
// released twice, and every path out of a scope releases what it owns. Free of any
// platform header, so the Linux forecast service shares it; the Win32 traits are in
// common/unique.h.

template <class Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;

    Unique() = default;
    explicit Unique(Handle h) : handle(h) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : handle(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Unique() { reset(); }

    Handle get() const { return handle; }
    Handle release() {
        Handle h = handle;
        handle = Traits::invalid();
        return h;
    }
    void reset(Handle h = Traits::invalid()) {
        if (handle != Traits::invalid()) Traits::close(handle);
        handle = h;
    }
    explicit operator bool() const { return handle != Traits::invalid(); }

private:
    Handle handle = Traits::invalid();
};
