// The XML and attribute-list text forms: exact output, parsing rules, malformed input.
#include <gtest/gtest.h>

#include <random>

#include "../../fuzz/props_tree/tree_check.h"
#include "props/xml_text.h"
#include "test_util.h"

namespace {

using namespace props_test;
using XMLParse::XMLNodePtr;

std::string Xml(const XMLNodePtr& node) {
    CComBSTR xml;
    node->NodeXmlGet(Out(xml));
    return U8(xml);
}

// A node's attributes, or its elements' names and values, as "name=value " runs.
std::string Attrs(const XMLNodePtr& node) {
    std::string s;
    for (const auto& a : node->Attributes()) s += U8(a.name) + "=" + U8(a.value) + " ";
    return s;
}
std::string Kids(const XMLNodePtr& node) {
    std::string s;
    for (const auto& k : node->ElementChildren()) s += U8(k->Name()) + "=" + U8(k->Value()) + " ";
    return s;
}

TEST(XmlWrite, ExactLayoutQuotingAndEscaping) {
    XMLNodePtr root = NewRoot(u"m-props");
    EXPECT_EQ(Xml(root), "<m-props/>");
    root->SetAttr(u"a", u"1");
    root->SetAttr(u"q", u"it's \"x\"");
    CComPtr<IMNode> child;
    root->NodeChildAdd(B(u"c"), B(u"1 < 2 & 3 > 'x'"), &child);
    root->NodeChildAdd(B(u"c::d"), nullptr, nullptr);
    root->NodeChildAdd(B(u"e"), nullptr, nullptr);
    EXPECT_EQ(Xml(root),
              "<m-props a='1' q='it'\"'s \"'\"x\"'>\r\n"
              "\t<c>\r\n"
              "\t\t1 &lt; 2 &amp; 3 &gt; 'x'\r\n"
              "\t\t<d/>\r\n"
              "\t</c>\r\n"
              "\t<e/>\r\n"
              "</m-props>");
    XMLNodePtr leaf = NewRoot(u"v");
    leaf->SetValue(u"a&b");
    EXPECT_EQ(Xml(leaf), "<v>a&amp;b</v>");

    std::u16string out;
    XMLParse::AppendEscaped(u"'\"", XMLParse::QuoteEscape::kWhenPresent, &out);
    EXPECT_EQ(U8(out), "&apos;&quot;");
}

TEST(XmlWrite, IndentStopsAtSixtyFourTabs) {
    XMLNodePtr root = NewRoot(u"r");
    std::u16string out;
    XMLParse::WriteXml(*root, 70, &out);
    EXPECT_EQ(out, std::u16string(64, u'\t') + u"<r/>");
}

TEST(XmlRead, NamesCaseTextAndAttributes) {
    XMLNodePtr node = NewRoot(u"keep");
    ASSERT_EQ(node->NodeXmlSet(B(u"<?xml version='1.0'?><!-- c --><Root A='1' b=\"two words\" "
                                 u"c=bare><Child>  some  text  </Child><Empty/></Root>"),
                               1),
              S_OK);
    EXPECT_EQ(U8(node->Name()), "root");
    EXPECT_EQ(Attrs(node), "A=1 b=two words c=bare ");
    EXPECT_EQ(Kids(node), "child=some  text empty= ");

    // A name repeated in a tag, in any case, overwrites the value and keeps its first place.
    ASSERT_EQ(node->NodeXmlSet(B(u"<r a='1' B='2' A='3' ab='4' b='5' aB='6' \u0141='7'/>"), 1),
              S_OK);
    EXPECT_EQ(Attrs(node), "a=7 B=5 ab=6 ");

    // take_name = 0 keeps the node's name; end tags match the document's own name.
    XMLNodePtr keep = NewRoot(u"m-props");
    ASSERT_EQ(keep->NodeXmlSet(B(u"<other><x/></other>"), 0), S_OK);
    EXPECT_EQ(U8(keep->Name()), "m-props");
    EXPECT_EQ(keep->ElementChildCount(), 1u);
}

TEST(XmlRead, EntitiesReferencesAndWhiteSpace) {
    auto text = [](const char16_t* xml) {
        XMLNodePtr n = NewRoot();
        EXPECT_EQ(n->NodeXmlSet(B(xml), 1), S_OK);
        return n->Value();
    };
    // "&#010;" is a C literal: octal. Long runs are read eight characters at a time: the
    // last rows put marks on either side of a step.
    // clang-format off
    using Row = std::pair<const char16_t*, std::u16string>;
    for (auto [xml, want] : {Row{u"<t>&#65;&#x42;</t>", u"AB"}, {u"<t>   </t>", u""},
             {u"<t>&nbsp;</t>", u" "}, {u"<t>a\r\nb\tc</t>", u"a  b c"},
             {u"<t>&lt;&gt;&amp;&apos;&quot;&copy;&reg;</t>", u"<>&'\"\u00A9\u00AE"},
             {u"<t>&unknown; & x</t>", u"&unknown; & x"}, {u"<t>&#010;x</t>", u"\bx"},
             {u"<t>&#x1F600;</t>", u"\U0001F600"}, {u"<t>&#0;&#x110000;</t>", u"\uFFFD\uFFFD"},
             {u"<t><![CDATA[ <raw> & ]]></t>", u" <raw> & "},
             {u"<t>0123456789abcdef&amp;0123456\r\nxyz&lt;</t>",
              u"0123456789abcdef&0123456  xyz<"}})
        EXPECT_EQ(text(xml), want) << U8(xml);
    for (auto [escaped, want] : {Row{u"          \t", u""}, {u"          \tx", u"           x"},
             {u"        &#x20;", u"         "}})
        EXPECT_EQ(XMLParse::UnescapeText(escaped), want) << U8(escaped);
    // clang-format on
    // "br" and "tab" never open an element: the text after them stays with the parent.
    XMLNodePtr n = NewRoot();
    ASSERT_EQ(n->NodeXmlSet(B(u"<t>a<br>b<tab>c</t>"), 1), S_OK);
    EXPECT_EQ(n->ElementChildCount(), 2u);
    EXPECT_EQ(U8(n->Children().back()->TextUnlocked()), "c");
}

TEST(XmlRead, TagEndRulesAndSkippedEndTags) {
    XMLNodePtr n = NewRoot();
    ASSERT_EQ(n->NodeXmlSet(B(u"<r a='x>y' b=\"p>q\"><c></stray></c><d /></r>"), 1), S_OK);
    EXPECT_EQ(Attrs(n), "a=x>y b=p>q ");
    EXPECT_EQ(n->ElementChildCount(), 2u);
    // A DOCTYPE declaration does not swallow the document.
    ASSERT_EQ(n->NodeXmlSet(B(u"<!DOCTYPE r><r><k/></r>"), 1), S_OK);
    EXPECT_EQ(n->ElementChildCount(), 1u);
}

TEST(XmlRead, EndTagsAndEntitiesAtEveryLengthAndPlace) {
    // End tags of every length up to past one vector step, in the document's own case, in
    // another case, and with one character wrong, both at the very end of the text and with
    // room after them: a wrong one is skipped, so the document ends inside the element.
    for (std::size_t length = 1; length <= 12; ++length) {
        const std::u16string name = std::u16string(u"abcdefghijkl").substr(0, length);
        for (const std::u16string tail : {u"", u"<!-- room after the end tag -->"}) {
            std::u16string upper = name, wrong = name;
            for (auto& c : upper) c = static_cast<char16_t>(c - 32);
            wrong[length / 2] = u'z';
            const struct {
                std::u16string close;
                HRESULT hr;
            } cases[] = {{name, S_OK}, {upper, S_OK}, {wrong, E_INVALIDARG}};
            for (const auto& c : cases) {
                XMLNodePtr n = NewRoot();
                const std::u16string xml = u"<" + name + u">x</" + c.close + u">" + tail;
                EXPECT_EQ(n->NodeXmlSet(B(xml.c_str()), 1), c.hr)
                    << U8(c.close) << " after " << U8(name) << U8(tail);
            }
        }
    }
    // An entity after plain text of every length around a vector step.
    for (std::size_t k = 1; k < 20; ++k) {
        const std::u16string plain(k, u'p');
        XMLNodePtr n = NewRoot();
        const std::u16string xml = u"<t>" + plain + u"&amp;&#32;q\tr</t>";
        ASSERT_EQ(n->NodeXmlSet(B(xml.c_str()), 1), S_OK);
        EXPECT_EQ(n->Value(), plain + u"& q r") << k;
    }
    // Names (with digits and marks, which sort below letters), values and texts of every
    // length up to past the eight characters a node keeps inside, with the document ending
    // right after them or with room after them (read in one step only then), and entities
    // that leave a text on either side of eight.
    for (std::size_t length = 1; length <= 10; ++length) {
        const std::u16string s = std::u16string(u"A1.b-C2:d3").substr(0, length);
        std::u16string lower = s;
        for (auto& c : lower) c = static_cast<char16_t>(c | 0x20);
        std::u16string escaped, plain;
        for (std::size_t i = 0; i < length; ++i) {
            escaped += u"&lt;";
            plain += u'<';
        }
        for (const std::u16string tail : {u"", u"<!-- room -->"}) {
            const std::string at = U8(s) + U8(tail);
            XMLNodePtr n = NewRoot();
            std::u16string xml = u"<r><" + s + u" " + s + u"='" + s + u"'/></r>" + tail;
            ASSERT_EQ(n->NodeXmlSet(B(xml.c_str()), 1), S_OK) << at;
            auto kids = n->ElementChildren();
            ASSERT_EQ(kids.size(), 1u) << at;
            EXPECT_EQ(kids[0]->Name(), lower) << at;
            std::u16string value;
            EXPECT_TRUE(kids[0]->GetAttr(s, &value) && value == s) << at;
            xml = u"<r " + s + u"='" + s + u"'/>" + tail;
            ASSERT_EQ(n->NodeXmlSet(B(xml.c_str()), 1), S_OK) << at;
            EXPECT_EQ(Attrs(n), U8(s) + "=" + U8(s) + " ") << at;
            for (const auto& [text, want] : {std::pair{s, s}, std::pair{escaped, plain}}) {
                xml = u"<r>" + text + u"</r>" + tail;
                ASSERT_EQ(n->NodeXmlSet(B(xml.c_str()), 1), S_OK) << at;
                EXPECT_EQ(n->Value(), want) << at;
            }
        }
    }
}

TEST(XmlRead, MalformedInputKeepsWhatWasReadAndFails) {
    XMLNodePtr n = NewRoot();
    n->SetAttr(u"old", u"1");
    n->AppendChild(u"oldchild");
    EXPECT_EQ(n->NodeXmlSet(B(u"no tags at all"), 1), E_INVALIDARG);
    EXPECT_EQ(n->AttrCount(), 0u);
    EXPECT_EQ(n->ElementChildCount(), 0u);

    EXPECT_EQ(n->NodeXmlSet(B(u"<r a='1'><good/><bad><deeper>"), 1), E_INVALIDARG);
    EXPECT_EQ(Attrs(n), "a=1 ");
    EXPECT_EQ(Kids(n), "good= ");  // the unfinished child is removed again

    for (const char16_t* bad : {u"<r", u"<r a='1>", u"<r><!-- open", u"<r><![CDATA[ x", u"<r><?pi",
                                u"<r>< x/></r>", u"<>", u"</only>"})
        EXPECT_EQ(n->NodeXmlSet(B(bad), 1), E_INVALIDARG) << U8(bad);
}

TEST(XmlRead, DeepNestingIsRefusedWithoutRecursion) {
    std::u16string deep;
    const int levels = 100000;
    deep.reserve(levels * 7);
    for (int i = 0; i < levels; ++i) deep += u"<a>";
    for (int i = 0; i < levels; ++i) deep += u"</a>";
    XMLNodePtr n = NewRoot();
    EXPECT_EQ(n->NodeXmlSet(CComBSTR(deep), 1), E_INVALIDARG);

    // The deepest tree allowed reads, and writes with the text of its deepest element.
    std::u16string ok;
    for (int i = 0; i < XMLParse::kMaxDepth + 1; ++i) ok += u"<a>";
    ok += u"x";
    for (int i = 0; i < XMLParse::kMaxDepth + 1; ++i) ok += u"</a>";
    ASSERT_EQ(n->NodeXmlSet(CComBSTR(ok), 1), S_OK);
    EXPECT_NE(Xml(n).find("<a>x</a>"), std::string::npos);
}

TEST(XmlRoundTrip, TextRunsKeepTheirPlaceAmongChildren) {
    XMLNodePtr n = NewRoot();
    ASSERT_EQ(n->NodeXmlSet(B(u"<r>one<a/>two<b/>three</r>"), 1), S_OK);
    const std::string laid_out = "<r>\r\n\tone\r\n\t<a/>\r\n\ttwo\r\n\t<b/>\r\n\tthree\r\n</r>";
    EXPECT_EQ(Xml(n), laid_out);
    EXPECT_EQ(U8(n->Value()), "one");
    auto all = n->Children();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_TRUE(all[2]->IsTextRun());
    EXPECT_EQ(U8(all[2]->TextUnlocked()), "two");
    EXPECT_EQ(all[3].p, n->FindChild(u"b").p);
    EXPECT_EQ(n->ElementChildCount(), 2u);

    XMLNodePtr copy = NewRoot();
    ASSERT_EQ(copy->CopyFrom(*n), S_OK);
    EXPECT_EQ(Xml(copy), laid_out);

    // Text after the last child joins it; removing a child leaves the texts around it apart.
    n->AddText(u"!");
    ASSERT_TRUE(n->RemoveChild(n->FindChild(u"a")));
    EXPECT_EQ(Xml(n), "<r>\r\n\tone\r\n\ttwo\r\n\t<b/>\r\n\tthree!\r\n</r>");
    n->ClearChildren();
    EXPECT_EQ(Xml(n), "<r/>");
    EXPECT_EQ(U8(n->Value()), "");
    EXPECT_EQ(Xml(copy), laid_out);  // the copy shares nothing
}

TEST(XmlRoundTrip, NamesAndValuesThatNeedQuotingOrEscapes) {
    struct Case {
        std::u16string name, attr, value, text;
        const char* xml;
    };
    const Case cases[] = {
        {u"n", u"a", u"a'b\"c", u"", "<n a='a'\"'b\"'\"c'/>"},
        {u"n", u"q\"'x", u"v", u"", "<n 'q\"'\"'x\"='v'/>"},
        {u"my node", u"a b=c>d", u"'/><x y='", u"", "<'my node' 'a b=c>d'=\"'/><x y='\"/>"},
        {u"br", u"a", u"", u"  lead\ttrail\r\n ",
         "<'br' a=''>&#x20;&#x20;lead&#x9;trail&#xD;&#xA;&#x20;</'br'>"},
        {u"a--", u"x", u"\n", u"<&>", "<'a--' x='\n'>&lt;&amp;&gt;</'a--'>"},
        {u"!x;y", u"\u00e9", u"\u4e2d\u00a0", u" ",
         "<'!x;y' \u00e9='\u4e2d\u00a0'>&#x20;</'!x;y'>"},
        {u"t", u"a", u"v", u"  0123456789<abcdef>&\tghijklmnop\r\n  ",
         "<t "
         "a='v'>&#x20;&#x20;0123456789&lt;abcdef&gt;&amp;&#x9;ghijklmnop&#xD;&#xA;&#x20;&#x20;</"
         "t>"},
    };
    for (const auto& c : cases) {
        XMLNodePtr n = XMLParse::CoXMLNode::Create(c.name);
        n->SetAttr(c.attr, c.value);
        n->SetValue(c.text);
        const std::u16string xml = XMLParse::WriteXml(*n);
        EXPECT_EQ(U8(xml), c.xml);
        XMLNodePtr back = NewRoot(u"other");
        ASSERT_EQ(XMLParse::ParseXml(xml, back, true), S_OK) << c.xml;
        EXPECT_TRUE(tree_check::SameTree(*n, *back)) << c.xml;
    }
}

TEST(XmlRoundTrip, GeneratedTreesReadBackIdentical) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> bytes(rng() % 300);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        XMLNodePtr tree = tree_check::BuildTree(bytes.data(), bytes.size());
        const std::u16string xml = XMLParse::WriteXml(*tree);
        XMLNodePtr back = NewRoot(u"other");
        ASSERT_EQ(XMLParse::ParseXml(xml, back, true), S_OK) << U8(xml);
        ASSERT_TRUE(tree_check::SameTree(*tree, *back)) << U8(xml);

        std::u16string list;
        XMLParse::WriteAttributeList(*tree, {}, &list);
        XMLNodePtr attrs = NewRoot(u"other");
        XMLParse::ParseAttributeList(list, attrs);
        std::u16string again;
        XMLParse::WriteAttributeList(*attrs, {}, &again);
        ASSERT_EQ(again, list) << U8(list);
    }
}

// Large documents are written through several buffers: every end tag must repeat its start
// tag wherever the two lie, and a text longer than any buffer must go out whole.
TEST(XmlRoundTrip, LargeTreesReadBackIdentical) {
    for (int shift : {0, 1, 7}) {
        XMLNodePtr root = NewRoot(u"large");
        for (int i = 0; i < 3000; ++i) {
            // Appended, not `u"n" + std::u16string(...)`: GCC 12 misreads that under -Wrestrict.
            std::u16string name = u"n";
            name.append(static_cast<std::size_t>((i * 7 + shift) % 37), u'x');
            XMLNodePtr child = root->AppendChild(name);
            ASSERT_TRUE(child);
            child->SetAttr(u"a", std::u16string(static_cast<std::size_t>(i % 5), u'v'));
            if (i % 3 == 0) {
                ASSERT_TRUE(child->AppendChild(u"leaf"));
            }
            if (i % 101 == 0)
                child->SetValue(std::u16string(static_cast<std::size_t>(i * 20 + shift), u'&'));
        }
        const std::u16string xml = XMLParse::WriteXml(*root, shift % 2);
        XMLNodePtr back = NewRoot(u"other");
        ASSERT_EQ(XMLParse::ParseXml(xml, back, true), S_OK);
        ASSERT_TRUE(tree_check::SameTree(*root, *back));
        std::u16string again = u"kept ";
        XMLParse::WriteXml(*back, shift % 2, &again);
        EXPECT_EQ(again, u"kept " + xml);
    }
}

TEST(XmlRead, TextsOfTheEarlierWriterReadAsBefore) {
    // Ordinary names were written as they stand; values with both quotes in double quotes
    // with their own double quotes turned into apostrophes.
    XMLNodePtr n = NewRoot();
    ASSERT_EQ(
        n->NodeXmlSet(B(u"<Cfg a='x y' q=\"it's 'x'\" e=''>\r\n\t<Item.1 k='1'>t &amp; u</Item.1>"
                        u"\r\n\t<br/>\r\n</Cfg>"),
                      1),
        S_OK);
    EXPECT_EQ(U8(n->Name()), "cfg");
    EXPECT_EQ(Attrs(n), "a=x y q=it's 'x' e= ");
    EXPECT_EQ(Kids(n), "item.1=t & u br= ");
}

TEST(AttributeListText, WriteOptions) {
    XMLNodePtr node = NewRoot();
    node->SetValue(u"text");
    node->SetAttr(u"a", u"1");
    node->SetAttr(u"Skip", u"2");
    std::vector<std::u16string> skip{u"SKIP"};
    std::u16string out;
    XMLParse::WriteAttributeList(*node, {u"p.", &skip, true}, &out);
    EXPECT_EQ(U8(out), " _node_value='text' p.a='1'");
}

TEST(AttributeListText, ReadRules) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Pairs got;
    auto read = [&](const char16_t* text, bool bare) {
        got.clear();
        return XMLParse::ReadAttributeList(text, bare,
                                           [&](auto n, auto v) { got.emplace_back(U8(n), U8(v)); });
    };
    EXPECT_TRUE(read(u"  a = 1\tb='x y'\r\nc=\"q 'r'\" d='unterminated", false));
    EXPECT_EQ(got, (Pairs{{"a", "1"}, {"b", "x y"}, {"c", "q 'r'"}, {"d", "unterminated"}}));
    EXPECT_FALSE(read(u"bare only", false));
    EXPECT_TRUE(read(u"bare x=1", true));
    EXPECT_EQ(got.size(), 2u);
    EXPECT_FALSE(read(u"=5 ==", false));  // no name, nothing stored
    EXPECT_TRUE(read(u"a=&amp;", false));
    EXPECT_EQ(got, (Pairs{{"a", "&amp;"}}));  // no unescaping in lists
    // Quoted names, and adjacent quoted runs joined into one name or value.
    EXPECT_TRUE(read(u"'a b'='x'\"'\"'y' \"=\"\"'\"=1 c='1' 'd'", false));
    EXPECT_EQ(got, (Pairs{{"a b", "x'y"}, {"='", "1"}, {"c", "1"}}));
}

}  // namespace
