// The XML reader and writer as code over bytes: what is well-formed reads as
// the expected tree, what is not is refused, limits hold, and what the
// writer writes reads back as the same tree.
#include <gtest/gtest.h>

#include <string>

#include "XmlDocument.h"

using namespace ktxcmn;

namespace {

// name[attr=value ...]{text}(children) with every part left out when empty.
std::string Dump(const XmlElement& e)
{
    std::string s = e.name;
    if (!e.attributes.empty()) {
        s += "[";
        for (size_t i = 0; i < e.attributes.size(); ++i) {
            if (i) s += " ";
            s += e.attributes[i].name + "=" + e.attributes[i].value;
        }
        s += "]";
    }
    if (!e.text.empty()) s += "{" + e.text + "}";
    if (!e.Children().empty()) {
        s += "(";
        for (size_t i = 0; i < e.Children().size(); ++i) {
            if (i) s += ",";
            s += Dump(*e.Children()[i]);
        }
        s += ")";
    }
    return s;
}

std::string Parse(const std::string& xml, const XmlLimits& limits = XmlLimits())
{
    XmlDocument doc(limits);
    XmlParseError error;
    if (!doc.Load(xml.data(), xml.size(), &error)) return std::string("ERROR: ") + error.reason;
    return Dump(*doc.Root());
}

struct GoodCase {
    const char* what;
    std::string xml;
    std::string tree;
};

TEST(XmlReader, WellFormedDocumentsGiveTheirTrees)
{
    const GoodCase cases[] = {
        {"empty root", "<a/>", "a"},
        {"declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<a>t</a>\n", "a{t}"},
        {"byte order mark", "\xEF\xBB\xBF<?xml version='1.0'?><a>t</a>", "a{t}"},
        {"predefined entities and character references",
         "<a>x &lt; &gt; &amp; &apos; &quot; &#65;&#x42;&#xe4;&#x20AC;&#x1F600;</a>",
         "a{x < > & ' \" AB\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80}"},
        {"line ends are normalised", "<a>1\r\n2\r3\n4&#13;5</a>", "a{1\n2\n3\n4\r5}"},
        {"attribute values are normalised", "<a b=\"x\ty\r\nz&#9;w&#10;\"/>", "a[b=x y z\tw\n]"},
        {"indentation between children is no text", "<r>\r\n\t<a>1</a>\n\t<b/>\n</r>", "r(a{1},b)"},
        {"white space of a leaf is its text", "<r><a>  </a></r>", "r(a{  })"},
        {"mixed content keeps its text", "<r>x <a/> y</r>", "r{x  y}(a)"},
        {"referenced white space is text", "<r>&#32;<a/></r>", "r{ }(a)"},
        {"CDATA sections", "<r><![CDATA[<&>]]]]><![CDATA[>]]></r>", "r{<&>]]>}"},
        {"CDATA white space is text", "<r><![CDATA[ ]]><a/></r>", "r{ }(a)"},
        {"comments and instructions are skipped",
         "<?xml version='1.0'?><!-- c --><?pi x?><r><!--in--><?p?>t<!---->u</r><!-- after -->\n<?end?>",
         "r{tu}"},
        {"quotes in attributes", "<r a='\"' b=\"'\"/>", "r[a=\" b=']"},
        {"attribute order and letter case", "<r z=\"1\" a=\"2\" A=\"3\"/>", "r[z=1 a=2 A=3]"},
        {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a=\"\xe4\">\xfc\x80</r>",
         "r[a=\xC3\xA4]{\xC3\xBC\xC2\x80}"},
        {"windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>\x80\x81\xe4</r>",
         "r{\xE2\x82\xAC\xC2\x81\xC3\xA4}"},
        {"names beyond ASCII", "<r><M\xC3\xBCller x.y-z=\"1\"/><_a:b/></r>", "r(M\xC3\xBCller[x.y-z=1],_a:b)"},
        {"white space in tags", "<r\n a = '1'\t></r >", "r[a=1]"},
        {"brackets in text", "<r>]] ]>]</r>", "r{]] ]>]}"},
        {"same names on different levels", "<r><a><a/></a><b><a/></b></r>", "r(a(a),b(a))"},
    };
    for (const GoodCase& c : cases) {
        EXPECT_EQ(Parse(c.xml), c.tree) << c.what;
    }
}

TEST(XmlReader, MalformedDocumentsAreRefused)
{
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"white space only", "  \n"},
        {"not XML", "hello"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0", 10)},
        {"unclosed", "<a>"},
        {"truncated tag", "<a><b"},
        {"truncated attribute", "<a b=\"x"},
        {"mismatched end tag", "<a></b>"},
        {"crossed elements", "<a><b></a></b>"},
        {"end tag in other case", "<a></A>"},
        {"two roots", "<a/><b/>"},
        {"text after root", "<a/>x"},
        {"text before root", "x<a/>"},
        {"unquoted attribute", "<a x=1/>"},
        {"repeated attribute", "<a x=\"1\" x=\"2\"/>"},
        {"attributes not separated", "<a b='1'c='2'/>"},
        {"< in attribute", "<a x=\"<\"/>"},
        {"undeclared entity", "<a>&foo;</a>"},
        {"entity without semicolon", "<a>&amp</a>"},
        {"lone ampersand", "<a>&</a>"},
        {"reference to NUL", "<a>&#0;</a>"},
        {"reference to a control character", "<a>&#1;</a>"},
        {"reference beyond Unicode", "<a>&#x110000;</a>"},
        {"huge reference", "<a>&#99999999999999999999;</a>"},
        {"reference to a surrogate", "<a>&#xD800;</a>"},
        {"empty reference", "<a>&#;</a>"},
        {"empty hexadecimal reference", "<a>&#x;</a>"},
        {"]]> in text", "<a>a]]>b</a>"},
        {"control character", "<a>\x01</a>"},
        {"NUL byte", std::string("<a>\0</a>", 8)},
        {"NUL byte in a name", std::string("<a\0/>", 5)},
        {"invalid UTF-8", "<a>\xff</a>"},
        {"overlong UTF-8", "<a>\xc0\xaf</a>"},
        {"UTF-8 surrogate", "<a>\xed\xa0\x80</a>"},
        {"truncated UTF-8", "<a>\xc3</a>"},
        {"document type", "<!DOCTYPE a><a/>"},
        {"internal entities", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"},
        {"external entity", "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>"},
        {"external subset", "<!DOCTYPE a SYSTEM \"http://example.com/a.dtd\"><a/>"},
        {"-- in comment", "<a><!-- -- --></a>"},
        {"comment ending in ---", "<a><!-- x ---></a>"},
        {"unterminated comment", "<a><!-- x </a>"},
        {"second declaration", "<?xml version='1.0'?><?xml version='1.0'?><a/>"},
        {"declaration not at the start", " <?xml version='1.0'?><a/>"},
        {"declaration inside", "<a><?xml version='1.0'?></a>"},
        {"unknown version", "<?xml version='2.0'?><a/>"},
        {"version missing", "<?xml encoding='UTF-8'?><a/>"},
        {"unsupported encoding", "<?xml version='1.0' encoding='UTF-16'?><a/>"},
        {"order of pseudo-attributes", "<?xml version='1.0' standalone='yes' encoding='UTF-8'?><a/>"},
        {"bad standalone", "<?xml version='1.0' standalone='maybe'?><a/>"},
        {"byte order mark and Latin-1", "\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><a/>"},
        {"ASCII declared, byte beyond", "<?xml version='1.0' encoding='US-ASCII'?><a>\xc3\xa4</a>"},
        {"name starting with a digit", "<1a/>"},
        {"end tag with attribute", "<a></a b>"},
        {"CDATA outside the root", "<![CDATA[x]]><a/>"},
        {"unterminated CDATA", "<a><![CDATA[x</a>"},
        {"markup declaration in content", "<a><!ELEMENT a ANY></a>"},
        {"two siblings equal ignoring case", "<r><Entry/><entry/></r>"},
        {"two siblings equal ignoring case beyond ASCII", "<r><\xC3\x84/><\xC3\xA4/></r>"},
        {"duplicate deep down", "<r><a><x/><y/><X/></a></r>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.second).rfind("ERROR", 0), 0u) << c.first;
    }
}

TEST(XmlReader, LimitsBoundTheDocument)
{
    XmlLimits limits;
    limits.maxDepth = 4;
    limits.maxChildren = 3;
    limits.maxText = 8;
    limits.maxAttrValue = 5;
    limits.maxAttributes = 2;
    limits.maxElements = 6;
    limits.maxTotalAttributes = 3;
    limits.maxName = 4;
    limits.maxInput = 200;
    const struct {
        const char* what;
        std::string xml;
        bool ok;
    } cases[] = {
        {"depth at the limit", "<a><b><c><d/></c></b></a>", true},
        {"depth beyond", "<a><b><c><d><e/></d></c></b></a>", false},
        {"children at the limit", "<a><b/><c/><d/></a>", true},
        {"children beyond", "<a><b/><c/><d/><e/></a>", false},
        {"text at the limit", "<a>12345678</a>", true},
        {"text beyond", "<a>123456789</a>", false},
        {"text beyond through references", "<a>1234567&amp;&amp;</a>", false},
        // Indentation between children is dropped, so it does not count.
        {"text at the limit with indented children", "<a>12345678<b/>\r\n  <c/>\r\n</a>", true},
        {"text beyond with indented children", "<a>123456789\n<b/>\n</a>", false},
        {"white space only beyond, without children", "<a>         </a>", false},
        {"CDATA white space counts", "<a><![CDATA[         ]]><b/></a>", false},
        {"attribute value at the limit", "<a b='12345'/>", true},
        {"attribute value beyond", "<a b='123456'/>", false},
        {"attributes beyond", "<a b='1' c='2' d='3'/>", false},
        {"elements beyond", "<a><b/><c/><d><e/><f/><g/></d></a>", false},
        {"attributes of the document beyond", "<a b='1'><c d='1' e='2'/><f g='1'/></a>", false},
        {"name at the limit", "<abcd/>", true},
        {"name beyond", "<abcde/>", false},
        {"input beyond", "<a>" + std::string(200, ' ') + "</a>", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.xml, limits).rfind("ERROR", 0) != 0, c.ok) << c.what;
    }
}

// Deep nesting is refused without recursion, far beyond what a stack would bear.
TEST(XmlReader, VeryDeepNestingIsRefusedQuickly)
{
    std::string xml;
    for (int i = 0; i < 100000; ++i) xml += "<a>";
    EXPECT_EQ(Parse(xml), "ERROR: elements are nested too deeply");
    std::string ok;
    for (int i = 0; i < 256; ++i) ok += "<a>";
    for (int i = 0; i < 256; ++i) ok += "</a>";
    EXPECT_EQ(Parse(ok).rfind("ERROR", 0), std::string::npos);
}

// Documents built through the editing operations, written and read back.
TEST(XmlWriter, WhatIsWrittenReadsBackAsTheSameTree)
{
    XmlDocument doc;
    ASSERT_EQ(doc.New("LSVER500"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.n0000", "QUJD+/=="), XmlStatus::Ok);
    ASSERT_EQ(doc.SetAttribute("LSVER500.n0000", "name", "a \"quoted\" <name> & 'more'"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetAttribute("LSVER500.n0000", "hash", "\tTab\r\nCRLF\n"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.n0001", "x]]>y <&> \r\n line\r"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.n0002", "   "), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.mixed", " \t\r\n"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.mixed.child", "c"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.text", "lead "), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.text.c1", ""), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.text.c2", ""), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.M\xC3\xBCller", "Stra\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.deep.a.b.c.d", "end"), XmlStatus::Ok);

    std::string out;
    ASSERT_TRUE(doc.Save(out));
    EXPECT_EQ(out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<LSVER500>", 0), 0u);
    XmlDocument back;
    XmlParseError error;
    ASSERT_TRUE(back.Load(out.data(), out.size(), &error)) << error.reason << " at " << error.offset;
    EXPECT_TRUE(XmlTreesEqual(*doc.Root(), *back.Root())) << Dump(*doc.Root()) << "\n" << Dump(*back.Root());
    EXPECT_EQ(back.ElementCount(), doc.ElementCount());
    EXPECT_EQ(back.AttributeCount(), doc.AttributeCount());
}

TEST(XmlWriter, EditsThatTheReaderWouldRefuseAreRefused)
{
    XmlDocument doc;
    EXPECT_EQ(doc.SetText("a", "x"), XmlStatus::NoDocument);
    EXPECT_EQ(doc.New("a.b"), XmlStatus::BadName);
    EXPECT_EQ(doc.New("1a"), XmlStatus::BadName);
    ASSERT_EQ(doc.New("r"), XmlStatus::Ok);
    EXPECT_EQ(doc.SetText("r.x", std::string("a\x01", 2)), XmlStatus::BadText);
    EXPECT_EQ(doc.SetText("r.x", std::string("a\0b", 3)), XmlStatus::BadText);
    EXPECT_EQ(doc.SetText("r.x", "\xff"), XmlStatus::BadText);
    EXPECT_EQ(doc.SetText("r.1x", "t"), XmlStatus::BadName);
    EXPECT_EQ(doc.SetText("r.a b", "t"), XmlStatus::BadName);
    EXPECT_EQ(doc.SetText("r..x", "t"), XmlStatus::BadPath);
    EXPECT_EQ(doc.SetText("r.x.", "t"), XmlStatus::BadPath);
    EXPECT_EQ(doc.SetText("", "t"), XmlStatus::BadPath);
    EXPECT_EQ(doc.SetText("other.x", "t"), XmlStatus::NotFound);
    EXPECT_EQ(doc.SetAttribute("r", "a b", "v"), XmlStatus::BadName);
    EXPECT_EQ(doc.SetAttribute("r", "a", "\x1f"), XmlStatus::BadText);
    EXPECT_EQ(doc.SetAttribute("r.missing", "a", "v"), XmlStatus::NotFound);
    EXPECT_EQ(doc.Remove("r"), XmlStatus::Refused);
    EXPECT_EQ(doc.Remove("r.missing"), XmlStatus::NotFound);
    // A refused path leaves nothing behind.
    EXPECT_EQ(doc.SetText("r.ok.1bad", "t"), XmlStatus::BadName);
    EXPECT_EQ(doc.Root()->Children().size(), 0u);
    EXPECT_EQ(doc.ElementCount(), 1u);

    std::string deep = "r";
    for (int i = 1; i < 256; ++i) deep += ".d";
    EXPECT_EQ(doc.SetText(deep, "t"), XmlStatus::Ok);
    EXPECT_EQ(doc.SetText(deep + ".e", "t"), XmlStatus::TooLarge);
    EXPECT_EQ(doc.SetText("r.big", std::string(1024 * 1024 + 1, 'x')), XmlStatus::TooLarge);
    EXPECT_EQ(doc.SetAttribute("r", "big", std::string(64 * 1024 + 1, 'x')), XmlStatus::TooLarge);

    // A tree that did not come through the edits is checked by the writer.
    XmlElement bad("r");
    bad.text = "\x02";
    std::string out = "old";
    EXPECT_FALSE(XmlWrite(bad, XmlLimits(), out));
    EXPECT_TRUE(out.empty());
}

TEST(XmlDocument, ElementsAreFoundIgnoringCaseAndRemovedWithTheirSubtree)
{
    XmlDocument doc;
    ASSERT_EQ(doc.New("LSVER500"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.n0000", "a"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.n0001.sub.deeper", "b"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetAttribute("LSVER500.n0001.sub", "k", "v"), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("lsver500.N0000", "changed"), XmlStatus::Ok);
    EXPECT_EQ(doc.Root()->Children().size(), 2u);
    const XmlElement* p = nullptr;
    ASSERT_EQ(doc.Find("LsVer500.n0000", &p), XmlStatus::Ok);
    EXPECT_EQ(p->text, "changed");
    EXPECT_EQ(p->name, "n0000");
    EXPECT_EQ(doc.ElementCount(), 5u);
    EXPECT_EQ(doc.AttributeCount(), 1u);
    ASSERT_EQ(doc.Remove("LSVER500.N0001"), XmlStatus::Ok);
    EXPECT_EQ(doc.ElementCount(), 2u);
    EXPECT_EQ(doc.AttributeCount(), 0u);
    EXPECT_EQ(doc.Find("LSVER500.n0001.sub", &p), XmlStatus::NotFound);
    // A new element goes to the end.
    ASSERT_EQ(doc.SetText("LSVER500.n0001", ""), XmlStatus::Ok);
    ASSERT_EQ(doc.SetText("LSVER500.A", ""), XmlStatus::Ok);
    ASSERT_EQ(Dump(*doc.Root()), "LSVER500(n0000{changed},n0001,A)");
}

}  // namespace
