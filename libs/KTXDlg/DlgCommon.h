// What the shared dialogs have in common: where a dialog belongs and appears,
// its caption, the texts it formats, the password rules and wiping.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "KTXCMN32.h"
#include "Toolkit.h"

namespace ktxdlg {

// The longest password the safe can use: the key strings of the safe are made
// from at most this many characters, so a longer password could never open it.
constexpr int kMaxPasswordChars = 126;
// What a password field holds at most, so that a longer paste is still seen
// (and refused) instead of being cut silently to a shorter password.
constexpr int kPasswordFieldChars = LS_PASSWORD_SIZE - 1;
// The mask character of password fields.
constexpr char kPasswordMask = '*';

// The password strength scale of the product: the size of the alphabet the
// password draws from times its length; 94 characters times 20 fill the scale.
constexpr int kStrengthFull = 1880;

// Alphabet size of a password: 26 when it has an upper-case letter, 26 for a
// lower-case letter, 10 for a digit, 32 for any other character.
int PasswordAlphabet(const char* pszPassword, size_t cch);
// Alphabet size times length.
int PasswordStrength(const char* pszPassword, size_t cch);
// The word of the product's strength scale for a strength (very low .. extreme).
const char* StrengthWord(int nStrength);

// The window a dialog belongs to: the given parent if it is a window, else the
// owner's parent-window slot if that is one, else null.
HWND ResolveParent(TLSOwner* pOwner, HWND hParent);

// Places a form that has its client size already: at the owner's dialog
// position when one is set (kept on a monitor), else centred on its owner
// window (the desktop without one).
void PlaceForm(TForm* pForm, TLSOwner* pOwner);

// The common look of the dialogs: fixed dialog frame, system menu (close box)
// when bCloseBox, caption "<product> - <title>".
void SetupDialogForm(TForm* pForm, const char* pszTitle, bool bCloseBox = true);
std::string DialogCaption(const char* pszTitle);

// printf-style formatting of a language-library text into a string.
std::string FormatText(const char* pszFormat, ...);

// Creates a button with caption and bounds.
TButton* MakeButton(TWinControl* pParent, const char* pszCaption, int x, int y, int cx, int cy);
// Creates a static text with caption and bounds (word-wrapped by the control).
TStaticText* MakeText(TWinControl* pParent, const char* pszCaption, int x, int y, int cx, int cy);

// The OK and Cancel buttons of a dialog, right-aligned in a row at y: OK
// disabled until the dialog's input allows it, Enter and Escape bound to them,
// the client height closed below the row.
void MakeOkCancelRow(TForm* pForm, int cxClient, int y, TButton*& pOK, TButton*& pCancel);

// Standard sizes of the dialogs' layout (pixels at 96 dpi).
constexpr int kMargin = 12;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kEditHeight = 23;
constexpr int kGap = 8;

// A character buffer for a secret, wiped whenever it goes out of scope.
template <size_t N>
class TSecretBuffer {
public:
    TSecretBuffer() { SecureZeroMemory(m_sz, sizeof(m_sz)); }
    ~TSecretBuffer() { SecureZeroMemory(m_sz, sizeof(m_sz)); }
    TSecretBuffer(const TSecretBuffer&) = delete;
    TSecretBuffer& operator=(const TSecretBuffer&) = delete;
    char* Data() { return m_sz; }
    const char* Data() const { return m_sz; }
    static constexpr int Capacity() { return static_cast<int>(N); }

private:
    char m_sz[N];
};

// Clears a password field and its undo copy.
void WipeEdit(TEdit* pEdit);

}  // namespace ktxdlg
