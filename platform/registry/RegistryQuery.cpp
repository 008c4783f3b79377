// The registry's reading entry points: a value, the subkeys and values one
// by one, and what a key holds.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/Trace.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryKeys.h"

namespace win {

using namespace detail;
using regfile::Key;

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    const LONG result = [&]() -> LONG {
        if (lpData && !lpcbData)
            return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_QUERY_VALUE, [&](Target& t) -> LONG {
            const regfile::Value* v = t.key->FindValue(lpValueName ? lpValueName : "");
            if (!v)
                return ERROR_FILE_NOT_FOUND;
            if (lpType)
                *lpType = v->type;
            if (lpcbData) {
                const auto size = static_cast<DWORD>(v->data.size());
                if (lpData && *lpcbData < size) {
                    *lpcbData = size;
                    return ERROR_MORE_DATA;
                }
                if (lpData && size)
                    std::memcpy(lpData, v->data.data(), size);
                *lpcbData = size;
            }
            return ERROR_SUCCESS;
        });
    }();
    KURS_TRACE(Registry, "RegQueryValueEx %s \"%s\" -> %s (%ld)%s", KeyText(hKey).c_str(),
               lpValueName ? lpValueName : "", ResultText(result), static_cast<long>(result),
               result == ERROR_SUCCESS && lpcbData
                   ? (", " + std::to_string(*lpcbData) + " bytes").c_str()
                   : "");
    return result;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                   LPSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) {
    const LONG result = [&]() -> LONG {
        if (!lpName || !lpcchName)
            return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_ENUMERATE_SUB_KEYS, [&](Target& t) -> LONG {
            if (dwIndex >= t.key->subkeys.size())
                return ERROR_NO_MORE_ITEMS;
            auto it = t.key->subkeys.begin();
            std::advance(it, dwIndex);
            const Key& k = *it->second;
            if (*lpcchName < k.name.size() + 1)
                return ERROR_MORE_DATA;
            std::memcpy(lpName, k.name.c_str(), k.name.size() + 1);
            *lpcchName = static_cast<DWORD>(k.name.size());
            if (lpClass && lpcchClass && *lpcchClass > 0) {
                lpClass[0] = '\0';
                *lpcchClass = 0;
            }
            if (lpftLastWriteTime)
                *lpftLastWriteTime = ToFileTime(k.lastWrite);
            return ERROR_SUCCESS;
        });
    }();
    KURS_TRACE(Registry, "RegEnumKeyEx %s #%lu -> %s (%ld)%s%s", KeyText(hKey).c_str(),
               static_cast<unsigned long>(dwIndex), ResultText(result), static_cast<long>(result),
               result == ERROR_SUCCESS ? ": " : "", result == ERROR_SUCCESS ? lpName : "");
    return result;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    const LONG result = [&]() -> LONG {
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
            return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_QUERY_VALUE, [&](Target& t) -> LONG {
            if (dwIndex >= t.key->values.size())
                return ERROR_NO_MORE_ITEMS;
            const regfile::Value& v = t.key->values[dwIndex];
            const auto size = static_cast<DWORD>(v.data.size());
            if (*lpcchValueName < v.name.size() + 1)
                return ERROR_MORE_DATA;
            if (lpData && *lpcbData < size) {
                *lpcbData = size;
                return ERROR_MORE_DATA;
            }
            std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
            *lpcchValueName = static_cast<DWORD>(v.name.size());
            if (lpType)
                *lpType = v.type;
            if (lpData && size)
                std::memcpy(lpData, v.data.data(), size);
            if (lpcbData)
                *lpcbData = size;
            return ERROR_SUCCESS;
        });
    }();
    KURS_TRACE(Registry, "RegEnumValue %s #%lu -> %s (%ld)%s%s", KeyText(hKey).c_str(),
               static_cast<unsigned long>(dwIndex), ResultText(result), static_cast<long>(result),
               result == ERROR_SUCCESS ? ": " : "", result == ERROR_SUCCESS ? lpValueName : "");
    return result;
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) {
    const LONG result = [&]() -> LONG {
        return WithKey(hKey, KEY_QUERY_VALUE, [&](Target& t) -> LONG {
            const Key& k = *t.key;
            DWORD maxSub = 0, maxName = 0, maxData = 0;
            for (const auto& [folded, sub] : k.subkeys)
                maxSub = std::max<DWORD>(maxSub, static_cast<DWORD>(sub->name.size()));
            for (const auto& v : k.values) {
                maxName = std::max<DWORD>(maxName, static_cast<DWORD>(v.name.size()));
                maxData = std::max<DWORD>(maxData, static_cast<DWORD>(v.data.size()));
            }
            if (lpClass && lpcchClass && *lpcchClass > 0)
                lpClass[0] = '\0';
            if (lpcchClass)
                *lpcchClass = 0;
            if (lpcSubKeys)
                *lpcSubKeys = static_cast<DWORD>(k.subkeys.size());
            if (lpcbMaxSubKeyLen)
                *lpcbMaxSubKeyLen = maxSub;
            if (lpcbMaxClassLen)
                *lpcbMaxClassLen = 0;
            if (lpcValues)
                *lpcValues = static_cast<DWORD>(k.values.size());
            if (lpcbMaxValueNameLen)
                *lpcbMaxValueNameLen = maxName;
            if (lpcbMaxValueLen)
                *lpcbMaxValueLen = maxData;
            if (lpcbSecurityDescriptor)
                *lpcbSecurityDescriptor = 0;
            if (lpftLastWriteTime)
                *lpftLastWriteTime = ToFileTime(k.lastWrite);
            return ERROR_SUCCESS;
        });
    }();
    KURS_TRACE(Registry, "RegQueryInfoKey %s -> %s (%ld)", KeyText(hKey).c_str(),
               ResultText(result), static_cast<long>(result));
    return result;
}

}  // namespace win
