// The platform CSPRNG for the whole product: record filling, generated
// passwords, key-file passwords.
#include <windows.h>
#include <bcrypt.h>

#include "CryptCng.h"
#include "KTXCMN32.h"

extern "C" KTXCMN32_API bool LSGenRandom(void* pBuffer, DWORD cbBuffer)
{
    if (!pBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (cbBuffer == 0) return true;
    NTSTATUS status = BCryptGenRandom(nullptr, static_cast<PUCHAR>(pBuffer), cbBuffer, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (!BCRYPT_SUCCESS(status)) {
        SecureZeroMemory(pBuffer, cbBuffer);
        ktxcmn::LSSetNtStatusError(status);
        return false;
    }
    return true;
}

extern "C" KTXCMN32_API bool LSGenRandomBelow(DWORD dwBound, DWORD* pdwOut)
{
    if (!pdwOut || dwBound == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // Values at or above the largest multiple of dwBound below 2^32 are drawn
    // again, so every result is equally likely.
    const DWORD dwRemainder = static_cast<DWORD>((0x100000000ULL) % dwBound);
    const unsigned long long ullLimit = 0x100000000ULL - dwRemainder;
    for (;;) {
        DWORD dwValue = 0;
        if (!LSGenRandom(&dwValue, sizeof(dwValue))) return false;
        if (dwValue < ullLimit) {
            *pdwOut = dwValue % dwBound;
            SecureZeroMemory(&dwValue, sizeof(dwValue));
            return true;
        }
    }
}
