// Splitting of the program's command line into the argument vector that the
// start-up form reads.
#pragma once

enum { LS_ARG_SLOT_SIZE = 256 };  // one argument: at most 255 characters and the terminator

struct TLSArgVector {
    char** ppszArgv;   // slots + 1 entries; entry 0 = the program's path
    int    nArgc;      // used entries, at least 1
    char*  pBlock;     // (slots + 1) * 256 bytes holding arguments 1 and later; null without arguments
    int    nSlots;     // 10 + the number of spaces in the command line
};

// Splits pszCmdLine (the arguments without the program name). Spaces are the
// only separators. A quoted token keeps both its marks; a token glued to a
// closing mark is an argument of its own; no argument is empty; an argument
// longer than 255 characters is cut to 255. Entry 0 points at pszProgramPath,
// which must outlive the vector. False only when memory cannot be had.
bool LSSplitCommandLine(const char* pszCmdLine, char* pszProgramPath, TLSArgVector* pArgs);

// Frees what LSSplitCommandLine allocated (the program itself keeps its
// vector for the whole run).
void LSFreeArgVector(TLSArgVector* pArgs);
