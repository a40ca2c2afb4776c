// Writes documents through TXmlAPI into the folder given on the command line,
// reads each back and checks it, for xmllint_check.sh, which has an
// independent parser (xmllint) read them too. Exit code 0 when every document
// was written and read back unchanged.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "KTXCMN32.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what)
{
    if (!ok) {
        ++g_failures;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

std::string Text(TXmlAPI& xml, const char* path)
{
    char sz[LS_TEXT_SIZE];
    return xml.GPPS(path, sz, sizeof(sz)) ? std::string(sz) : std::string("<missing>");
}

std::string Att(TXmlAPI& xml, const char* path, const char* attr)
{
    char sz[LS_TEXT_SIZE];
    return xml.GetAtt(path, attr, sz, sizeof(sz)) ? std::string(sz) : std::string("<missing>");
}

// Every character of windows-1252 that XML can carry, and the three kinds of line end.
std::string AllCharacters()
{
    std::string s = "\t|\r\n|\r|\n|";
    for (int c = 0x20; c <= 0xFF; ++c) s.push_back(static_cast<char>(c));
    return s;
}

void WriteSafe(TLSOwner* pOwner, const std::string& file)
{
    const char* names[] = {"Bank & <Co> \"Quoted\" 'single'", "M\xfcller-K\xe4se \x80 100", "]]> edge"};
    {
        TXmlAPI xml(pOwner);
        Check(xml.New("LSVER500"), "New LSVER500");
        for (int i = 0; i < 3; ++i) {
            char szPath[LS_XMLPATH_SIZE];
            snprintf(szPath, sizeof(szPath), "%s.%s%4.4d", "LSVER500", "n", i);
            Check(xml.PPPS(szPath, i == 2 ? "" : "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo="), "PPPS entry");
            Check(xml.PutAtt(szPath, "name", names[i]), "PutAtt name");
            if (i != 2) Check(xml.PutAtt(szPath, "hash", "NTBjYzk1ZWM2ZTI0N2U0ZWY3MTdlMDI2MmJmYmQ2ZjE="), "PutAtt hash");
        }
        Check(xml.Write(file.c_str(), nullptr), "Write safe");
    }
    TXmlAPI xml(pOwner);
    Check(xml.Init(file.c_str()), "Init safe");
    for (int i = 0; i < 3; ++i) {
        char szPath[LS_XMLPATH_SIZE];
        snprintf(szPath, sizeof(szPath), "LSVER500.n%4.4d", i);
        Check(Att(xml, szPath, "name") == names[i], "name read back");
    }
    Check(Text(xml, "LSVER500.n0001") == "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=", "text read back");
    Check(Text(xml, "LSVER500.n0002").empty(), "empty text read back");
}

void WriteTexts(TLSOwner* pOwner, const std::string& file)
{
    const std::string all = AllCharacters();
    std::string deep = "Texts.deep";
    for (int i = 2; i < 256; ++i) deep += ".d";
    {
        TXmlAPI xml(pOwner);
        Check(xml.New("Texts"), "New Texts");
        Check(xml.PPPS("Texts.all", all.c_str()), "PPPS all");
        Check(xml.PutAtt("Texts.all", "value", all.c_str()), "PutAtt all");
        Check(xml.PPPS("Texts.spaces", " \t "), "PPPS spaces");
        Check(xml.PPPS("Texts.mixed", "before "), "PPPS mixed");
        Check(xml.PPPS("Texts.mixed.inner", "i"), "PPPS inner");
        Check(xml.PPPS("Texts.blank", "\r\n\t "), "PPPS blank");
        Check(xml.PPPS("Texts.blank.inner", ""), "PPPS blank inner");
        Check(xml.PPPS("Texts.\xc4rger", "\xe4"), "PPPS non-ASCII name");
        Check(xml.PPPS(deep.c_str(), "bottom"), "PPPS deep");
        Check(xml.Write(file.c_str(), nullptr), "Write texts");
    }
    TXmlAPI xml(pOwner);
    Check(xml.Init(file.c_str()), "Init texts");
    Check(Text(xml, "Texts.all") == all, "all characters in a text");
    Check(Att(xml, "Texts.all", "value") == all, "all characters in an attribute");
    Check(Text(xml, "Texts.spaces") == " \t ", "spaces");
    Check(Text(xml, "Texts.mixed") == "before ", "mixed");
    Check(Text(xml, "Texts.blank") == "\r\n\t ", "blank mixed");
    Check(Text(xml, "Texts.\xc4rger") == "\xe4", "non-ASCII name");
    Check(Text(xml, deep.c_str()) == "bottom", "deep");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    if (GetACP() != 1252) {
        fprintf(stderr, "the expectations are for windows-1252, not %u\n", GetACP());
        return 2;
    }
    TLSOwner* pOwner = GetLSOwnerHandle("xml_lint_writer.exe");
    std::string dir = argv[1];
    WriteSafe(pOwner, dir + "\\safe.xml");
    WriteTexts(pOwner, dir + "\\texts.xml");
    FreeLSOwnerHandle(pOwner);
    if (g_failures == 0) printf("xml_lint_writer: all documents written and read back\n");
    return g_failures == 0 ? 0 : 1;
}
