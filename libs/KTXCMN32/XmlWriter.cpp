// The writer: a UTF-8 document with its declaration, one element per line,
// children indented by tabs. It checks the tree against the reader's rules
// and limits as it goes, so that everything it writes reads back as the same
// tree.
//
// Escapes: "&", "<" and ">" everywhere; in attribute values also the double
// quote and tab, line feed and carriage return (which the reader would turn
// into spaces); in texts the carriage return (which the reader would fold
// into a line feed). The text of an element that has children is written
// directly behind its start tag; when it is made only of white space, that
// white space is written as character references, because indentation
// between children is not part of a text.
#include "XmlDocument.h"

namespace ktxcmn {

namespace {

const char kLineEnd[] = "\r\n";

class Writer {
public:
    Writer(const XmlLimits& limits, std::string& out) : m_limits(limits), m_out(out) {}

    bool Element(const XmlElement& e, size_t depth)
    {
        if (depth > m_limits.maxDepth) return false;
        if (!XmlIsName(e.name) || e.name.size() > m_limits.maxName) return false;
        if (e.attributes.size() > m_limits.maxAttributes) return false;
        if (e.Children().size() > m_limits.maxChildren) return false;
        if (++m_elements > m_limits.maxElements) return false;
        m_attributes += e.attributes.size();
        if (m_attributes > m_limits.maxTotalAttributes) return false;

        m_out.push_back('<');
        m_out.append(e.name);
        for (size_t i = 0; i < e.attributes.size(); ++i) {
            const XmlAttribute& a = e.attributes[i];
            if (!XmlIsName(a.name) || a.name.size() > m_limits.maxName) return false;
            if (!XmlIsText(a.value) || a.value.size() > m_limits.maxAttrValue) return false;
            for (size_t j = 0; j < i; ++j) {
                if (e.attributes[j].name == a.name) return false;
            }
            m_out.push_back(' ');
            m_out.append(a.name);
            m_out.append("=\"");
            AttributeValue(a.value);
            m_out.push_back('"');
        }
        if (!XmlIsText(e.text) || e.text.size() > m_limits.maxText) return false;

        const auto& children = e.Children();
        if (children.empty()) {
            if (e.text.empty()) {
                m_out.append("/>");
                return Fits();
            }
            m_out.push_back('>');
            Text(e.text, false);
        } else {
            m_out.push_back('>');
            Text(e.text, true);
            for (size_t i = 0; i < children.size(); ++i) {
                if (i > 0 || e.text.empty()) Indent(depth);
                if (!Element(*children[i], depth + 1)) return false;
            }
            Indent(depth - 1);
        }
        m_out.append("</");
        m_out.append(e.name);
        m_out.push_back('>');
        return Fits();
    }

private:
    bool Fits() const { return m_out.size() <= m_limits.maxInput; }

    void Indent(size_t tabs)
    {
        m_out.append(kLineEnd);
        m_out.append(tabs, '\t');
    }

    void AttributeValue(const std::string& value)
    {
        for (char c : value) {
            switch (c) {
            case '&': m_out.append("&amp;"); break;
            case '<': m_out.append("&lt;"); break;
            case '>': m_out.append("&gt;"); break;
            case '"': m_out.append("&quot;"); break;
            case '\t': m_out.append("&#9;"); break;
            case '\n': m_out.append("&#10;"); break;
            case '\r': m_out.append("&#13;"); break;
            default: m_out.push_back(c); break;
            }
        }
    }

    void Text(const std::string& text, bool hasChildren)
    {
        bool allSpace = hasChildren && !text.empty() &&
                        text.find_first_not_of(" \t\n\r") == std::string::npos;
        for (char c : text) {
            switch (c) {
            case '&': m_out.append("&amp;"); break;
            case '<': m_out.append("&lt;"); break;
            case '>': m_out.append("&gt;"); break;
            case '\r': m_out.append("&#13;"); break;
            case '\t': if (allSpace) m_out.append("&#9;"); else m_out.push_back(c); break;
            case '\n': if (allSpace) m_out.append("&#10;"); else m_out.push_back(c); break;
            case ' ': if (allSpace) m_out.append("&#32;"); else m_out.push_back(c); break;
            default: m_out.push_back(c); break;
            }
        }
    }

    const XmlLimits& m_limits;
    std::string& m_out;
    size_t m_elements = 0;
    size_t m_attributes = 0;
};

// About the size of the output, so that it is allocated once (a large buffer
// that grows is copied and touched again at every step).
size_t EstimateSize(const XmlElement& e, size_t depth)
{
    size_t n = 2 * e.name.size() + e.text.size() + depth + 8;
    for (const XmlAttribute& a : e.attributes) n += a.name.size() + a.value.size() + 4;
    if (depth < 64) {
        for (const auto& c : e.Children()) n += EstimateSize(*c, depth + 1);
    }
    return n;
}

}  // namespace

bool XmlWrite(const XmlElement& root, const XmlLimits& limits, std::string& out)
{
    out.clear();
    out.reserve(EstimateSize(root, 1) + 64);
    out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    out.append(kLineEnd);
    Writer writer(limits, out);
    if (!writer.Element(root, 1)) {
        out.clear();
        return false;
    }
    out.append(kLineEnd);
    if (out.size() > limits.maxInput) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace ktxcmn
