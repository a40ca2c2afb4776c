// XML documents as trees of elements: the model shared by the reader, the
// writer and TXmlAPI. Plain C++ over bytes (no Windows headers), so the reader
// and writer also build natively for the fuzz targets.
//
// Every string of the model is UTF-8: element names, attribute names and
// values, element texts. TXmlAPI converts from and to the ANSI code page at
// its boundary.
//
// An element has one text: the concatenation of its character data. In an
// element that has child elements, runs of character data made only of
// literal white space (the indentation between children) are not part of the
// text. Comments and processing instructions are not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ktxcmn {

// Bounds of what a document may hold. The reader refuses a file beyond them
// and the editing operations refuse to build a document beyond them, so
// everything the writer writes reads back.
struct XmlLimits {
    size_t maxInput = 64u * 1024u * 1024u;   // bytes of a document file
    size_t maxDepth = 256;                   // element nesting, the root at depth 1
    size_t maxName = 1024;                   // bytes of an element or attribute name
    size_t maxAttrValue = 64u * 1024u;       // bytes of one attribute value
    size_t maxText = 1024u * 1024u;          // bytes of one element's text
    size_t maxAttributes = 256;              // attributes of one element
    size_t maxChildren = 100000;             // children of one element
    size_t maxElements = 200000;             // elements of the whole document
    size_t maxTotalAttributes = 400000;      // attributes of the whole document
};

struct XmlAttribute {
    std::string name;
    std::string value;
};

class XmlElement {
public:
    explicit XmlElement(std::string elementName) : name(std::move(elementName)) {}
    XmlElement(const XmlElement&) = delete;
    XmlElement& operator=(const XmlElement&) = delete;

    std::string name;
    std::string text;
    std::vector<XmlAttribute> attributes;   // document order

    const std::vector<std::unique_ptr<XmlElement>>& Children() const { return m_children; }
    // The child whose name equals the given one ignoring case, or null.
    XmlElement* FindChild(const std::string& childName) const;
    // Appends a child at the end; null when a sibling has that name ignoring case.
    XmlElement* AppendChild(std::string childName);
    // Removes a child with everything in it; false when it is not a child.
    bool RemoveChild(const XmlElement* pChild);

    // The attribute with exactly this name, or null.
    const XmlAttribute* FindAttribute(const std::string& attrName) const;
    XmlAttribute* FindAttribute(const std::string& attrName);

private:
    std::vector<std::unique_ptr<XmlElement>> m_children;
    std::unordered_map<std::string, XmlElement*> m_index;   // folded name -> child
};

// Why a load failed: the byte offset in the file and a short reason.
struct XmlParseError {
    size_t offset = 0;
    const char* reason = "";
};

// Results of the editing operations of XmlDocument.
enum class XmlStatus {
    Ok,
    NoDocument,    // no root element
    BadPath,       // empty path or empty name in it
    NotFound,      // no element at the path (or a first name other than the root's)
    BadName,       // not an XML name, or a name that a path cannot address
    BadText,       // not UTF-8, or characters XML cannot carry
    TooLarge,      // beyond the limits
    Refused        // the operation does not apply (for example removing the root)
};

class XmlDocument {
public:
    explicit XmlDocument(const XmlLimits& limits = XmlLimits()) : m_limits(limits) {}
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    const XmlLimits& Limits() const { return m_limits; }
    bool HasRoot() const { return m_root != nullptr; }
    const XmlElement* Root() const { return m_root.get(); }
    size_t ElementCount() const { return m_elements; }
    size_t AttributeCount() const { return m_attributes; }

    // Parses a document; on failure the document is empty.
    bool Load(const char* pData, size_t cbData, XmlParseError* pError = nullptr);
    // Serialises the document; false when there is none or it is not writable.
    bool Save(std::string& out) const;
    // Starts an empty document with this root element.
    XmlStatus New(const std::string& rootName);
    void Clear();

    // Paths are element names from the root joined by ".", compared ignoring case.
    XmlStatus Find(const std::string& path, const XmlElement** ppElement) const;
    // Sets the text of the element, creating missing elements along the path.
    XmlStatus SetText(const std::string& path, std::string text);
    // Removes the element with everything in it (never the root).
    XmlStatus Remove(const std::string& path);
    // Sets or replaces an attribute of an existing element.
    XmlStatus SetAttribute(const std::string& path, const std::string& attrName, std::string value);

private:
    XmlStatus Split(const std::string& path, std::vector<std::string>& names) const;
    XmlElement* Resolve(const std::vector<std::string>& names, size_t count) const;

    XmlLimits m_limits;
    std::unique_ptr<XmlElement> m_root;
    size_t m_elements = 0;
    size_t m_attributes = 0;
};

// ---------------------------------------------------------------------------
// Reader and writer
// ---------------------------------------------------------------------------

// Counts of a parsed tree.
struct XmlCounts {
    size_t elements = 0;
    size_t attributes = 0;
};

// Strict XML 1.0 reader. Accepts UTF-8 (with or without byte order mark),
// US-ASCII, ISO-8859-1 and windows-1252 as declared encodings; refuses a
// document type declaration, undeclared entities, two sibling elements whose
// names are equal ignoring case, and anything beyond the limits.
bool XmlParse(const char* pData, size_t cbData, const XmlLimits& limits, std::unique_ptr<XmlElement>& root,
              XmlCounts& counts, XmlParseError* pError);

// Writes a UTF-8 document with its declaration, one child per line. False when
// the tree holds anything the reader would refuse (the output is then empty).
bool XmlWrite(const XmlElement& root, const XmlLimits& limits, std::string& out);

// True when both trees have the same names, texts, attributes and children.
bool XmlTreesEqual(const XmlElement& a, const XmlElement& b);

// ---------------------------------------------------------------------------
// Character helpers (UTF-8)
// ---------------------------------------------------------------------------

// Name for comparisons ignoring case: ASCII letters and the letters of
// U+00C0..U+00DE are lowered.
std::string XmlFoldName(const std::string& name);
bool XmlNamesEqual(const std::string& a, const std::string& b);
// An XML Name that a path can address (no "." in it).
bool XmlIsPathName(const std::string& name);
// An XML Name.
bool XmlIsName(const std::string& name);
// Valid UTF-8 made only of characters XML 1.0 can carry.
bool XmlIsText(const std::string& text);

// Decodes one UTF-8 sequence at p (p < end); 0 on an invalid sequence.
size_t XmlDecodeUtf8(const unsigned char* p, const unsigned char* end, uint32_t* pCodePoint);
void XmlAppendUtf8(std::string& out, uint32_t codePoint);
bool XmlIsChar(uint32_t cp);
bool XmlIsNameStartChar(uint32_t cp);
bool XmlIsNameChar(uint32_t cp);

}  // namespace ktxcmn
