// ANSI (system code page) to UTF-16 conversion, and UTF-16 to UTF-8.
#include "common/util.h"

#include "common/handles.h"
#include "common/log.h"

CStrConversion::CStrConversion(LPCWSTR lpwstr) {
    if (!lpwstr) {
        LogNullArg(L"CStrConversion::CStrConversion", __LINE__, L"lpwstr");
        return;
    }
    m_str = lpwstr;
}

CStrConversion::CStrConversion(LPCSTR lpstr) {
    if (!lpstr) {
        LogNullArg(L"CStrConversion::CStrConversion", __LINE__, L"lpstr");
        return;
    }
    LPWSTR converted = nullptr;
    if (FAILED(SjisToUnicode(lpstr, &converted)))
        return;
    zb::UniqueLocalMemory<LPWSTR> owner(converted);
    m_str = owner.Get();
}

HRESULT CStrConversion::SjisToUnicode(LPCSTR lpstrSrc, LPWSTR* lpstrDst) {
    if (!lpstrSrc || !lpstrDst) {
        LogNullArg(L"CStrConversion::SjisToUnicode", __LINE__,
                   !lpstrSrc ? L"lpstrSrc" : L"lpstrDst");
        return E_POINTER;
    }
    *lpstrDst = nullptr;
    // Battery names come from the firmware in the system's ANSI code page.
    const int cch = MultiByteToWideChar(CP_ACP, 0, lpstrSrc, -1, nullptr, 0);
    if (cch <= 0) {
        LogApiFailure(L"CStrConversion::SjisToUnicode", __LINE__, L"MultiByteToWideChar",
                      GetLastError());
        return E_FAIL;
    }
    zb::UniqueLocalMemory<LPWSTR> buffer(
        static_cast<LPWSTR>(LocalAlloc(LPTR, static_cast<SIZE_T>(cch) * sizeof(wchar_t))));
    if (!buffer) {
        LogApiFailure(L"CStrConversion::SjisToUnicode", __LINE__, L"LocalAlloc", GetLastError());
        return E_FAIL;
    }
    if (MultiByteToWideChar(CP_ACP, 0, lpstrSrc, -1, buffer.Get(), cch) <= 0) {
        LogApiFailure(L"CStrConversion::SjisToUnicode", __LINE__, L"MultiByteToWideChar",
                      GetLastError());
        return E_FAIL;
    }
    *lpstrDst = buffer.Release();
    return S_OK;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return std::string();
    std::string out(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], cb,
                        nullptr, nullptr);
    return out;
}
