// CReg: the one gateway to the registry. Every call opens its key, does one
// thing and closes it again; nothing is cached, so every program sees every
// other program's writes at its next read.
//
// Results: S_OK; E_FAIL for any registry failure (the registry's own status
// is not passed on, and a missing value costs no log line); E_POINTER for a
// null argument, which is logged.
#pragma once

#include <windows.h>

class CReg {
public:
    // A REG_DWORD or REG_BINARY value of at most 4 bytes; shorter ones read
    // with zero upper bytes. Any other type (text above all) fails.
    // *pdwData is written only on success.
    static HRESULT GetDW(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD* pdwData);
    // Raw bytes, at most cbData; the text is not terminated by this call.
    static HRESULT GetSZ(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPWSTR lpstrData,
                         DWORD cbData);
    // *pcbData: capacity in, bytes read out.
    static HRESULT GetBIN(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPBYTE lpData,
                          DWORD* pcbData);

    // Writers create the key path first.
    static HRESULT SetDW(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD dwData);
    static HRESULT SetSZ(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, LPCWSTR lpstrData);
    static HRESULT SetBIN(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName, const BYTE* lpData,
                          DWORD cbData);

    static HRESULT Create(HKEY hKey, LPCWSTR lpSubkey);
    static bool IsExistKey(HKEY hKey, LPCWSTR lpSubkey);
    // E_FAIL also when the value does not exist.
    static HRESULT DeleteValue(HKEY hKey, LPCWSTR lpSubkey, LPCWSTR lpName);
};
