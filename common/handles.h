// Owners for the system handles the suite uses. Each closes its handle once,
// when it goes out of scope; they move but never copy, so no handle is closed
// twice or leaked on an early return.
#pragma once

#include <windows.h>
#include <wtsapi32.h>

#include <utility>

namespace zb {

template <typename Traits> class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    Type Get() const noexcept { return value_; }
    bool IsValid() const noexcept { return Traits::IsValid(value_); }
    explicit operator bool() const noexcept { return IsValid(); }

    // For APIs that hand out a handle through an out-parameter.
    Type* Put() noexcept {
        Reset();
        return &value_;
    }

    Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void Reset(Type value = Traits::Invalid()) noexcept {
        if (Traits::IsValid(value_))
            Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::Invalid();
};

// Traits of a handle that is null when absent and that one function closes.
template <typename T, auto CloseFn> struct NullableTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { CloseFn(h); }
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none", since
// CreateFile and CreateMutex disagree on which one reports failure.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

using UniqueRegKey = UniqueResource<NullableTraits<HKEY, RegCloseKey>>;

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) noexcept { FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

using UniqueLibrary = UniqueResource<NullableTraits<HMODULE, FreeLibrary>>;

using UniqueBitmap = UniqueResource<NullableTraits<HBITMAP, DeleteObject>>;
using UniqueFont = UniqueResource<NullableTraits<HFONT, DeleteObject>>;
using UniqueBrush = UniqueResource<NullableTraits<HBRUSH, DeleteObject>>;

using UniqueIcon = UniqueResource<NullableTraits<HICON, DestroyIcon>>;

using UniqueEventSource = UniqueResource<NullableTraits<HANDLE, DeregisterEventSource>>;

// Memory from LocalAlloc, as FormatMessage and CommandLineToArgvW return it.
template <typename T> using UniqueLocalMemory = UniqueResource<NullableTraits<T, LocalFree>>;

// Text returned by WTSQuerySessionInformationW.
using UniqueWtsText = UniqueResource<NullableTraits<LPWSTR, WTSFreeMemory>>;

// Service control manager and service handles.
using UniqueServiceHandle = UniqueResource<NullableTraits<SC_HANDLE, CloseServiceHandle>>;

// A BSTR this code allocated or a COM call handed over.
using UniqueBstr = UniqueResource<NullableTraits<BSTR, SysFreeString>>;

// Text a COM call returns in CoTaskMemAlloc memory.
using UniqueCoTaskText = UniqueResource<NullableTraits<LPWSTR, CoTaskMemFree>>;

// A mutex this thread owns; released (not closed) at scope end.
class MutexLock {
public:
    explicit MutexLock(HANDLE mutex) noexcept : mutex_(mutex) {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;
    ~MutexLock() {
        if (mutex_)
            ReleaseMutex(mutex_);
    }

private:
    HANDLE mutex_;
};

// A critical section and its scope guard.
class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() noexcept { EnterCriticalSection(&cs_); }
    void Leave() noexcept { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
    ~ScopedLock() { cs_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& cs_;
};

} // namespace zb
