// Reports what the language library gives in this process:
//   lang_probe <file>   writes "LANG <id>" and one line "<identifier> <text as hex>" per text;
//                       the file appears whole (written beside it, then renamed).
#include <windows.h>

#include <cstdio>
#include <string>

#include "LangTable.h"

int main(int argc, char** argv)
{
    if (argc < 2) return 1;
    std::string part = std::string(argv[1]) + ".part";
    FILE* f = fopen(part.c_str(), "wb");
    if (!f) return 2;
    fprintf(f, "LANG %d\n", DLS_LANG_ID());
    for (const LangText& t : kLangTexts) {
        fprintf(f, "%s ", t.pszName);
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(t.pfnText()); p && *p; ++p)
            fprintf(f, "%02x", *p);
        fprintf(f, "\n");
    }
    fclose(f);
    return MoveFileExA(part.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
