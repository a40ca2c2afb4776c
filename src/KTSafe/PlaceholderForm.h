// Stands in for the start-up form until it exists: a small banner window of
// class "TfrmDoSafe" that ends the message loop when it is closed.
#pragma once

#include <windows.h>

class TLSPlaceholderForm {
public:
    TLSPlaceholderForm() = default;
    ~TLSPlaceholderForm();
    TLSPlaceholderForm(const TLSPlaceholderForm&) = delete;
    TLSPlaceholderForm& operator=(const TLSPlaceholderForm&) = delete;

    bool Create(HINSTANCE hInstance, const char* pszCaption);
    void Show(int nCmdShow);

    char** ppszArgv = nullptr;
    int nArgc = 0;

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    HWND m_hWnd = nullptr;
};
