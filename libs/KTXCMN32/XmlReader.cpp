// The strict XML 1.0 reader. It walks the bytes once, without recursion, and
// refuses (with the offset and a reason) whatever is not well-formed or goes
// beyond the limits. A document type declaration is refused as a whole, so no
// entity is ever declared, expanded or fetched.
#include <cstring>

#include "XmlDocument.h"

namespace ktxcmn {

namespace {

enum class Encoding { Utf8, Ascii, Latin1, Windows1252 };

// windows-1252 bytes 0x80..0x9F; the five unassigned bytes keep their C1 code point.
const uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsSpace(unsigned char c)
{
    return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD;
}

bool AsciiEqualNoCase(const std::string& a, const char* b)
{
    size_t n = strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// One open element while its content is read.
struct Frame {
    XmlElement* element;
    // Runs of literal white space in the element's text (offset, length);
    // dropped when the element turns out to have children.
    std::vector<std::pair<size_t, size_t>> spaceRuns;
    size_t spaceBytes = 0;   // bytes in spaceRuns
    size_t runStart = 0;
    bool runAllSpace = true;
};

class Parser {
public:
    Parser(const char* pData, size_t cbData, const XmlLimits& limits, XmlCounts& counts)
        : m_begin(reinterpret_cast<const unsigned char*>(pData)),
          m_p(m_begin),
          m_end(m_begin + cbData),
          m_limits(limits),
          m_counts(counts)
    {
    }

    bool Run(std::unique_ptr<XmlElement>& root);

    size_t Offset() const { return static_cast<size_t>(m_p - m_begin); }
    const char* Reason() const { return m_reason ? m_reason : "not well-formed"; }

private:
    bool Fail(const char* reason)
    {
        if (!m_reason) m_reason = reason;
        return false;
    }
    bool AtEnd() const { return m_p >= m_end; }
    bool StartsWith(const char* s) const
    {
        size_t n = strlen(s);
        return static_cast<size_t>(m_end - m_p) >= n && memcmp(m_p, s, n) == 0;
    }
    bool SkipSpace()
    {
        const unsigned char* start = m_p;
        while (m_p < m_end && IsSpace(*m_p)) ++m_p;
        return m_p != start;
    }

    // Decodes the character at the current position (without moving); 0 on a
    // malformed sequence or a character XML cannot carry.
    size_t PeekChar(uint32_t* pCp) const;
    bool ReadName(std::string& name);
    bool ReadReference(std::string& out);
    bool ReadXmlDeclaration();
    bool ReadPseudoAttribute(const char* name, std::string& value, bool optional, bool* pFound);
    bool ReadComment();
    bool ReadProcessingInstruction();
    bool ReadMisc();
    bool ReadStartTag(Frame* pParent, std::unique_ptr<XmlElement>& root, bool* pEmpty, XmlElement** ppNew);
    bool ReadAttributeValue(std::string& value);
    bool ReadContent(std::vector<Frame>& stack);
    bool ReadCData(Frame& frame);
    bool AppendText(Frame& frame, const char* p, size_t n);
    void EndRun(Frame& frame);
    bool CloseElement(Frame& frame);

    const unsigned char* m_begin;
    const unsigned char* m_p;
    const unsigned char* m_end;
    const XmlLimits& m_limits;
    XmlCounts& m_counts;
    Encoding m_encoding = Encoding::Utf8;
    const char* m_reason = nullptr;
};

size_t Parser::PeekChar(uint32_t* pCp) const
{
    if (m_p >= m_end) return 0;
    unsigned char c = *m_p;
    size_t n = 1;
    uint32_t cp = c;
    if (c >= 0x80) {
        switch (m_encoding) {
        case Encoding::Utf8:
            n = XmlDecodeUtf8(m_p, m_end, &cp);
            if (n == 0) return 0;
            break;
        case Encoding::Ascii:
            return 0;
        case Encoding::Latin1:
            break;
        case Encoding::Windows1252:
            if (c < 0xA0) cp = kWindows1252High[c - 0x80];
            break;
        }
    }
    if (!XmlIsChar(cp)) return 0;
    *pCp = cp;
    return n;
}

bool Parser::ReadName(std::string& name)
{
    name.clear();
    uint32_t cp = 0;
    size_t n = PeekChar(&cp);
    if (n == 0 || !XmlIsNameStartChar(cp)) return Fail("a name was expected");
    do {
        XmlAppendUtf8(name, cp);
        if (name.size() > m_limits.maxName) return Fail("a name is too long");
        m_p += n;
        n = PeekChar(&cp);
    } while (n != 0 && XmlIsNameChar(cp));
    return true;
}

// At '&': a character reference or one of the five predefined entities.
bool Parser::ReadReference(std::string& out)
{
    ++m_p;
    if (m_p < m_end && *m_p == '#') {
        ++m_p;
        bool hex = false;
        if (m_p < m_end && *m_p == 'x') {
            hex = true;
            ++m_p;
        }
        uint32_t value = 0;
        size_t digits = 0;
        while (m_p < m_end && *m_p != ';') {
            unsigned char c = *m_p;
            uint32_t d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return Fail("a malformed character reference");
            value = value * (hex ? 16u : 10u) + d;
            if (value > 0x10FFFF) return Fail("a character reference beyond Unicode");
            ++digits;
            ++m_p;
        }
        if (m_p >= m_end) return Fail("an unterminated character reference");
        if (digits == 0) return Fail("an empty character reference");
        if (!XmlIsChar(value)) return Fail("a reference to a character XML cannot carry");
        ++m_p;
        XmlAppendUtf8(out, value);
        return true;
    }
    static const struct {
        const char* name;
        char ch;
    } kPredefined[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
    for (const auto& e : kPredefined) {
        if (StartsWith(e.name)) {
            m_p += strlen(e.name);
            out.push_back(e.ch);
            return true;
        }
    }
    return Fail("an undeclared entity reference");
}

bool Parser::ReadPseudoAttribute(const char* name, std::string& value, bool optional, bool* pFound)
{
    const unsigned char* start = m_p;
    bool hadSpace = SkipSpace();
    if (!StartsWith(name)) {
        m_p = start;
        if (optional) {
            *pFound = false;
            return true;
        }
        return Fail("the XML declaration lacks its version");
    }
    if (!hadSpace) return Fail("a malformed XML declaration");
    m_p += strlen(name);
    SkipSpace();
    if (AtEnd() || *m_p != '=') return Fail("a malformed XML declaration");
    ++m_p;
    SkipSpace();
    if (AtEnd() || (*m_p != '"' && *m_p != '\'')) return Fail("a malformed XML declaration");
    unsigned char quote = *m_p++;
    value.clear();
    while (m_p < m_end && *m_p != quote) {
        unsigned char c = *m_p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok || value.size() >= 64) return Fail("a malformed XML declaration");
        value.push_back(static_cast<char>(c));
        ++m_p;
    }
    if (m_p >= m_end) return Fail("a malformed XML declaration");
    ++m_p;
    *pFound = true;
    return true;
}

// At "<?xml" followed by white space.
bool Parser::ReadXmlDeclaration()
{
    m_p += 5;
    std::string version, encoding, standalone;
    bool found = false;
    if (!ReadPseudoAttribute("version", version, false, &found)) return false;
    if (version.size() < 3 || version[0] != '1' || version[1] != '.') return Fail("an unknown XML version");
    for (size_t i = 2; i < version.size(); ++i) {
        if (version[i] < '0' || version[i] > '9') return Fail("an unknown XML version");
    }
    bool hasEncoding = false;
    if (!ReadPseudoAttribute("encoding", encoding, true, &hasEncoding)) return false;
    if (hasEncoding) {
        if (encoding.empty() || !((encoding[0] >= 'a' && encoding[0] <= 'z') || (encoding[0] >= 'A' && encoding[0] <= 'Z')))
            return Fail("a malformed encoding name");
        if (AsciiEqualNoCase(encoding, "UTF-8")) m_encoding = Encoding::Utf8;
        else if (AsciiEqualNoCase(encoding, "US-ASCII") || AsciiEqualNoCase(encoding, "ASCII"))
            m_encoding = Encoding::Ascii;
        else if (AsciiEqualNoCase(encoding, "ISO-8859-1") || AsciiEqualNoCase(encoding, "Latin1"))
            m_encoding = Encoding::Latin1;
        else if (AsciiEqualNoCase(encoding, "windows-1252") || AsciiEqualNoCase(encoding, "cp1252"))
            m_encoding = Encoding::Windows1252;
        else return Fail("an unsupported encoding");
    }
    bool hasStandalone = false;
    if (!ReadPseudoAttribute("standalone", standalone, true, &hasStandalone)) return false;
    if (hasStandalone && standalone != "yes" && standalone != "no") return Fail("a malformed standalone value");
    SkipSpace();
    if (!StartsWith("?>")) return Fail("a malformed XML declaration");
    m_p += 2;
    return true;
}

// At "<!--".
bool Parser::ReadComment()
{
    m_p += 4;
    for (;;) {
        if (AtEnd()) return Fail("an unterminated comment");
        if (*m_p == '-' && m_p + 1 < m_end && m_p[1] == '-') {
            if (m_p + 2 < m_end && m_p[2] == '>') {
                m_p += 3;
                return true;
            }
            return Fail("\"--\" inside a comment");
        }
        uint32_t cp = 0;
        size_t n = PeekChar(&cp);
        if (n == 0) return Fail("an invalid character");
        m_p += n;
    }
}

// At "<?" (not the XML declaration).
bool Parser::ReadProcessingInstruction()
{
    m_p += 2;
    std::string target;
    if (!ReadName(target)) return false;
    if (AsciiEqualNoCase(target, "xml")) return Fail("a misplaced XML declaration");
    if (StartsWith("?>")) {
        m_p += 2;
        return true;
    }
    if (!SkipSpace()) return Fail("a malformed processing instruction");
    for (;;) {
        if (AtEnd()) return Fail("an unterminated processing instruction");
        if (StartsWith("?>")) {
            m_p += 2;
            return true;
        }
        uint32_t cp = 0;
        size_t n = PeekChar(&cp);
        if (n == 0) return Fail("an invalid character");
        m_p += n;
    }
}

// White space, comments and processing instructions outside the root element.
bool Parser::ReadMisc()
{
    for (;;) {
        SkipSpace();
        if (StartsWith("<!--")) {
            if (!ReadComment()) return false;
        } else if (StartsWith("<?")) {
            if (!ReadProcessingInstruction()) return false;
        } else if (StartsWith("<!DOCTYPE")) {
            return Fail("document type declarations are refused");
        } else {
            return true;
        }
    }
}

// At the opening quote of an attribute value. Literal white space becomes a
// space; references keep what they stand for.
bool Parser::ReadAttributeValue(std::string& value)
{
    unsigned char quote = *m_p++;
    value.clear();
    for (;;) {
        if (AtEnd()) return Fail("an unterminated attribute value");
        unsigned char c = *m_p;
        if (c == quote) {
            ++m_p;
            return true;
        }
        if (c == '<') return Fail("\"<\" in an attribute value");
        if (c == '&') {
            if (!ReadReference(value)) return false;
        } else if (c == '\r') {
            ++m_p;
            if (m_p < m_end && *m_p == '\n') ++m_p;
            value.push_back(' ');
        } else if (c == '\n' || c == '\t') {
            ++m_p;
            value.push_back(' ');
        } else if (c >= 0x20 && c < 0x80) {
            const unsigned char* start = m_p;
            while (m_p < m_end && *m_p >= 0x20 && *m_p < 0x80 && *m_p != quote && *m_p != '<' && *m_p != '&')
                ++m_p;
            value.append(reinterpret_cast<const char*>(start), static_cast<size_t>(m_p - start));
        } else {
            uint32_t cp = 0;
            size_t n = PeekChar(&cp);
            if (n == 0) return Fail("an invalid character");
            XmlAppendUtf8(value, cp);
            m_p += n;
        }
        if (value.size() > m_limits.maxAttrValue) return Fail("an attribute value is too long");
    }
}

// At '<' followed by a name. Creates the element under the parent (or as the root).
bool Parser::ReadStartTag(Frame* pParent, std::unique_ptr<XmlElement>& root, bool* pEmpty, XmlElement** ppNew)
{
    ++m_p;
    std::string name;
    if (!ReadName(name)) return false;
    if (m_counts.elements >= m_limits.maxElements) return Fail("too many elements");
    XmlElement* pElement;
    if (pParent) {
        if (pParent->element->Children().size() >= m_limits.maxChildren) return Fail("too many children");
        pElement = pParent->element->AppendChild(std::move(name));
        if (!pElement) return Fail("two sibling elements with the same name");
    } else {
        root = std::make_unique<XmlElement>(std::move(name));
        pElement = root.get();
    }
    ++m_counts.elements;
    for (;;) {
        bool hadSpace = SkipSpace();
        if (AtEnd()) return Fail("an unterminated start tag");
        if (*m_p == '>') {
            ++m_p;
            *pEmpty = false;
            break;
        }
        if (*m_p == '/') {
            if (m_p + 1 >= m_end || m_p[1] != '>') return Fail("a malformed start tag");
            m_p += 2;
            *pEmpty = true;
            break;
        }
        if (!hadSpace) return Fail("attributes must be separated by white space");
        std::string attrName;
        if (!ReadName(attrName)) return false;
        SkipSpace();
        if (AtEnd() || *m_p != '=') return Fail("an attribute without a value");
        ++m_p;
        SkipSpace();
        if (AtEnd() || (*m_p != '"' && *m_p != '\'')) return Fail("an unquoted attribute value");
        if (pElement->FindAttribute(attrName)) return Fail("a repeated attribute");
        if (pElement->attributes.size() >= m_limits.maxAttributes) return Fail("too many attributes");
        if (m_counts.attributes >= m_limits.maxTotalAttributes) return Fail("too many attributes");
        std::string value;
        if (!ReadAttributeValue(value)) return false;
        pElement->attributes.push_back(XmlAttribute{std::move(attrName), std::move(value)});
        ++m_counts.attributes;
    }
    *ppNew = pElement;
    return true;
}

bool Parser::AppendText(Frame& frame, const char* p, size_t n)
{
    // The limit applies to the text that is kept: white space between child
    // elements (indentation) is dropped and does not count against it.
    std::string& text = frame.element->text;
    size_t droppable = frame.spaceBytes + (frame.runAllSpace ? text.size() - frame.runStart + n : 0);
    if (text.size() + n - droppable > m_limits.maxText) return Fail("an element text is too long");
    if (text.size() + n > m_limits.maxInput) return Fail("an element text is too long");
    text.append(p, n);
    return true;
}

// Ends the current run of character data.
void Parser::EndRun(Frame& frame)
{
    size_t size = frame.element->text.size();
    if (frame.runAllSpace && size > frame.runStart) {
        frame.spaceRuns.emplace_back(frame.runStart, size - frame.runStart);
        frame.spaceBytes += size - frame.runStart;
    }
    frame.runStart = size;
    frame.runAllSpace = true;
}

bool Parser::CloseElement(Frame& frame)
{
    EndRun(frame);
    XmlElement* e = frame.element;
    // Without children, the white space is the text itself and is kept.
    if (e->Children().empty() && e->text.size() > m_limits.maxText) return Fail("an element text is too long");
    if (!e->Children().empty() && !frame.spaceRuns.empty()) {
        std::string kept;
        size_t from = 0;
        for (const auto& run : frame.spaceRuns) {
            kept.append(e->text, from, run.first - from);
            from = run.first + run.second;
        }
        kept.append(e->text, from, std::string::npos);
        e->text.swap(kept);
    }
    return true;
}

// At "<![CDATA[".
bool Parser::ReadCData(Frame& frame)
{
    m_p += 9;
    EndRun(frame);
    frame.runAllSpace = false;   // a CDATA section is never indentation
    for (;;) {
        if (AtEnd()) return Fail("an unterminated CDATA section");
        if (StartsWith("]]>")) {
            m_p += 3;
            break;
        }
        char buffer[4];
        size_t n;
        if (*m_p == '\r') {
            ++m_p;
            if (m_p < m_end && *m_p == '\n') ++m_p;
            buffer[0] = '\n';
            n = 1;
        } else {
            uint32_t cp = 0;
            size_t len = PeekChar(&cp);
            if (len == 0) return Fail("an invalid character");
            m_p += len;
            std::string utf8;
            XmlAppendUtf8(utf8, cp);
            memcpy(buffer, utf8.data(), utf8.size());
            n = utf8.size();
        }
        if (!AppendText(frame, buffer, n)) return false;
    }
    EndRun(frame);
    return true;
}

// The content of the open elements, until the root element is closed.
bool Parser::ReadContent(std::vector<Frame>& stack)
{
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (AtEnd()) return Fail("the document ends inside an element");
        unsigned char c = *m_p;
        if (c == '<') {
            if (m_p + 1 >= m_end) return Fail("the document ends inside an element");
            unsigned char next = m_p[1];
            if (next == '/') {
                m_p += 2;
                std::string name;
                if (!ReadName(name)) return false;
                SkipSpace();
                if (AtEnd() || *m_p != '>') return Fail("a malformed end tag");
                if (name != frame.element->name) return Fail("an end tag that does not match its start tag");
                ++m_p;
                if (!CloseElement(frame)) return false;
                stack.pop_back();
            } else if (StartsWith("<!--")) {
                EndRun(frame);
                if (!ReadComment()) return false;
            } else if (StartsWith("<![CDATA[")) {
                if (!ReadCData(frame)) return false;
            } else if (next == '?') {
                EndRun(frame);
                if (!ReadProcessingInstruction()) return false;
            } else if (next == '!') {
                return Fail("markup that is not allowed in content");
            } else {
                EndRun(frame);
                if (stack.size() >= m_limits.maxDepth) return Fail("elements are nested too deeply");
                bool empty = false;
                XmlElement* pChild = nullptr;
                std::unique_ptr<XmlElement> unused;
                if (!ReadStartTag(&frame, unused, &empty, &pChild)) return false;
                if (!empty) {
                    Frame child;
                    child.element = pChild;
                    stack.push_back(std::move(child));   // invalidates frame
                }
            }
        } else if (c == '&') {
            std::string decoded;
            if (!ReadReference(decoded)) return false;
            frame.runAllSpace = false;
            if (!AppendText(frame, decoded.data(), decoded.size())) return false;
        } else if (c == '\r') {
            ++m_p;
            if (m_p < m_end && *m_p == '\n') ++m_p;
            if (!AppendText(frame, "\n", 1)) return false;
        } else if (c == '>' && m_p - m_begin >= 2 && m_p[-1] == ']' && m_p[-2] == ']') {
            return Fail("\"]]>\" in character data");
        } else if ((c >= 0x20 && c < 0x80) || c == '\n' || c == '\t') {
            const unsigned char* start = m_p;
            bool allSpace = true;
            while (m_p < m_end) {
                unsigned char d = *m_p;
                if (d == '<' || d == '&' || d == '\r' || d >= 0x80) break;
                if (d < 0x20 && d != '\n' && d != '\t') break;
                if (d == '>' && m_p - start >= 2 && m_p[-1] == ']' && m_p[-2] == ']')
                    return Fail("\"]]>\" in character data");
                if (d != ' ' && d != '\n' && d != '\t') allSpace = false;
                ++m_p;
            }
            if (!allSpace) frame.runAllSpace = false;
            if (!AppendText(frame, reinterpret_cast<const char*>(start), static_cast<size_t>(m_p - start)))
                return false;
        } else {
            uint32_t cp = 0;
            size_t n = PeekChar(&cp);
            if (n == 0) return Fail("an invalid character");
            m_p += n;
            std::string utf8;
            XmlAppendUtf8(utf8, cp);
            frame.runAllSpace = false;
            if (!AppendText(frame, utf8.data(), utf8.size())) return false;
        }
    }
    return true;
}

bool Parser::Run(std::unique_ptr<XmlElement>& root)
{
    if (static_cast<size_t>(m_end - m_begin) > m_limits.maxInput) return Fail("the document is too large");
    bool bom = false;
    if (StartsWith("\xEF\xBB\xBF")) {
        m_p += 3;
        bom = true;
    }
    if (StartsWith("<?xml") && m_p + 5 < m_end && IsSpace(m_p[5])) {
        if (!ReadXmlDeclaration()) return false;
        if (bom && m_encoding != Encoding::Utf8) return Fail("a byte order mark contradicts the encoding");
    }
    if (!ReadMisc()) return false;
    if (AtEnd()) return Fail("the document has no root element");
    if (*m_p != '<') return Fail("content outside the root element");
    bool empty = false;
    XmlElement* pRoot = nullptr;
    if (!ReadStartTag(nullptr, root, &empty, &pRoot)) return false;
    if (!empty) {
        std::vector<Frame> stack;
        stack.reserve(16);
        Frame frame;
        frame.element = pRoot;
        stack.push_back(std::move(frame));
        if (!ReadContent(stack)) return false;
    }
    if (!ReadMisc()) return false;
    if (!AtEnd()) return Fail("content after the root element");
    return true;
}

}  // namespace

bool XmlParse(const char* pData, size_t cbData, const XmlLimits& limits, std::unique_ptr<XmlElement>& root,
              XmlCounts& counts, XmlParseError* pError)
{
    root.reset();
    counts = XmlCounts();
    if (!pData && cbData) cbData = 0;
    static const char kEmpty[1] = {0};
    Parser parser(pData ? pData : kEmpty, cbData, limits, counts);
    std::unique_ptr<XmlElement> parsed;
    if (!parser.Run(parsed)) {
        if (pError) {
            pError->offset = parser.Offset();
            pError->reason = parser.Reason();
        }
        counts = XmlCounts();
        return false;
    }
    root = std::move(parsed);
    return true;
}

}  // namespace ktxcmn
