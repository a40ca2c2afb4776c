// The about box.
#include "DlgAbout.h"

#include <cstring>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"

namespace ktxdlg {

std::string ModuleProductVersion(HMODULE hModule)
{
    char szPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(hModule, szPath, sizeof(szPath));
    if (n == 0 || n >= sizeof(szPath)) return std::string();
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(szPath, &dwHandle);
    if (cb == 0) return std::string();
    std::vector<BYTE> info(cb);
    if (!GetFileVersionInfoA(szPath, 0, cb, info.data())) return std::string();

    struct Translation {
        WORD wLanguage;
        WORD wCodePage;
    };
    Translation* pTrans = nullptr;
    UINT cbTrans = 0;
    if (VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTrans), &cbTrans) &&
        pTrans && cbTrans >= sizeof(Translation)) {
        char szKey[64];
        LSStrFormat(szKey, sizeof(szKey), "\\StringFileInfo\\%04x%04x\\ProductVersion", pTrans->wLanguage,
                    pTrans->wCodePage);
        char* pszValue = nullptr;
        UINT cch = 0;
        if (VerQueryValueA(info.data(), szKey, reinterpret_cast<void**>(&pszValue), &cch) && pszValue && cch > 0 &&
            *pszValue)
            return std::string(pszValue, strnlen(pszValue, cch));
    }
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    if (VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&pFixed), &cbFixed) && pFixed &&
        cbFixed >= sizeof(VS_FIXEDFILEINFO)) {
        return FormatText("%u.%u.%u.%u", HIWORD(pFixed->dwProductVersionMS), LOWORD(pFixed->dwProductVersionMS),
                          HIWORD(pFixed->dwProductVersionLS), LOWORD(pFixed->dwProductVersionLS));
    }
    return std::string();
}

std::string ProductVersion()
{
    std::string version = ModuleProductVersion(GetModuleHandleA(nullptr));
    if (version.empty()) {
        HMODULE hSelf = nullptr;
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCSTR>(&ProductVersion), &hSelf))
            version = ModuleProductVersion(hSelf);
    }
    return version;
}

TfrmAbout::TfrmAbout(TLSOwner* pOwner, HWND hParent, const char* pszText)
    : TForm(nullptr, "TfrmAbout", ResolveParent(pOwner, hParent))
{
    const int cxClient = 380;
    const int cxInner = cxClient - 2 * kMargin;
    SetupDialogForm(this, DLS_DLG_ABOUT_CAPTION());

    int y = kMargin + 4;
    txtProdukt = MakeText(this, DLS_GLOBAL_CAPTION_SAFE(), kMargin, y, cxInner, 28);
    txtProdukt->SetName("txtProdukt");
    txtProdukt->Font()->SetSize(14);
    txtProdukt->Font()->SetStyle(fsBold);
    y += 28 + kGap;
    std::string version = ProductVersion();
    txtVersion = MakeText(
        this, version.empty() ? DLS_DLG_ABOUT_NOVERSION() : FormatText(DLS_DLG_ABOUT_VERSION(), version.c_str()).c_str(),
        kMargin, y, cxInner, 18);
    txtVersion->SetName("txtVersion");
    y += 18 + kGap;
    txtText = MakeText(this, pszText ? pszText : "", kMargin, y, cxInner, 48);
    txtText->SetName("txtText");
    LONG_PTR style = GetWindowLongPtrA(txtText->Handle(), GWL_STYLE);
    SetWindowLongPtrA(txtText->Handle(), GWL_STYLE, style | SS_NOPREFIX);
    y += 48 + kGap;
    btnOK = MakeButton(this, DLS_DLG_BTN_OK(), cxClient - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight);
    btnOK->SetName("btnOK");
    btnOK->SetModalResult(mrOk);
    SetDefaultButton(btnOK);
    SetCancelButton(btnOK);
    SetClientSize(cxClient, y + kButtonHeight + kMargin);
    SetActiveControl(btnOK);
    PlaceForm(this, pOwner);
}

}  // namespace ktxdlg
