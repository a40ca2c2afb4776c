#include "SafeStoreFixture.h"

#include <cstring>
#include <memory>

#include "LSStr.h"

namespace safetest {

std::string SafeXml(const std::string& body, const std::string& root)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<" + root + ">" + body + "</" + root + ">\r\n";
}

void SafeStoreFixture::SetUp()
{
    SafeDlgFixture::SetUp();
    m_safePath = m_dir.File("Tresor.xml");
    LSStrCopy(m_szSafeFile, sizeof(m_szSafeFile), m_safePath.c_str());
    m_pDlg->pszSafeFile = m_szSafeFile;
}

void SafeStoreFixture::TearDown()
{
    if (m_pDlg) m_pDlg->pszSafeFile = nullptr;
    SafeDlgFixture::TearDown();
}

void SafeStoreFixture::OpenSafe(const std::string& xml)
{
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safePath, xml));
    ASSERT_TRUE(m_pDlg->pXml->Init(m_safePath.c_str())) << xml;
}

void SafeStoreFixture::NewSafe()
{
    ASSERT_TRUE(m_pDlg->pXml->New("LSVER500"));
    ASSERT_TRUE(m_pDlg->pXml->Write(m_safePath.c_str(), nullptr));
}

ChildList SafeStoreFixture::FileChildren(const std::string& path)
{
    ChildList children;
    TXmlAPI xml(m_pOwner);
    EXPECT_TRUE(xml.Init(m_safePath.c_str()));
    std::vector<char> list(1 << 20, '\0');
    EXPECT_TRUE(xml.GPPS(path.c_str(), nullptr, list.data(), static_cast<DWORD>(list.size())));
    char szName[LS_TEXT_SIZE];
    for (const char* p = list.data(); *p; p += strlen(p) + 1) {
        const std::string child = path + "." + p;
        if (!xml.GetAtt(child.c_str(), "name", szName, sizeof(szName))) szName[0] = '\0';
        children.emplace_back(p, szName);
    }
    return children;
}

std::string SafeStoreFixture::FileText(const std::string& path)
{
    TXmlAPI xml(m_pOwner);
    EXPECT_TRUE(xml.Init(m_safePath.c_str()));
    std::vector<char> text(LS_TEXT_SIZE, '\0');
    if (!xml.GPPS(path.c_str(), text.data(), static_cast<DWORD>(text.size()))) return std::string();
    return text.data();
}

std::string SafeStoreFixture::FileAtt(const std::string& path, const std::string& attr)
{
    TXmlAPI xml(m_pOwner);
    EXPECT_TRUE(xml.Init(m_safePath.c_str()));
    std::vector<char> text(LS_TEXT_SIZE, '\0');
    if (!xml.GetAtt(path.c_str(), attr.c_str(), text.data(), static_cast<DWORD>(text.size()))) return std::string();
    return text.data();
}

std::vector<std::string> SafeStoreFixture::Captions()
{
    std::vector<std::string> captions;
    TListItems* pItems = m_pDlg->lstvBezeichnung->Items();
    for (int i = 0; i < pItems->Count(); ++i) captions.push_back(pItems->Item(i)->Caption());
    return captions;
}

}  // namespace safetest
