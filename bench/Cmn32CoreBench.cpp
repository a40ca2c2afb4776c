// Load and write time of a 10,000-entry safe-shaped document, and the cost of
// encrypting and decrypting one entry record with a cached key. Run by hand
// under Wine (see README.md); prints medians.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KTXCMN32.h"

namespace {

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

template <typename F>
double MedianSeconds(int runs, F f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        double t0 = Now();
        if (!f()) {
            fprintf(stderr, "benchmark step failed\n");
            ExitProcess(1);
        }
        times.push_back(Now() - t0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Fail(const char* what)
{
    fprintf(stderr, "failed: %s\n", what);
    ExitProcess(1);
}

}  // namespace

int main()
{
    const int kEntries = 10000;
    TLSOwner* pOwner = GetLSOwnerHandle("bench_cmn32core.exe");
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof(szTemp), szTemp);
    std::string file = std::string(szTemp) + "bench_safe.xml";

    // An entry text as the safe stores it: 1875 bytes in Base64.
    std::vector<BYTE> stored(1875);
    LSGenRandom(stored.data(), static_cast<DWORD>(stored.size()));
    TLSTools tools(pOwner);
    char szText[LS_TEXT_SIZE];
    DWORD dwText = sizeof(szText);
    if (!tools.Bin2Text(stored.data(), 1875, szText, &dwText)) Fail("Bin2Text");

    TXmlAPI xml(pOwner);
    double tBuild = MedianSeconds(1, [&] {
        if (!xml.New("LSVER500")) return false;
        char szPath[LS_XMLPATH_SIZE], szName[64];
        for (int i = 0; i < kEntries; ++i) {
            snprintf(szPath, sizeof(szPath), "%s.%s%4.4d", "LSVER500", "n", i);
            snprintf(szName, sizeof(szName), "Entry number %d", i);
            if (!xml.PPPS(szPath, szText) || !xml.PutAtt(szPath, "name", szName) ||
                !xml.PutAtt(szPath, "hash", "NTBjYzk1ZWM2ZTI0N2U0ZWY3MTdlMDI2MmJmYmQ2ZjE="))
                return false;
        }
        return true;
    });
    double tWrite = MedianSeconds(5, [&] { return xml.Write(file.c_str(), nullptr); });
    WIN32_FILE_ATTRIBUTE_DATA fad;
    GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &fad);
    double mb = static_cast<double>(fad.nFileSizeLow) / (1024.0 * 1024.0);

    TXmlAPI loaded(pOwner);
    double tLoad = MedianSeconds(5, [&] { return loaded.Init(file.c_str()); });
    std::vector<char> list(static_cast<size_t>(fad.nFileSizeLow) + 1);
    double tScan = MedianSeconds(3, [&] {
        if (!loaded.GPPS("LSVER500", nullptr, list.data(), fad.nFileSizeLow)) return false;
        char szPath[LS_XMLPATH_SIZE], szValue[LS_TEXT_SIZE];
        for (const char* p = list.data(); *p; p += strlen(p) + 1) {
            snprintf(szPath, sizeof(szPath), "LSVER500.%s", p);
            if (!loaded.GetAtt(szPath, "name", szValue, sizeof(szValue))) return false;
        }
        return true;
    });
    DeleteFileA(file.c_str());

    // One record with a cached key.
    LSCRYPTHANDLE hCrypt = nullptr;
    if (!GetWCHandle(&hCrypt, pOwner)) Fail("GetWCHandle");
    const char szKey[] = "benchmark safe password";
    std::vector<BYTE> plain(1859), out(1863), back(1863);
    LSGenRandom(plain.data(), static_cast<DWORD>(plain.size()));
    DWORD dwLen = 1859;
    double tDerive = MedianSeconds(1, [&] {
        dwLen = 1859;
        return EnCryptData(hCrypt, LS_CRYPT_CURRENT, szKey, sizeof(szKey) - 1, plain.data(), 1859, out.data(), &dwLen);
    });
    const int kRounds = 2000;
    double tEnc = MedianSeconds(5, [&] {
        for (int i = 0; i < kRounds; ++i) {
            dwLen = 1859;
            if (!EnCryptData(hCrypt, LS_CRYPT_CURRENT, szKey, sizeof(szKey) - 1, plain.data(), 1859, out.data(), &dwLen))
                return false;
        }
        return true;
    }) / kRounds;
    double tDec = MedianSeconds(5, [&] {
        for (int i = 0; i < kRounds; ++i) {
            dwLen = 1863;
            if (!DeCryptData(hCrypt, LS_CRYPT_CURRENT, szKey, sizeof(szKey) - 1, out.data(), 1863, back.data(), &dwLen))
                return false;
        }
        return true;
    }) / kRounds;
    FreeWCHandle(hCrypt);
    FreeLSOwnerHandle(pOwner);

    printf("document of %d entries, %.1f MB\n", kEntries, mb);
    printf("  build through PPPS/PutAtt   %8.1f ms\n", tBuild * 1000);
    printf("  Write (atomic, flushed)     %8.1f ms\n", tWrite * 1000);
    printf("  Init (load)                 %8.1f ms\n", tLoad * 1000);
    printf("  list + every name attribute %8.1f ms\n", tScan * 1000);
    printf("one entry record, method 4\n");
    printf("  key derivation (once)       %8.1f ms\n", tDerive * 1000);
    printf("  EnCryptData 1859 bytes      %8.1f us\n", tEnc * 1e6);
    printf("  DeCryptData 1863 bytes      %8.1f us\n", tDec * 1e6);
    return 0;
}
