#include "ArgSplit.h"

#include <cstring>
#include <new>

namespace {

// Copies the token [pszFrom, pszFrom + nLen) into its slot, cut to the slot,
// optionally followed by a closing quotation mark (kept even when cut).
void StoreToken(char* pszSlot, const char* pszFrom, size_t nLen, bool bCloseQuote)
{
    const size_t nMax = LS_ARG_SLOT_SIZE - 1;
    size_t nRoom = bCloseQuote ? nMax - 1 : nMax;
    if (nLen > nRoom) nLen = nRoom;
    memcpy(pszSlot, pszFrom, nLen);
    if (bCloseQuote) pszSlot[nLen++] = '"';
    pszSlot[nLen] = '\0';
}

}  // namespace

bool LSSplitCommandLine(const char* pszCmdLine, char* pszProgramPath, TLSArgVector* pArgs)
{
    if (!pArgs) return false;
    *pArgs = TLSArgVector{};
    const size_t nLen = pszCmdLine ? strlen(pszCmdLine) : 0;

    int nSlots = 10;
    for (size_t i = 0; i < nLen; ++i) {
        if (pszCmdLine[i] == ' ') ++nSlots;
    }
    pArgs->nSlots = nSlots;
    pArgs->ppszArgv = new (std::nothrow) char*[nSlots + 1]();
    if (!pArgs->ppszArgv) return false;
    pArgs->ppszArgv[0] = pszProgramPath;
    pArgs->nArgc = 1;
    if (nLen == 0) return true;

    pArgs->pBlock = new (std::nothrow) char[static_cast<size_t>(nSlots + 1) * LS_ARG_SLOT_SIZE]();
    if (!pArgs->pBlock) {
        delete[] pArgs->ppszArgv;
        pArgs->ppszArgv = nullptr;
        pArgs->nArgc = 0;
        return false;
    }

    int nArgc = 1;
    auto slot = [&](int n) { return pArgs->pBlock + static_cast<size_t>(n) * LS_ARG_SLOT_SIZE; };
    size_t pos = 0;
    while (pos < nLen && nArgc < nSlots) {
        // A quoted token runs from its opening mark to the next mark (or the
        // end) and keeps both marks.
        if (pszCmdLine[pos] == '"') {
            size_t nStart = pos++;
            while (pos < nLen && pszCmdLine[pos] != '"') ++pos;
            StoreToken(slot(nArgc), pszCmdLine + nStart, pos - nStart, true);
            pArgs->ppszArgv[nArgc] = slot(nArgc);
            ++nArgc;
        }
        // A plain token runs to the next space; a mark inside it does not end it.
        // The array has nSlots + 1 entries, so this second token of a pass fits.
        if (pos < nLen && pszCmdLine[pos] != ' ' && pszCmdLine[pos] != '"' && nArgc <= nSlots) {
            size_t nStart = pos;
            while (pos < nLen && pszCmdLine[pos] != ' ') ++pos;
            StoreToken(slot(nArgc), pszCmdLine + nStart, pos - nStart, false);
            pArgs->ppszArgv[nArgc] = slot(nArgc);
            ++nArgc;
        }
        ++pos;  // over the separating space or the closing mark
    }
    pArgs->nArgc = nArgc;
    return true;
}

void LSFreeArgVector(TLSArgVector* pArgs)
{
    if (!pArgs) return;
    delete[] pArgs->ppszArgv;
    delete[] pArgs->pBlock;
    *pArgs = TLSArgVector{};
}
