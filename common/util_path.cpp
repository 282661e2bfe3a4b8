// Paths of the program and the system, starting sibling programs, and the
// install helpers' check that a file lies inside the suite's own folder.
#include "common/util.h"

#include "common/handles.h"
#include "common/log.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <wchar.h>

namespace {

const wchar_t kFallbackSystemDir[] = L"C:\\WINDOWS\\system32\\";
const wchar_t kSuiteFolderName[] = L"VADOvur";
const wchar_t kFallbackSuiteFolder[] = L"C:\\Program Files\\VADOvur";

bool IsPathSeparator(wchar_t ch) {
    return ch == L'\\' || ch == L'/';
}

// Full path of lpszPath, or the text as given when it cannot be formed.
void FullPathOrAsGiven(LPCWSTR lpszPath, LPWSTR lpszFull, size_t cchFull) {
    const DWORD len = GetFullPathNameW(lpszPath, static_cast<DWORD>(cchFull), lpszFull, nullptr);
    if (len == 0 || len >= cchFull) {
        WriteLog(L"IsAllowedPath", __LINE__, L"Fail to GetFullPathName(). ErrorCode: %08x.\n",
                 GetLastError());
        StringCchCopyW(lpszFull, cchFull, lpszPath);
    }
}

} // namespace

DWORD GetCurrentPath(LPWSTR lpszPath, size_t cchPath) {
    if (!lpszPath) {
        LogNullArg(L"GetCurrentPath", __LINE__, L"lpszPath");
        return ERROR_INVALID_PARAMETER;
    }
    wchar_t module[MAX_PATH] = {};
    const DWORD len = GetModuleFileNameW(nullptr, module, ARRAYSIZE(module));
    if (len == 0 || len >= ARRAYSIZE(module)) {
        const DWORD err = len == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        LogApiFailure(L"GetCurrentPath", __LINE__, L"GetModuleFileName", err);
        return err;
    }
    // Drive and directory: everything up to and including the last separator.
    wchar_t* lastSep = wcsrchr(module, L'\\');
    if (lastSep)
        lastSep[1] = L'\0';
    if (FAILED(StringCchCopyW(lpszPath, cchPath, module))) {
        WriteLog(L"GetCurrentPath", __LINE__, L"Program path does not fit: %s\n", module);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    return ERROR_SUCCESS;
}

BOOL FileExists(LPCWSTR lpszPath) {
    if (!lpszPath) {
        LogNullArg(L"FileExists", __LINE__, L"lpszPath");
        return FALSE;
    }
    WIN32_FIND_DATAW data = {};
    zb::UniqueFindHandle find(FindFirstFileW(lpszPath, &data));
    return find.IsValid();
}

BOOL FileExistsCurrentPath(LPCWSTR lpszFileName) {
    if (!lpszFileName) {
        LogNullArg(L"FileExistsCurrentPath", __LINE__, L"lpszFileName");
        return FALSE;
    }
    wchar_t dir[MAX_PATH] = {};
    if (GetCurrentPath(dir, ARRAYSIZE(dir)) != ERROR_SUCCESS)
        return FALSE;
    wchar_t path[MAX_PATH] = {};
    if (FAILED(StringCchPrintfW(path, ARRAYSIZE(path), L"%s%s", dir, lpszFileName)))
        return FALSE;
    return FileExists(path);
}

DWORD CurrentModuleExe(LPCWSTR lpszExeName, LPCWSTR lpszArgs, int nShowCmd, HANDLE* phProcess) {
    if (!lpszExeName) {
        LogNullArg(L"CurrentModuleExe", __LINE__, L"lpszExeName");
        return ERROR_INVALID_PARAMETER;
    }
    if (!lpszArgs) {
        LogNullArg(L"CurrentModuleExe", __LINE__, L"lpszArgs");
        return ERROR_INVALID_PARAMETER;
    }
    if (phProcess)
        *phProcess = nullptr;

    wchar_t dir[MAX_PATH] = {};
    DWORD err = GetCurrentPath(dir, ARRAYSIZE(dir));
    if (err != ERROR_SUCCESS)
        return err;
    wchar_t exe[MAX_PATH] = {};
    if (FAILED(StringCchPrintfW(exe, ARRAYSIZE(exe), L"%s%s", dir, lpszExeName))) {
        WriteLog(L"CurrentModuleExe", __LINE__, L"Program path does not fit: %s\n", lpszExeName);
        return ERROR_BUFFER_OVERFLOW;
    }

    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"open";
    sei.lpFile = exe;
    sei.lpParameters = lpszArgs;
    sei.nShow = nShowCmd;
    if (!ShellExecuteExW(&sei)) {
        err = GetLastError();
        WriteLog(L"CurrentModuleExe", __LINE__,
                 L"Fail to ShellExecuteEx(%s %s). ErrorCode: %08x.\n", exe, lpszArgs, err);
        return err != ERROR_SUCCESS ? err : ERROR_FUNCTION_FAILED;
    }
    zb::UniqueHandle process(sei.hProcess);
    if (phProcess)
        *phProcess = process.Release();
    return ERROR_SUCCESS;
}

DWORD CombineSystemPath(LPCWSTR lpszFileName, LPWSTR lpszOutputPath, size_t cchOutputPath) {
    if (!lpszFileName) {
        LogNullArg(L"CombineSystemPath", __LINE__, L"lpszFileName");
        return ERROR_INVALID_PARAMETER;
    }
    if (!lpszOutputPath) {
        LogNullArg(L"CombineSystemPath", __LINE__, L"lpszOutputPath");
        return ERROR_INVALID_PARAMETER;
    }
    wchar_t systemDir[MAX_PATH] = {};
    wchar_t combined[MAX_PATH] = {};
    bool formed = SHGetSpecialFolderPathW(nullptr, systemDir, CSIDL_SYSTEM, FALSE) &&
                  PathCombineW(combined, systemDir, lpszFileName) != nullptr;
    if (!formed) {
        WriteLog(L"CombineSystemPath", __LINE__,
                 L"System folder not available, using the default. ErrorCode: %08x.\n",
                 GetLastError());
        formed = PathCombineW(combined, kFallbackSystemDir, lpszFileName) != nullptr;
    }
    if (!formed || FAILED(StringCchCopyW(lpszOutputPath, cchOutputPath, combined))) {
        WriteLog(L"CombineSystemPath", __LINE__, L"No system path for %s.\n", lpszFileName);
        lpszOutputPath[0] = L'\0';
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

BOOL IsPathWithinFolder(LPCWSTR lpszPath, LPCWSTR lpszBase) {
    if (!lpszPath || !lpszBase)
        return FALSE;
    size_t baseLen = wcslen(lpszBase);
    // "C:\Program Files\VADOvur\" and "...\VADOvur" name the same folder.
    while (baseLen > 0 && IsPathSeparator(lpszBase[baseLen - 1]))
        --baseLen;
    if (baseLen == 0 || _wcsnicmp(lpszPath, lpszBase, baseLen) != 0)
        return FALSE;
    // A shared prefix is not enough: "...\VADOvurEvil" is another folder.
    const wchar_t next = lpszPath[baseLen];
    return next == L'\0' || IsPathSeparator(next);
}

BOOL IsAllowedPath(LPCWSTR lpszPath) {
    if (!lpszPath) {
        LogNullArg(L"IsAllowedPath", __LINE__, L"lpszPath");
        return FALSE;
    }
    wchar_t programFiles[MAX_PATH] = {};
    wchar_t base[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE) ||
        !PathCombineW(base, programFiles, kSuiteFolderName)) {
        WriteLog(L"IsAllowedPath", __LINE__,
                 L"Program Files folder not available, using the default.\n");
        StringCchCopyW(base, ARRAYSIZE(base), kFallbackSuiteFolder);
    }

    wchar_t fullBase[MAX_PATH] = {};
    wchar_t fullPath[MAX_PATH] = {};
    FullPathOrAsGiven(base, fullBase, ARRAYSIZE(fullBase));
    FullPathOrAsGiven(lpszPath, fullPath, ARRAYSIZE(fullPath));

    const BOOL allowed = IsPathWithinFolder(fullPath, fullBase);
    if (!allowed)
        WriteLog(L"IsAllowedPath", __LINE__, L"Path outside %s: %s\n", fullBase, fullPath);
    return allowed;
}

HRESULT WriteFileWhole(LPCWSTR lpszPath, const std::string& bytes) {
    if (!lpszPath) {
        LogNullArg(L"WriteFileWhole", __LINE__, L"lpszPath");
        return E_POINTER;
    }
    const std::wstring temp = std::wstring(lpszPath) + L".tmp";
    DWORD error = ERROR_SUCCESS;
    {
        zb::UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = GetLastError();
            LogApiFailure(L"WriteFileWhole", __LINE__, L"CreateFile", error);
            return HRESULT_FROM_WIN32(error);
        }
        DWORD written = 0;
        if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written != bytes.size()) {
            error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            LogApiFailure(L"WriteFileWhole", __LINE__, L"WriteFile", error);
        } else if (!FlushFileBuffers(file.Get())) {
            error = GetLastError();
            LogApiFailure(L"WriteFileWhole", __LINE__, L"FlushFileBuffers", error);
        }
    }
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(temp.c_str(), lpszPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        LogApiFailure(L"WriteFileWhole", __LINE__, L"MoveFileEx", error);
    }
    if (error == ERROR_SUCCESS)
        return S_OK;
    DeleteFileW(temp.c_str());
    return HRESULT_FROM_WIN32(error);
}
