#include "common/reg.h"

#include "common/handles.h"
#include "common/log.h"

#include <strsafe.h>

namespace {

// Opens an existing key. The registry's status is deliberately not logged:
// a missing key is the normal case of a value never written, and the
// settings store substitutes its default.
bool OpenKey(HKEY hKey, LPCWSTR lpSubkey, REGSAM access, zb::UniqueRegKey& key) {
    return RegOpenKeyExW(hKey, lpSubkey, 0, access, key.Put()) == ERROR_SUCCESS;
}

// Reads raw bytes of a value; *pcbData is the capacity in and the size out,
// *pdwType (when asked for) the value's type.
HRESULT QueryValue(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPBYTE lpData, DWORD* pcbData,
                   DWORD* pdwType = nullptr) {
    zb::UniqueRegKey key;
    if (!OpenKey(hKey, lpSubkey, KEY_READ, key))
        return E_FAIL;
    if (RegQueryValueExW(key.Get(), lpName, nullptr, pdwType, lpData, pcbData) != ERROR_SUCCESS)
        return E_FAIL;
    return S_OK;
}

// Creates the key path when needed, then writes one value.
HRESULT SetValue(LPCWSTR lpszFunction, HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD dwType,
                 const BYTE* lpData, DWORD cbData) {
    if (FAILED(CReg::Create(hKey, lpSubkey)))
        return E_FAIL;
    zb::UniqueRegKey key;
    const LSTATUS openStatus = RegOpenKeyExW(hKey, lpSubkey, 0, KEY_WRITE, key.Put());
    if (openStatus != ERROR_SUCCESS) {
        LogApiFailure(lpszFunction, __LINE__, L"RegOpenKeyEx", static_cast<DWORD>(openStatus));
        return E_FAIL;
    }
    const LSTATUS status = RegSetValueExW(key.Get(), lpName, 0, dwType, lpData, cbData);
    if (status != ERROR_SUCCESS) {
        LogApiFailure(lpszFunction, __LINE__, L"RegSetValueEx", static_cast<DWORD>(status));
        return E_FAIL;
    }
    return S_OK;
}

} // namespace

HRESULT CReg::GetDW(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD* pdwData) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"}, {lpName, L"lpName"}, {pdwData, L"pdwData"}},
                     L"CReg::GetDW", __LINE__))
        return E_POINTER;
    // A shorter value (a WORD, say) reads with the upper bytes zero; a
    // longer one does not fit and fails. Only numbers count: the text "2"
    // has the bytes of 50 and must not be read as it.
    DWORD data = 0;
    DWORD cbData = sizeof(data);
    DWORD type = REG_NONE;
    if (FAILED(QueryValue(hKey, lpSubkey, lpName, reinterpret_cast<LPBYTE>(&data), &cbData, &type)))
        return E_FAIL;
    if (type != REG_DWORD && type != REG_BINARY)
        return E_FAIL;
    *pdwData = data;
    return S_OK;
}

HRESULT CReg::GetSZ(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPWSTR lpstrData, DWORD cbData) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"}, {lpName, L"lpName"}, {lpstrData, L"lpstrData"}},
                     L"CReg::GetSZ", __LINE__))
        return E_POINTER;
    return QueryValue(hKey, lpSubkey, lpName, reinterpret_cast<LPBYTE>(lpstrData), &cbData);
}

HRESULT CReg::GetBIN(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPBYTE lpData, DWORD* pcbData) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"},
                      {lpName, L"lpName"},
                      {lpData, L"lpData"},
                      {pcbData, L"pcbData"}},
                     L"CReg::GetBIN", __LINE__))
        return E_POINTER;
    // The size is only replaced on success.
    DWORD cbData = *pcbData;
    if (FAILED(QueryValue(hKey, lpSubkey, lpName, lpData, &cbData)))
        return E_FAIL;
    *pcbData = cbData;
    return S_OK;
}

HRESULT CReg::SetDW(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD dwData) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"}, {lpName, L"lpName"}}, L"CReg::SetDW", __LINE__))
        return E_POINTER;
    return SetValue(L"CReg::SetDW", hKey, lpSubkey, lpName, REG_DWORD,
                    reinterpret_cast<const BYTE*>(&dwData), sizeof(dwData));
}

HRESULT CReg::SetSZ(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPCWSTR lpstrData) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"}, {lpName, L"lpName"}, {lpstrData, L"lpstrData"}},
                     L"CReg::SetSZ", __LINE__))
        return E_POINTER;
    // Stored without its terminating null; readers clear their buffers first.
    size_t cch = 0;
    if (FAILED(StringCchLengthW(lpstrData, STRSAFE_MAX_CCH, &cch)))
        return E_FAIL;
    return SetValue(L"CReg::SetSZ", hKey, lpSubkey, lpName, REG_SZ,
                    reinterpret_cast<const BYTE*>(lpstrData),
                    static_cast<DWORD>(cch * sizeof(wchar_t)));
}

// A null argument is a failure like in every other operation (E_POINTER);
// answering S_OK for a write that never happened would let the caller
// believe the value was saved.
HRESULT CReg::SetBIN(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, const BYTE* lpData,
                     DWORD cbData) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"}, {lpName, L"lpName"}, {lpData, L"lpData"}},
                     L"CReg::SetBIN", __LINE__))
        return E_POINTER;
    return SetValue(L"CReg::SetBIN", hKey, lpSubkey, lpName, REG_BINARY, lpData, cbData);
}

HRESULT CReg::Create(HKEY hKey, LPCWSTR lpSubkey) {
    if (IsNullArg(lpSubkey, L"CReg::Create", __LINE__, L"lpSubkey"))
        return E_POINTER;
    if (IsExistKey(hKey, lpSubkey))
        return S_OK;
    zb::UniqueRegKey key;
    const LSTATUS status = RegCreateKeyExW(hKey, lpSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_WRITE, nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS) {
        LogApiFailure(L"CReg::Create", __LINE__, L"RegCreateKeyEx", static_cast<DWORD>(status));
        return E_FAIL;
    }
    return S_OK;
}

bool CReg::IsExistKey(HKEY hKey, LPCWSTR lpSubkey) {
    if (IsNullArg(lpSubkey, L"CReg::IsExistKey", __LINE__, L"lpSubkey"))
        return false;
    zb::UniqueRegKey key;
    return OpenKey(hKey, lpSubkey, KEY_READ, key);
}

HRESULT CReg::DeleteValue(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName) {
    if (IsAnyNullArg({{lpSubkey, L"lpSubkey"}, {lpName, L"lpName"}}, L"CReg::DeleteValue",
                     __LINE__))
        return E_POINTER;
    zb::UniqueRegKey key;
    if (!OpenKey(hKey, lpSubkey, KEY_WRITE, key))
        return E_FAIL;
    // Deleting what is not there fails quietly, like reading it.
    if (RegDeleteValueW(key.Get(), lpName) != ERROR_SUCCESS)
        return E_FAIL;
    return S_OK;
}
