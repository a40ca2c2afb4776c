// The document model: elements, names ignoring case, paths, edits within the limits.
#include "XmlDocument.h"

#include <algorithm>

namespace ktxcmn {

// ---------------------------------------------------------------------------
// Characters
// ---------------------------------------------------------------------------

size_t XmlDecodeUtf8(const unsigned char* p, const unsigned char* end, uint32_t* pCodePoint)
{
    if (p >= end) return 0;
    unsigned char c = p[0];
    if (c < 0x80) {
        *pCodePoint = c;
        return 1;
    }
    size_t n;
    uint32_t cp;
    uint32_t minimum;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2; cp = c & 0x1Fu; minimum = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3; cp = c & 0x0Fu; minimum = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4; cp = c & 0x07u; minimum = 0x10000;
    } else {
        return 0;   // continuation byte, overlong lead or beyond U+10FFFF
    }
    if (static_cast<size_t>(end - p) < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    *pCodePoint = cp;
    return n;
}

void XmlAppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool XmlIsChar(uint32_t cp)
{
    if (cp < 0x20) return cp == 0x9 || cp == 0xA || cp == 0xD;
    if (cp <= 0xD7FF) return true;
    if (cp >= 0xE000 && cp <= 0xFFFD) return true;
    return cp >= 0x10000 && cp <= 0x10FFFF;
}

bool XmlIsNameStartChar(uint32_t cp)
{
    if (cp < 0x80) {
        return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || cp == '_' || cp == ':';
    }
    return (cp >= 0xC0 && cp <= 0xD6) || (cp >= 0xD8 && cp <= 0xF6) || (cp >= 0xF8 && cp <= 0x2FF) ||
           (cp >= 0x370 && cp <= 0x37D) || (cp >= 0x37F && cp <= 0x1FFF) || (cp >= 0x200C && cp <= 0x200D) ||
           (cp >= 0x2070 && cp <= 0x218F) || (cp >= 0x2C00 && cp <= 0x2FEF) || (cp >= 0x3001 && cp <= 0xD7FF) ||
           (cp >= 0xF900 && cp <= 0xFDCF) || (cp >= 0xFDF0 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0xEFFFF);
}

bool XmlIsNameChar(uint32_t cp)
{
    if (XmlIsNameStartChar(cp)) return true;
    if (cp < 0x80) return (cp >= '0' && cp <= '9') || cp == '-' || cp == '.';
    return cp == 0xB7 || (cp >= 0x300 && cp <= 0x36F) || (cp >= 0x203F && cp <= 0x2040);
}

bool XmlIsName(const std::string& name)
{
    if (name.empty()) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name.data());
    const unsigned char* end = p + name.size();
    bool first = true;
    while (p < end) {
        uint32_t cp = 0;
        size_t n = XmlDecodeUtf8(p, end, &cp);
        if (n == 0) return false;
        if (first ? !XmlIsNameStartChar(cp) : !XmlIsNameChar(cp)) return false;
        first = false;
        p += n;
    }
    return true;
}

bool XmlIsPathName(const std::string& name)
{
    return name.find('.') == std::string::npos && XmlIsName(name);
}

bool XmlIsText(const std::string& text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        if (*p >= 0x20 && *p < 0x80) {
            ++p;
            continue;
        }
        uint32_t cp = 0;
        size_t n = XmlDecodeUtf8(p, end, &cp);
        if (n == 0 || !XmlIsChar(cp)) return false;
        p += n;
    }
    return true;
}

std::string XmlFoldName(const std::string& name)
{
    std::string folded(name);
    for (size_t i = 0; i < folded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(folded[i]);
        if (c >= 'A' && c <= 'Z') {
            folded[i] = static_cast<char>(c + 32);
        } else if (c == 0xC3 && i + 1 < folded.size()) {
            // U+00C0..U+00DE (but not U+00D7, the multiplication sign) are the
            // capitals of U+00E0..U+00FE.
            unsigned char d = static_cast<unsigned char>(folded[i + 1]);
            if (d >= 0x80 && d <= 0x9E && d != 0x97) folded[i + 1] = static_cast<char>(d + 0x20);
            ++i;
        }
    }
    return folded;
}

bool XmlNamesEqual(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && XmlFoldName(a) == XmlFoldName(b);
}

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

XmlElement* XmlElement::FindChild(const std::string& childName) const
{
    auto it = m_index.find(XmlFoldName(childName));
    return it == m_index.end() ? nullptr : it->second;
}

XmlElement* XmlElement::AppendChild(std::string childName)
{
    std::string folded = XmlFoldName(childName);
    if (m_index.count(folded)) return nullptr;
    m_children.push_back(std::make_unique<XmlElement>(std::move(childName)));
    XmlElement* pChild = m_children.back().get();
    m_index.emplace(std::move(folded), pChild);
    return pChild;
}

bool XmlElement::RemoveChild(const XmlElement* pChild)
{
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [pChild](const std::unique_ptr<XmlElement>& p) { return p.get() == pChild; });
    if (it == m_children.end()) return false;
    m_index.erase(XmlFoldName(pChild->name));
    m_children.erase(it);
    return true;
}

const XmlAttribute* XmlElement::FindAttribute(const std::string& attrName) const
{
    for (const XmlAttribute& a : attributes) {
        if (a.name == attrName) return &a;
    }
    return nullptr;
}

XmlAttribute* XmlElement::FindAttribute(const std::string& attrName)
{
    for (XmlAttribute& a : attributes) {
        if (a.name == attrName) return &a;
    }
    return nullptr;
}

bool XmlTreesEqual(const XmlElement& a, const XmlElement& b)
{
    if (a.name != b.name || a.text != b.text) return false;
    if (a.attributes.size() != b.attributes.size()) return false;
    for (size_t i = 0; i < a.attributes.size(); ++i) {
        if (a.attributes[i].name != b.attributes[i].name || a.attributes[i].value != b.attributes[i].value)
            return false;
    }
    const auto& ca = a.Children();
    const auto& cb = b.Children();
    if (ca.size() != cb.size()) return false;
    for (size_t i = 0; i < ca.size(); ++i) {
        if (!XmlTreesEqual(*ca[i], *cb[i])) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Document
// ---------------------------------------------------------------------------

namespace {

void CountTree(const XmlElement& e, size_t& elements, size_t& attributes)
{
    ++elements;
    attributes += e.attributes.size();
    for (const auto& c : e.Children()) CountTree(*c, elements, attributes);
}

}  // namespace

bool XmlDocument::Load(const char* pData, size_t cbData, XmlParseError* pError)
{
    Clear();
    std::unique_ptr<XmlElement> root;
    XmlCounts counts;
    if (!XmlParse(pData, cbData, m_limits, root, counts, pError)) return false;
    m_root = std::move(root);
    m_elements = counts.elements;
    m_attributes = counts.attributes;
    return true;
}

bool XmlDocument::Save(std::string& out) const
{
    out.clear();
    if (!m_root) return false;
    return XmlWrite(*m_root, m_limits, out);
}

XmlStatus XmlDocument::New(const std::string& rootName)
{
    if (!XmlIsPathName(rootName) || rootName.size() > m_limits.maxName) return XmlStatus::BadName;
    Clear();
    m_root = std::make_unique<XmlElement>(rootName);
    m_elements = 1;
    return XmlStatus::Ok;
}

void XmlDocument::Clear()
{
    m_root.reset();
    m_elements = 0;
    m_attributes = 0;
}

XmlStatus XmlDocument::Split(const std::string& path, std::vector<std::string>& names) const
{
    names.clear();
    if (path.empty()) return XmlStatus::BadPath;
    size_t start = 0;
    for (;;) {
        size_t dot = path.find('.', start);
        size_t end = dot == std::string::npos ? path.size() : dot;
        if (end == start) return XmlStatus::BadPath;
        if (names.size() >= m_limits.maxDepth) return XmlStatus::TooLarge;
        names.push_back(path.substr(start, end - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return XmlStatus::Ok;
}

// The element named by the first count names, or null.
XmlElement* XmlDocument::Resolve(const std::vector<std::string>& names, size_t count) const
{
    if (!m_root || count == 0 || !XmlNamesEqual(names[0], m_root->name)) return nullptr;
    XmlElement* p = m_root.get();
    for (size_t i = 1; i < count && p; ++i) p = p->FindChild(names[i]);
    return p;
}

XmlStatus XmlDocument::Find(const std::string& path, const XmlElement** ppElement) const
{
    *ppElement = nullptr;
    if (!m_root) return XmlStatus::NoDocument;
    std::vector<std::string> names;
    XmlStatus status = Split(path, names);
    if (status != XmlStatus::Ok) return status;
    const XmlElement* p = Resolve(names, names.size());
    if (!p) return XmlStatus::NotFound;
    *ppElement = p;
    return XmlStatus::Ok;
}

XmlStatus XmlDocument::SetText(const std::string& path, std::string text)
{
    if (!m_root) return XmlStatus::NoDocument;
    std::vector<std::string> names;
    XmlStatus status = Split(path, names);
    if (status != XmlStatus::Ok) return status;
    if (!XmlNamesEqual(names[0], m_root->name)) return XmlStatus::NotFound;
    if (!XmlIsText(text)) return XmlStatus::BadText;
    if (text.size() > m_limits.maxText) return XmlStatus::TooLarge;

    // Check the whole path before creating anything, so a refused call
    // leaves the document as it was.
    XmlElement* p = m_root.get();
    size_t existing = 1;
    while (existing < names.size()) {
        XmlElement* pChild = p->FindChild(names[existing]);
        if (!pChild) break;
        p = pChild;
        ++existing;
    }
    size_t missing = names.size() - existing;
    if (missing > 0) {
        for (size_t i = existing; i < names.size(); ++i) {
            if (!XmlIsPathName(names[i])) return XmlStatus::BadName;
            if (names[i].size() > m_limits.maxName) return XmlStatus::TooLarge;
        }
        if (p->Children().size() >= m_limits.maxChildren) return XmlStatus::TooLarge;
        if (m_elements + missing > m_limits.maxElements) return XmlStatus::TooLarge;
        for (size_t i = existing; i < names.size(); ++i) {
            p = p->AppendChild(names[i]);
            ++m_elements;
        }
    }
    p->text.swap(text);
    return XmlStatus::Ok;
}

XmlStatus XmlDocument::Remove(const std::string& path)
{
    if (!m_root) return XmlStatus::NoDocument;
    std::vector<std::string> names;
    XmlStatus status = Split(path, names);
    if (status != XmlStatus::Ok) return status;
    XmlElement* p = Resolve(names, names.size());
    if (!p) return XmlStatus::NotFound;
    if (p == m_root.get()) return XmlStatus::Refused;
    XmlElement* pParent = Resolve(names, names.size() - 1);
    size_t elements = 0, attributes = 0;
    CountTree(*p, elements, attributes);
    if (!pParent || !pParent->RemoveChild(p)) return XmlStatus::NotFound;
    m_elements -= elements;
    m_attributes -= attributes;
    return XmlStatus::Ok;
}

XmlStatus XmlDocument::SetAttribute(const std::string& path, const std::string& attrName, std::string value)
{
    if (!m_root) return XmlStatus::NoDocument;
    std::vector<std::string> names;
    XmlStatus status = Split(path, names);
    if (status != XmlStatus::Ok) return status;
    XmlElement* p = Resolve(names, names.size());
    if (!p) return XmlStatus::NotFound;
    if (!XmlIsName(attrName)) return XmlStatus::BadName;
    if (!XmlIsText(value)) return XmlStatus::BadText;
    if (attrName.size() > m_limits.maxName || value.size() > m_limits.maxAttrValue) return XmlStatus::TooLarge;
    if (XmlAttribute* pAttr = p->FindAttribute(attrName)) {
        pAttr->value.swap(value);
        return XmlStatus::Ok;
    }
    if (p->attributes.size() >= m_limits.maxAttributes || m_attributes >= m_limits.maxTotalAttributes)
        return XmlStatus::TooLarge;
    p->attributes.push_back(XmlAttribute{attrName, std::move(value)});
    ++m_attributes;
    return XmlStatus::Ok;
}

}  // namespace ktxcmn
