// Linked into every product program (not part of the common library).
//
// The MinGW-w64 threading runtime that the C++ runtime links statically
// (winpthread) calls GetTickCount64 in its timed waits, an import Windows XP
// lacks: its loader would refuse to start the program. This object defines
// the import slot that runtime reads, so the linker takes it instead of
// kernel32's: the system's function where it exists, otherwise GetTickCount
// widened to 64 bits. Other toolchains (MSVC) have no such runtime and no
// need for it.
#if defined(__MINGW32__)

#include <windows.h>

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

// GetTickCount with a count of its 49.7-day wraps, kept in one 64-bit word
// that any thread may move forward. Right while it is called at least once
// per wrap, which the runtime's waits do.
ULONGLONG WINAPI WidenedTickCount() {
    static volatile LONG64 s_last = 0;
    for (;;) {
        const LONG64 last = s_last;
        const DWORD low = GetTickCount();
        LONG64 high = last & ~static_cast<LONG64>(0xFFFFFFFF);
        if (low < static_cast<DWORD>(last))
            high += static_cast<LONG64>(1) << 32;
        const LONG64 now = high | low;
        if (InterlockedCompareExchange64(&s_last, now, last) == last)
            return static_cast<ULONGLONG>(now);
    }
}

// The first call picks the implementation for all later ones.
ULONGLONG WINAPI FirstTickCount64();
volatile TickCount64Fn s_tickCount64 = FirstTickCount64;

ULONGLONG WINAPI FirstTickCount64() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto system = kernel32 ? reinterpret_cast<TickCount64Fn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel32, "GetTickCount64")))
                           : nullptr;
    s_tickCount64 = system ? system : WidenedTickCount;
    return s_tickCount64();
}

ULONGLONG WINAPI TickCount64() {
    return s_tickCount64();
}

} // namespace

extern "C" {
// The import slot the runtime's code calls through.
TickCount64Fn __imp_GetTickCount64 = TickCount64;
}

#endif
