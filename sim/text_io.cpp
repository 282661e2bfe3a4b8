#include "sim/text_io.h"

#include "common/handles.h"

#include <shlobj.h>
#include <strsafe.h>

namespace sim {

bool ReadWholeFile(const wchar_t* path, std::vector<char>* bytes, DWORD* error) {
    zb::UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = GetLastError();
        return false;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size)) {
        *error = GetLastError();
        return false;
    }
    if (size.QuadPart > 1024 * 1024) {
        *error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes->empty() &&
        !ReadFile(file.Get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr)) {
        *error = GetLastError();
        return false;
    }
    bytes->resize(read);
    return true;
}

bool DecodeText(const std::vector<char>& bytes, std::wstring* text) {
    text->clear();
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2)
            return false;
        text->assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return text->find(L'\0') == std::wstring::npos;
    }
    size_t start = 0;
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF)
        start = 3;
    if (bytes.size() == start)
        return true;
    const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + start,
                                          static_cast<int>(bytes.size() - start), nullptr, 0);
    if (chars <= 0)
        return false;
    text->resize(static_cast<size_t>(chars));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + start,
                        static_cast<int>(bytes.size() - start), &(*text)[0], chars);
    return text->find(L'\0') == std::wstring::npos;
}

void WriteText(DWORD stdHandle, const std::wstring& text) {
    HANDLE out = GetStdHandle(stdHandle);
    if (!out || out == INVALID_HANDLE_VALUE || text.empty())
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes,
                        nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring FormatText(const wchar_t* format, ...) {
    wchar_t buffer[1024];
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(buffer, ARRAYSIZE(buffer), format, args);
    va_end(args);
    return buffer;
}

DWORD CommandRecordPath(wchar_t* path, size_t cchPath) {
    wchar_t data[MAX_PATH] = {};
    const HRESULT hr =
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data);
    if (FAILED(hr))
        return static_cast<DWORD>(hr);
    if (FAILED(StringCchPrintfW(path, cchPath, L"%s\\zbsim\\commands.log", data)))
        return ERROR_INSUFFICIENT_BUFFER;
    return 0;
}

void RecordCommandLine(const wchar_t* tool) {
    wchar_t path[MAX_PATH] = {};
    if (CommandRecordPath(path, ARRAYSIZE(path)))
        return;
    wchar_t folder[MAX_PATH] = {};
    StringCchCopyW(folder, ARRAYSIZE(folder), path);
    if (wchar_t* sep = wcsrchr(folder, L'\\'))
        *sep = L'\0';
    CreateDirectoryW(folder, nullptr);
    const std::wstring line = std::wstring(tool) + L"|" + GetCommandLineW() + L"\r\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes,
                        nullptr, nullptr);
    // Several tools may start at once: whoever has the file open is waited
    // for a little, and appends go to the end whatever the others wrote.
    for (int attempt = 0; attempt < 50; ++attempt) {
        zb::UniqueHandle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
            return;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return;
        Sleep(20);
    }
}

} // namespace sim
