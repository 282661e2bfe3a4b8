// fail_settimer.dll: loaded into a zbSched.exe that was started suspended,
// before the program's own code runs. It points the program's import of
// user32's SetTimer at a stand-in that always fails, as SetTimer does when
// the session is out of timers, so the scheduler's start-up meets a timer it
// cannot arm. Only the program's own imports change: the toast library and
// the system's DLLs keep their timers.
#include <windows.h>

namespace {

UINT_PTR WINAPI FailingSetTimer(HWND, UINT_PTR, UINT, TIMERPROC) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return 0;
}

bool PatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return false;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         desc->Name != 0; ++desc) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + desc->Name), dllName) != 0)
            continue;
        const DWORD namesRva =
            desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesRva);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), functionName) != 0)
                continue;
            DWORD oldProtect = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                                &oldProtect))
                return false;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), oldProtect,
                           &oldProtect);
            return true;
        }
    }
    return false;
}

} // namespace

// Refuses to load (LoadLibraryW gives null) when the import is not found, so
// that the test knows the program was left as it was.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    return PatchImport(GetModuleHandleW(nullptr), "user32.dll", "SetTimer",
                       reinterpret_cast<void*>(&FailingSetTimer))
               ? TRUE
               : FALSE;
}
