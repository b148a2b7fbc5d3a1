// The node interfaces: attributes, paths, children, schema lookup and their result codes.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "props/value_text.h"
#include "test_util.h"

namespace {

using namespace props_test;
using XMLParse::CoXMLNode;
using XMLParse::XMLNodePtr;

// What a getter hands out as text, or "<code> failed".
template <class Get>
std::string Str(Get get) {
    CComBSTR v;
    const HRESULT hr = get(Out(v));
    return FAILED(hr) ? std::to_string(hr) + " failed" : U8(v);
}
std::string Attr(IMNode* n, const char16_t* path) {
    return Str([&](BSTR* v) { return n->AttributesGet(B(path), v); });
}
std::string Name(IMNode* n) {
    return Str([&](BSTR* v) { return n->NodeNameGet(v); });
}
std::string Value(IMNode* n) {
    return Str([&](BSTR* v) { return n->NodeValueGet(v); });
}
std::string Xml(IMNode* n) {
    return Str([&](BSTR* v) { return n->NodeXmlGet(v); });
}
int Children(IMNode* n) {
    int count = -1;
    n->NodeChildCount(&count);
    return count;
}
CComPtr<IMNode> Child(IMNode* n, const char16_t* path, int create = 0) {
    CComPtr<IMNode> child;
    n->NodeChildGet(B(path), create, &child);
    return child;
}

TEST(XmlNode, PathSetCreatesNodesAndLooksUpInAnyCase) {
    XMLNodePtr root = NewRoot();
    ASSERT_EQ(root->AttributesSet(B(u"a::b::c"), B(u"1")), S_OK);
    CComPtr<IMNode> b = Child(root, u"a::b");
    ASSERT_TRUE(b);
    EXPECT_EQ(Attr(b, u"c"), "1");
    EXPECT_EQ(Attr(root, u"A::B::C"), "1");
    // Setting again overwrites in place; no second node appears.
    ASSERT_EQ(root->AttributesSet(B(u"A::b::C"), B(u"2")), S_OK);
    EXPECT_EQ(Children(root), 1);
    int n = 0;
    b->AttributesGetCount(&n);
    EXPECT_EQ(n, 1);
}

TEST(XmlNode, BadPathsAndMissingNamesGiveTheirCodes) {
    XMLNodePtr root = NewRoot();
    for (const char16_t* bad : {u"", u"::a", u"a::", u"a::::b"})
        EXPECT_EQ(root->AttributesSet(B(bad), B(u"x")), E_INVALIDARG) << U8(bad);
    EXPECT_EQ(root->AttributesSet(nullptr, B(u"x")), E_INVALIDARG);
    CComBSTR v;
    EXPECT_EQ(root->AttributesGet(B(u"nope"), Out(v)), E_NOT_FOUND);
    EXPECT_EQ(v.m_str, nullptr);
    EXPECT_EQ(root->AttributesGet(B(u"x"), nullptr), E_POINTER);
    EXPECT_EQ(root->AttributesRemove(B(u"nope")), E_NOT_FOUND);
    int i = 7;
    EXPECT_EQ(root->AttributesGetInt(B(u"nope"), &i), E_NOT_FOUND);
    EXPECT_EQ(i, 0);
    CComPtr<IMNode> child;
    EXPECT_EQ(root->NodeChildGet(B(u"x::y"), 0, &child), E_NOT_FOUND);
    EXPECT_EQ(root->NodeChildGet(B(u""), 1, &child), E_INVALIDARG);
    EXPECT_EQ(root->NodeChildAdd(B(u""), B(u"v"), nullptr), E_INVALIDARG);
    EXPECT_EQ(root->NodeNameSet(B(u"")), E_INVALIDARG);
    EXPECT_EQ(root->NodeReserved(1, 2, 3), E_NOTIMPL);
    EXPECT_EQ(root->AttributesSetList(nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(root->AttributesCopyFrom(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(root->NodeXmlSet(nullptr, 1), E_INVALIDARG);
}

TEST(XmlNode, AttributeListOrderIndexAndCounts) {
    XMLNodePtr root = NewRoot();
    int n = -1;
    EXPECT_EQ(root->AttributesGetCount(&n), S_FALSE);
    EXPECT_EQ(n, 0);
    // More than the linear-scan threshold, so the hash index is used too.
    for (int k = 0; k < 40; ++k) {
        std::u16string name = u"Name" + orvex::com::ToUtf16(std::to_string(k));
        root->SetAttr(name, name);
    }
    EXPECT_EQ(root->AttributesGetCount(&n), S_OK);
    EXPECT_EQ(n, 40);
    CComBSTR name, value;
    ASSERT_EQ(root->AttributesGetByIndex(39, Out(name), Out(value)), S_OK);
    EXPECT_EQ(U8(name), "Name39");
    EXPECT_EQ(root->AttributesGetByIndex(40, Out(name), nullptr), E_INVALID_INDEX);
    EXPECT_EQ(root->AttributesGetByIndex(-1, nullptr, nullptr), E_INVALID_INDEX);
    EXPECT_TRUE(root->HasAttr(u"NAME17"));
    EXPECT_EQ(root->AttributesRemove(B(u"name17")), S_OK);
    EXPECT_FALSE(root->HasAttr(u"Name17"));
    EXPECT_TRUE(root->HasAttr(u"name18"));
    root->AttributesGetByIndex(17, Out(name), nullptr);
    EXPECT_EQ(U8(name), "Name18");
    EXPECT_EQ(root->AttributesRemoveAll(), S_OK);
    EXPECT_EQ(root->AttrCount(), 0u);
}

// How texts read as numbers is the value texts' own test (tests/props); here each typed
// accessor is checked to go through them.
TEST(XmlNode, TypedAccessorsStoreAndParseText) {
    XMLNodePtr root = NewRoot();
    root->AttributesSetBool(B(u"b"), 5);
    root->AttributesSetInt(B(u"i"), -42);
    root->AttributesSetDouble(B(u"d"), 1.5);
    root->SetAttr(u"off", u"False");
    root->SetAttr(u"pct", u"50%");
    EXPECT_EQ(Attr(root, u"b"), "true");
    EXPECT_EQ(Attr(root, u"d"), "1.5");
    int i = 0, on = 0, off = 1;
    double d = 0;
    EXPECT_EQ(root->AttributesGetInt(B(u"i"), &i), S_OK);
    EXPECT_EQ(i, -42);
    root->AttributesGetBool(B(u"b"), &on);
    root->AttributesGetBool(B(u"off"), &off);
    EXPECT_EQ(std::pair(on, off), std::pair(1, 0));
    root->AttributesGetDouble(B(u"pct"), &d);
    EXPECT_DOUBLE_EQ(d, 0.5);
}

// Figures written again and again (a statistics node) reuse their attribute's text: every
// value reads back whole, whether it grows, shrinks back inside the node or fits the room
// left, and a node copied meanwhile keeps its own.
TEST(XmlNode, FiguresRewrittenInPlaceReadBackExactly) {
    XMLNodePtr root = NewRoot();
    const double doubles[] = {1.5, 123456.125, 7.0, -0.000001, 1e20, 2.25, 99999.999999, 0.5};
    for (double v : doubles) {
        root->AttributesSetDouble(B(u"time"), v);
        EXPECT_EQ(Attr(root, u"time"), U8(orvex::props::PrintDouble(v))) << v;
    }
    for (int v : {0, INT32_MIN, 7, INT32_MAX, -1}) {
        root->AttributesSetInt(B(u"count"), v);
        EXPECT_EQ(Attr(root, u"count"), std::to_string(v));
    }
    root->AttributesSetInt(B(u"count"), 1234567890);
    root->AttributesSetInt(B(u"count"), 5);  // short, in the room of the long one
    CComPtr<IMNode> clone;
    ASSERT_EQ(root->NodeClone(&clone), S_OK);
    root->AttributesSetInt(B(u"count"), 6);
    EXPECT_EQ(Attr(clone, u"count"), "5");
    EXPECT_EQ(Attr(root, u"count"), "6");
    EXPECT_EQ(Xml(root), "<root time='0.5' count='6'/>");
}

TEST(XmlNode, ValueIsTheFirstTextRun) {
    XMLNodePtr root = NewRoot();
    EXPECT_EQ(Value(root), "");
    root->NodeChildAdd(B(u"kid"), B(u"k"), nullptr);
    root->NodeValueSet(B(u"<verbatim a='1'>"));
    EXPECT_EQ(Value(root), "<verbatim a='1'>");
    root->NodeValueSet(B(u"second"));
    EXPECT_EQ(U8(root->Value()), "second");
    EXPECT_EQ(Children(root), 1);  // text runs are not children to clients
}

TEST(XmlNode, ChildrenAddGetRemoveAndDuplicateNames) {
    XMLNodePtr root = NewRoot();
    CComPtr<IMNode> first, second;
    ASSERT_EQ(root->NodeChildAdd(B(u"x::item"), B(u"1"), &first), S_OK);
    ASSERT_EQ(root->NodeChildAdd(B(u"x::item"), B(u"2"), &second), S_OK);
    CComPtr<IMNode> x = Child(root, u"x");
    ASSERT_TRUE(x);
    EXPECT_EQ(Children(x), 2);
    EXPECT_EQ(Child(x, u"ITEM").p, first.p);  // the first of that name
    CComBSTR name;
    CComPtr<IMNode> byIndex;
    ASSERT_EQ(x->NodeChildGetByIndex(1, Out(name), &byIndex), S_OK);
    EXPECT_EQ(byIndex.p, second.p);
    EXPECT_EQ(x->NodeChildGetByIndex(2, nullptr, nullptr), E_INVALID_INDEX);

    EXPECT_EQ(root->NodeChildRemove(B(u"x::item")), S_OK);
    EXPECT_EQ(root->NodeChildRemove(B(u"x::nothing")), S_FALSE);
    EXPECT_EQ(Child(x, u"item").p, second.p);
    // The removed node lives on for its holder, as a root.
    CComPtr<IMNode> parent;
    EXPECT_EQ(first->NodeParentGet(&parent), S_FALSE);
    EXPECT_EQ(Value(first), "1");
}

TEST(XmlNode, ManyChildrenStayFindableAfterRenameAndRemove) {
    XMLNodePtr root = NewRoot();
    std::vector<XMLNodePtr> kids;
    for (int k = 0; k < 50; ++k) {
        std::u16string name = u"c";
        name += orvex::com::ToUtf16(std::to_string(k));
        kids.push_back(root->AppendChild(name));
    }
    EXPECT_EQ(root->FindChild(u"C42").p, kids[42].p);
    kids[42]->SetName(u"renamed");
    EXPECT_EQ(root->FindChild(u"c42").p, nullptr);
    EXPECT_EQ(root->FindChild(u"RENAMED").p, kids[42].p);
    root->RemoveChild(kids[10]);
    EXPECT_EQ(root->FindChild(u"c10").p, nullptr);
    EXPECT_EQ(root->FindChild(u"c11").p, kids[11].p);
    kids.push_back(root->AppendChild(u"c11"));
    EXPECT_EQ(root->FindChild(u"c11").p, kids[11].p);
}

TEST(XmlNode, PathParentDetachAndClone) {
    XMLNodePtr root = NewRoot(u"m-props");
    CComPtr<IMNode> c = Child(root, u"a::b::c", 1);
    const auto path = [](IMNode* n, BSTR stop) {
        return Str([&](BSTR* v) { return n->NodePathGet(v, stop); });
    };
    EXPECT_EQ(path(c, nullptr), "a::b::c");
    EXPECT_EQ(path(c, B(u"A")), "b::c");
    EXPECT_EQ(path(root, nullptr), "");

    c->AttributesSet(B(u"k"), B(u"v"));
    c->NodeValueSet(B(u"text"));
    CComPtr<IMNode> a = Child(root, u"a"), clone;
    ASSERT_EQ(a->NodeClone(&clone), S_OK);
    EXPECT_EQ(Xml(a), Xml(clone));
    CComPtr<IMNode> none;
    EXPECT_EQ(clone->NodeParentGet(&none), S_FALSE);

    CComPtr<IMNode> b = Child(a, u"b");
    EXPECT_EQ(b->NodeDetach(), S_OK);
    EXPECT_EQ(Children(a), 0);
    EXPECT_EQ(Children(b), 0);
    EXPECT_EQ(Name(b), "b");
    EXPECT_EQ(root->NodeDetach(), S_FALSE);
}

// Parsed elements share blocks of memory; each must stay usable for as long as it is held,
// whatever happens to the tree and the other elements, and on whichever thread it goes.
TEST(XmlNode, ParsedNodesOutliveTheirTreeAndEachOther) {
    std::u16string doc = u"<r>";
    for (int i = 0; i < 600; ++i)
        doc += u"<e i='" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
               u"' long='a value past the short-string room'>text past the short room</e>";
    doc += u"</r>";
    std::vector<XMLNodePtr> kept;
    {
        XMLNodePtr root = NewRoot();
        ASSERT_EQ(root->NodeXmlSet(CComBSTR(doc), 1), S_OK);
        auto children = root->ElementChildren();
        ASSERT_EQ(children.size(), 600u);
        for (std::size_t i : {0u, 299u, 599u}) kept.push_back(children[i]);
        // A second parse replaces the children, and a failed one drops what it made.
        ASSERT_EQ(root->NodeXmlSet(B(u"<r><a/><b>"), 1), E_INVALIDARG);
    }
    // Their strings and lists live in memory of the parse too: read, replaced and grown on
    // other threads after the tree has gone.
    std::thread other([node = std::move(kept[1])]() mutable {
        EXPECT_TRUE(node->HasAttr(u"i"));
        node->SetAttr(u"long", u"replaced by a value longer than the one parsed");
        node->SetValue(u"other text, also longer than the parsed one");
        EXPECT_EQ(U8(node->Value()), "other text, also longer than the parsed one");
        node.Release();
    });
    std::u16string value;
    ASSERT_TRUE(kept[2]->GetAttr(u"i", &value));
    EXPECT_EQ(U8(value), "b");  // 599 % 26 == 1
    ASSERT_TRUE(kept[2]->GetAttr(u"long", &value));
    EXPECT_EQ(U8(value), "a value past the short-string room");
    EXPECT_EQ(U8(kept[2]->Value()), "text past the short room");
    for (int i = 0; i < 20; ++i) kept[2]->SetAttr(u"late" + std::u16string(1, u'a' + i), u"1");
    ASSERT_TRUE(kept[2]->AppendChild(u"added"));
    XMLNodePtr moved = NewRoot();
    ASSERT_EQ(moved->CopyFrom(*kept[0]), S_OK);
    kept.clear();
    other.join();
    ASSERT_TRUE(moved->GetAttr(u"long", &value));
    EXPECT_EQ(U8(value), "a value past the short-string room");
}

// A tree going away while another thread climbs from a node it holds: the climber gets each
// ancestor whole or not at all, and once the tree has gone the held node has no parent.
TEST(XmlNode, ClimbingWhileTheTreeGoes) {
    for (int round = 0; round < 200; ++round) {
        XMLNodePtr root = NewRoot();
        ASSERT_EQ(root->NodeXmlSet(B(u"<r><m a='1'><l/><k/></m><n><o/></n></r>"), 1), S_OK);
        XMLNodePtr leaf = root->ResolvePath(u"m::l", false);
        ASSERT_TRUE(leaf);
        std::thread climber([&leaf] {
            for (int i = 0; i < 50; ++i) {
                XMLNodePtr mid = leaf->ParentRef();
                if (!mid) break;
                EXPECT_EQ(U8(mid->Name()), "m");
                EXPECT_TRUE(mid->HasAttr(u"a"));
                if (XMLNodePtr top = mid->ParentRef()) {
                    EXPECT_EQ(U8(top->Name()), "r");
                }
            }
        });
        root.Release();
        climber.join();
        EXPECT_FALSE(leaf->ParentRef());
        CComPtr<IMNode> parent;
        EXPECT_EQ(leaf->NodeParentGet(&parent), S_FALSE);
        EXPECT_EQ(parent.p, nullptr);
    }
}

TEST(XmlNode, DepthIsBounded) {
    XMLNodePtr root = NewRoot();
    std::u16string path = u"n";
    // kMaxDepth nodes below the root, then the attribute.
    for (int k = 0; k < XMLParse::kMaxDepth; ++k) path += u"::n";
    EXPECT_EQ(root->AttributesSet(CComBSTR(path), B(u"1")), S_OK);
    path += u"::n";
    XMLNodePtr fresh = NewRoot();
    EXPECT_EQ(fresh->AttributesSet(CComBSTR(path), B(u"1")), E_INVALIDARG);
    EXPECT_EQ(fresh->ElementChildCount(), 0u);  // nothing half-made
}

TEST(XmlNode, AttributeListSetGetCloneCopy) {
    XMLNodePtr root = NewRoot();
    root->SetAttr(u"keep", u"old");
    EXPECT_EQ(root->AttributesSetList(B(u"a=1 b='x y' c=\"it's\" keep=new bare"), 0), S_OK);
    EXPECT_EQ(Str([&](BSTR* v) { return root->AttributesListGet(v); }),
              " keep='new' a='1' b='x y' c=\"it's\"");
    EXPECT_EQ(root->AttributesSetList(B(u"z=9"), 2), S_OK);
    EXPECT_EQ(root->AttrCount(), 1u);
    EXPECT_EQ(root->AttributesSetList(B(u"   "), 0), S_FALSE);

    CComPtr<IMAttributes> clone;
    ASSERT_EQ(root->AttributesClone(&clone), S_OK);
    EXPECT_EQ(Name(CComQIPtr<IMNode>(clone)), "m_attributes");

    XMLNodePtr other = NewRoot();
    other->SetAttr(u"z", u"mine");
    other->SetAttr(u"w", u"1");
    other->AttributesCopyFrom(clone, 0);  // only names not present
    EXPECT_EQ(U8(std::u16string(other->Attributes()[0].value)), "mine");
    other->AttributesCopyFrom(clone, 1);  // overwrite
    EXPECT_EQ(U8(other->Attributes()[0].value), "9");
    EXPECT_EQ(other->AttrCount(), 2u);
    other->AttributesCopyFrom(clone, 2);  // replace
    EXPECT_EQ(other->AttrCount(), 1u);
    EXPECT_EQ(other->AttributesCopyFrom(other, 1), S_OK);  // from itself
    EXPECT_EQ(other->AttrCount(), 1u);
}

// A schema the way a backend declares one.
XMLNodePtr SchemaTree() {
    XMLNodePtr root = NewRoot(u"m-props");
    root->NodeXmlSet(B(u"<m-props x='1'>"
                       u"<attributes_info>"
                       u"<mode type='option_fixed' default='auto' values='auto manual'>How"
                       u"<auto>Chosen for you</auto></mode>"
                       u"<level min='0' max='10'>Level</level>"
                       u"<copy select_from='mode'>Copy</copy>"
                       u"<listed>Listed<one>First</one><two>Second</two></listed>"
                       u"<stat inherit='base'><late type='int'>Late frames</late></stat>"
                       u"<base><dropped type='int'>Dropped</dropped></base>"
                       u"<out><speed>Speed</speed></out>"
                       u"</attributes_info>"
                       u"<stat/><out.x.y/></m-props>"),
                     1);
    return root;
}

TEST(XmlNodeSchema, InfoTypesAndFallbacks) {
    XMLNodePtr root = SchemaTree();
    auto info = [&](const char16_t* name, int type) {
        CComBSTR v;
        const HRESULT hr = root->AttributesInfoGet(B(name), type, Out(v));
        return std::pair{hr, U8(v)};
    };
    // "copy" lists its values through select_from, "listed" through its option entries;
    // "stat::" finds the ancestor's entry for the node, then its "inherit" chain; a dotted
    // node name falls back to the part before the first ".".
    // clang-format off
    const struct {
        const char16_t* name;
        int type;
        HRESULT hr;
        const char* text;
    } cases[] = {{u"mode", 0, S_OK, "How"}, {u"MODE", 1, S_OK, "option_fixed"},
        {u"mode", 2, S_OK, "auto"}, {u"level", 4, S_OK, "0"}, {u"level", 5, S_OK, "10"},
        {u"level", 3, S_FALSE, ""}, {u"copy", 3, S_OK, "auto manual"},
        {u"listed", 3, S_OK, "one|two"}, {u"unknown", 0, S_FALSE, ""},
        {u"mode", 6, E_INVALIDARG, ""}, {u"mode", -1, E_INVALIDARG, ""}, {u"", 0, E_INVALIDARG, ""},
        {u"stat::late", 0, S_OK, "Late frames"}, {u"stat::dropped", 1, S_OK, "int"},
        {u"out.x.y::speed", 0, S_OK, "Speed"}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(info(c.name, c.type), (std::pair{c.hr, std::string(c.text)})) << U8(c.name);
    // The described node need not exist yet.
    root->NodeChildRemove(B(u"stat"));
    EXPECT_EQ(info(u"stat::late", 0).second, "Late frames");

    CComBSTR help;
    EXPECT_EQ(root->AttributesInfoFieldGet(B(u"mode"), B(u"auto"), B(u""), Out(help)), S_OK);
    EXPECT_EQ(U8(help), "Chosen for you");
    EXPECT_EQ(root->AttributesInfoFieldGet(B(u"mode"), B(u"manual"), nullptr, Out(help)), S_FALSE);
    EXPECT_EQ(root->AttributesInfoFieldGet(B(u""), B(u"auto"), nullptr, Out(help)), E_INVALIDARG);

    int found = 9;
    CComBSTR def;
    EXPECT_EQ(root->AttributesGetOrDefault(B(u"mode"), &found, Out(def)), S_FALSE);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(U8(def), "auto");
    def.Empty();
    EXPECT_EQ(root->AttributesGetOrDefault(B(u"x"), &found, Out(def)), S_OK);
    EXPECT_EQ(found, 1);
}

TEST(XmlNodeSchema, InheritFalseAndCyclesAndNodeInfo) {
    XMLNodePtr root = SchemaTree();
    CComPtr<IMNode> stat = Child(root, u"stat");
    // The parent's schema applies to a node with its own schema unless switched off.
    ASSERT_TRUE(Child(stat, u"attributes_info::own", 1));
    CComBSTR v;
    EXPECT_EQ(stat->AttributesInfoGet(B(u"level"), 4, Out(v)), S_OK);
    Child(stat, u"attributes_info")->AttributesSet(B(u"inherit"), B(u"false"));
    EXPECT_EQ(stat->AttributesInfoGet(B(u"level"), 4, Out(v)), S_FALSE);

    int n = 0;
    stat->AttributesSet(B(u"undescribed"), B(u"1"));  // not a schema entry
    EXPECT_EQ(stat->AttributesInfoGetCount(&n), S_OK);
    EXPECT_EQ(n, 1);
    CComBSTR name;
    EXPECT_EQ(stat->AttributesInfoGetByIndex(0, Out(name)), S_OK);
    EXPECT_EQ(U8(name), "own");
    EXPECT_EQ(stat->AttributesInfoGetByIndex(1, Out(name)), E_INVALID_INDEX);
    EXPECT_EQ(stat->AttributesInfoGetByIndex(-1, Out(name)), E_INVALIDARG);

    // An "inherit" cycle ends instead of hanging.
    XMLNodePtr loop = NewRoot(u"m-props");
    loop->NodeXmlSet(B(u"<m-props><attributes_info><a inherit='b'/><b inherit='a'/>"
                       u"</attributes_info><a/></m-props>"),
                     1);
    v.Empty();
    EXPECT_EQ(loop->AttributesInfoGet(B(u"a::zz"), 0, Out(v)), S_FALSE);

    // NodeInfoGet: the node's own entry in the nearest schema, following "inherit".
    XMLNodePtr other = SchemaTree();
    CComPtr<IMNode> statNode = Child(other, u"stat");
    EXPECT_EQ(Str([&](BSTR* s) { return statNode->NodeInfoGet(B(u"inherit"), s); }), "base");
    EXPECT_EQ(statNode->NodeInfoGet(B(u"type"), Out(v)), S_FALSE);
}

}  // namespace
