#include "sim/powrprof/plan_file.h"

#include "common/handles.h"

#include <errno.h>
#include <wchar.h>

#include <string>

namespace simpower {

namespace {

const wchar_t kMagic[] = L"ZBSIM-POWERPLAN 1";
// Plan files are a few hundred bytes; anything far larger is not one.
const LONGLONG kMaxFileBytes = 64 * 1024;

std::wstring Trim(const std::wstring& s) {
    const size_t first = s.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos)
        return std::wstring();
    const size_t last = s.find_last_not_of(L" \t\r");
    return s.substr(first, last - first + 1);
}

bool ParseNumber(const std::wstring& text, DWORD* value) {
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    if (!hex && text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    errno = 0;
    const unsigned long long v = wcstoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || !end || *end != L'\0' || v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<DWORD>(v);
    return true;
}

bool ParseSetting(const std::wstring& value, PlanSetting* setting) {
    std::wstring fields[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = value.find(L',', start);
        if ((i < 3) != (comma != std::wstring::npos))
            return false;
        fields[i] = Trim(value.substr(start, i < 3 ? comma - start : std::wstring::npos));
        start = comma + 1;
    }
    return GuidFromText(fields[0].c_str(), &setting->subgroup) &&
           GuidFromText(fields[1].c_str(), &setting->setting) &&
           ParseNumber(fields[2], &setting->ac) && ParseNumber(fields[3], &setting->dc);
}

DWORD Fail(std::wstring* error, size_t line, const wchar_t* reason) {
    if (error)
        *error = L"line " + std::to_wstring(line) + L": " + reason;
    return ERROR_INVALID_DATA;
}

} // namespace

DWORD ParsePlanText(const std::wstring& text, PowerPlan* plan, std::wstring* error) {
    *plan = PowerPlan{GUID_NULL, L"", L"", {}};
    bool sawMagic = false;
    bool sawName = false;
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == L'#')
            continue;
        if (!sawMagic) {
            if (line != kMagic)
                return Fail(error, lineNo, L"not a simulated power plan file");
            sawMagic = true;
            continue;
        }
        const size_t eq = line.find(L'=');
        if (eq == std::wstring::npos)
            return Fail(error, lineNo, L"expected key=value");
        const std::wstring key = Trim(line.substr(0, eq));
        const std::wstring value = Trim(line.substr(eq + 1));
        if (key == L"name") {
            if (value.empty())
                return Fail(error, lineNo, L"empty name");
            plan->name = value;
            sawName = true;
        } else if (key == L"description") {
            plan->description = value;
        } else if (key == L"setting") {
            PlanSetting setting{};
            if (!ParseSetting(value, &setting))
                return Fail(error, lineNo, L"expected subgroup,setting,ac,dc");
            plan->settings.push_back(setting);
        } else {
            return Fail(error, lineNo, L"unknown key");
        }
    }
    if (!sawMagic)
        return Fail(error, lineNo, L"not a simulated power plan file");
    if (!sawName)
        return Fail(error, lineNo, L"no name");
    return ERROR_SUCCESS;
}

DWORD ReadPlanFile(const wchar_t* path, PowerPlan* plan, std::wstring* error) {
    zb::UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return GetLastError();
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size))
        return GetLastError();
    if (size.QuadPart > kMaxFileBytes)
        return Fail(error, 0, L"file too large");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        !ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return GetLastError();
    bytes.resize(read);

    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign((bytes.size() - 2) / 2, L'\0');
        if (!text.empty())
            memcpy(&text[0], bytes.data() + 2, text.size() * sizeof(wchar_t));
    } else {
        size_t skip = (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) ? 3 : 0;
        const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + skip,
                                            static_cast<int>(bytes.size() - skip), nullptr, 0);
        if (cch <= 0 && bytes.size() > skip)
            return Fail(error, 0, L"not UTF-8 text");
        text.assign(static_cast<size_t>(cch > 0 ? cch : 0), L'\0');
        if (cch > 0)
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + skip,
                                static_cast<int>(bytes.size() - skip), &text[0], cch);
    }
    return ParsePlanText(text, plan, error);
}

} // namespace simpower
