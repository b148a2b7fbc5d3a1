// IOXProps over the tree, the way a renderer serves it.
#include <gtest/gtest.h>

#include <filesystem>

#include <atomic>
#include <thread>

#include "../../fuzz/props_tree/tree_check.h"
#include "props/module_facts.h"
#include "props/props_impl.h"
#include "props/xml_text.h"
#include "test_util.h"

namespace {

using namespace props_test;

class TestProps : public CComObjectRootEx<CComMultiThreadModel>, public IMPropsImpl<TestProps> {
public:
    BEGIN_COM_MAP(TestProps)
    COM_INTERFACE_ENTRY(IOXProps)
    END_COM_MAP()

    HRESULT PropsOnSet(BSTR name, BSTR value) {
        ++on_set_calls;
        last_set = U8(name) + "=" + U8(value);
        return fail_on_set ? E_ACCESSDENIED : S_OK;
    }
    template <class F>
    std::optional<HRESULT> PropsForward(F&& call) {
        if (!forward_to) return std::nullopt;
        return call(forward_to.p);
    }

    int on_set_calls = 0;
    std::string last_set;
    bool fail_on_set = false;
    CComPtr<IOXProps> forward_to;
};

CComPtr<IOXProps> Make(CComObject<TestProps>** raw = nullptr) {
    CComObject<TestProps>* p = nullptr;
    CComObject<TestProps>::CreateInstance(&p);
    if (raw) *raw = p;
    return CComPtr<IOXProps>(p);
}

std::pair<HRESULT, std::string> Get(IOXProps* props, const char16_t* name) {
    CComBSTR v;
    HRESULT hr = props->PropsGet(B(name), Out(v));
    return {hr, v.m_str ? U8(v) : std::string("<null>")};
}

TEST(Props, EmptyNameWritesListsXmlOrText) {
    auto props = Make();
    ASSERT_EQ(props->PropsSet(B(u""), B(u"a=1 b='x y'")), S_OK);
    EXPECT_EQ(Get(props, u"b").second, "x y");
    EXPECT_EQ(props->PropsSet(B(u""), B(u"'quoted = not a pair'")), S_OK);  // plain text
    EXPECT_EQ(Get(props, u"a").second, "1");
    EXPECT_EQ(props->PropsSet(B(u""), nullptr), E_INVALIDARG);

    EXPECT_EQ(Get(props, u"").second, "<m-props a='1' b='x y'>'quoted = not a pair'</m-props>");
    ASSERT_EQ(props->PropsSet(B(u""), B(u"<cfg k='v'><n>t</n></cfg>")), S_OK);
    EXPECT_EQ(Get(props, u"").second, "<cfg k='v'>\r\n\t<n>t</n>\r\n</cfg>");
    EXPECT_EQ(Get(props, u"a").first, S_FALSE);
    // XML without any attribute is still XML, so what PropsGet("") gives can be written back.
    ASSERT_EQ(props->PropsSet(B(u""), B(u"<m-props><n>5</n></m-props>")), S_OK);
    EXPECT_EQ(Get(props, u"n").second, "5");

    ASSERT_EQ(props->PropsSet(B(u""), B(u"")), S_OK);
    EXPECT_EQ(Get(props, u"").second, "<m-props/>");

    using orvex::props::ClassifyValue;
    using orvex::props::ValueKind;
    EXPECT_EQ(ClassifyValue(u"<3 is text"), ValueKind::kText);
    EXPECT_EQ(ClassifyValue(u"a=<b"), ValueKind::kXml);
    EXPECT_EQ(ClassifyValue(u"x='a=b'"), ValueKind::kAttributeList);
    EXPECT_EQ(ClassifyValue(u"'a=b'"), ValueKind::kText);
    EXPECT_EQ(ClassifyValue(u"<'my root'/>"), ValueKind::kXml);
    EXPECT_EQ(ClassifyValue(u" <1.x>t</1.x>\r\n"), ValueKind::kXml);
}

TEST(Props, WholeTreeTextWritesBackTheSameTree) {
    // Names and values the text form has to quote or escape, set the way hosts set them.
    const std::pair<const char16_t*, std::u16string> writes[] = {
        {u"q\"uote", u"a'b\"c"}, {u"gt>", u"'/><evil x='1'/><x y=\""},
        {u"sp ace::e=q", u""},   {u"lead", u"  both ends  "},
        {u"ctl", u"\t\r\n\x01"}, {u"nb::\u00e9t\u00e9", u"\u4e2d\u6587 \U0001F600"},
        {u"node", u"text"},      {u"node::a b", u"x"},
        {u"br::tab", u"<&>"},    {u"br::tab::x", u"&amp; &#65; ]]>"},
    };
    CComObject<TestProps>* first = nullptr;
    auto props = Make(&first);
    for (const auto& [name, value] : writes)
        ASSERT_EQ(props->PropsSet(B(name), CComBSTR(value)), S_OK) << U8(name);
    CComBSTR text;
    ASSERT_EQ(props->PropsGet(B(u""), Out(text)), S_OK);
    CComObject<TestProps>* second = nullptr;
    auto copy = Make(&second);
    ASSERT_EQ(copy->PropsSet(B(u""), text), S_OK) << U8(text);
    EXPECT_TRUE(tree_check::SameTree(*first->PropsRoot(), *second->PropsRoot())) << U8(text);
    EXPECT_EQ(Get(copy, u"q\"uote").second, "a'b\"c");
    EXPECT_EQ(Get(copy, u"lead").second, "  both ends  ");
    EXPECT_EQ(Get(copy, u"gt>").second, "'/><evil x='1'/><x y=\"");
}

TEST(Props, NamedWritesAreVerbatimAndPromoteAttributes) {
    auto props = Make();
    ASSERT_EQ(props->PropsSet(B(u"raw"), B(u"<x a='1'/> b=2")), S_OK);
    EXPECT_EQ(Get(props, u"raw").second, "<x a='1'/> b=2");

    ASSERT_EQ(props->PropsSet(B(u"a"), B(u"5")), S_OK);
    ASSERT_EQ(props->PropsSet(B(u"a::b"), B(u"6")), S_OK);
    EXPECT_EQ(Get(props, u"a").second, "5");
    EXPECT_EQ(Get(props, u"a::b").second, "6");
    int count = 0;
    props->PropsGetCount(B(u""), &count);
    EXPECT_EQ(count, 2);  // "raw" and node "a"; the attribute "a" is gone
    // A node with no text reads as its attributes.
    props->PropsSet(B(u"n::x"), B(u"1"));
    props->PropsSet(B(u"n::y"), B(u"two words"));
    EXPECT_EQ(Get(props, u"n").second, " x='1' y='two words'");
    // Writing to an existing node's path sets its text.
    props->PropsSet(B(u"n"), B(u"text"));
    EXPECT_EQ(Get(props, u"n").second, "text");

    EXPECT_EQ(Get(props, u"missing"), (std::pair{S_FALSE, std::string("<null>")}));
    EXPECT_EQ(props->PropsGet(B(u"a"), nullptr), E_POINTER);
    EXPECT_EQ(props->PropsSet(B(u"a::::b"), B(u"1")), E_INVALIDARG);
}

TEST(Props, FixedModuleNames) {
    auto props = Make();
    auto version = Get(props, u"DLL-Version");
    EXPECT_EQ(version, (std::pair{S_OK, std::string("1.0.0.0")}));
    // The file the property code is linked into: here the test program.
    auto path = Get(props, u"dll-path").second;
    EXPECT_EQ(std::filesystem::path(path).stem(), "test_props_tree") << path;
    auto date = Get(props, u"dll-date").second;
    ASSERT_EQ(date.size(), 20u);  // "Mmm dd yyyy hh:mm:ss"
    EXPECT_EQ(date[11], ' ');
    EXPECT_EQ(date[14], ':');

    orvex::props::ModuleFacts facts{u"/x/y.so", 0x0001000200030004ull, 0x000A000B000C000Dull,
                                    "Jan  2 2026", "03:04:05"};
    EXPECT_EQ(*orvex::props::FixedPropertyText(u"dll-version", facts), u"1.2.3.4");
    EXPECT_EQ(*orvex::props::FixedPropertyText(u"DLL-FILE-VERSION", facts), u"10.11.12.13");
    EXPECT_EQ(*orvex::props::FixedPropertyText(u"dll-path", facts), u"/x/y.so");
    EXPECT_EQ(*orvex::props::FixedPropertyText(u"dll-date", facts), u"Jan  2 2026 03:04:05");
    EXPECT_FALSE(orvex::props::FixedPropertyText(u"dll-other", facts));
}

TEST(Props, RemoveAllPropsKeepsNodes) {
    auto props = Make();
    props->PropsSet(B(u""), B(u"a=1 b=2"));
    props->PropsSet(B(u"node::x"), B(u"1"));
    EXPECT_EQ(props->PropsRemove(B(u"_all_props_")), S_OK);
    EXPECT_EQ(Get(props, u"a").first, S_FALSE);
    EXPECT_EQ(Get(props, u"node::x").second, "1");
    EXPECT_EQ(props->PropsRemove(B(u"node::x")), S_OK);
    EXPECT_EQ(props->PropsRemove(B(u"node")), S_OK);
    EXPECT_EQ(props->PropsRemove(B(u"node")), E_INVALIDARG);
    EXPECT_EQ(props->PropsRemove(B(u"")), E_INVALIDARG);
    props->PropsSet(B(u"k::j"), B(u"1"));
    EXPECT_EQ(props->PropsRemove(B(u"_all_nodes_")), S_OK);
    EXPECT_EQ(Get(props, u"k").first, S_FALSE);
}

// A renderer's declarations.
void Declare(IOXProps* props) {
    props->PropsSet(B(u""), B(u"<m-props mode='auto'><attributes_info>"
                              u"<mode type='option_fixed' values='auto|manual|off' "
                              u"default='auto'>Mode<manual>By hand</manual></mode>"
                              u"<level min='1' max='9'>Level</level>"
                              u"</attributes_info><stat late='0'/></m-props>"));
}

TEST(Props, EnumerationFollowsTheSchema) {
    auto props = Make();
    Declare(props);
    int count = 0;
    ASSERT_EQ(props->PropsGetCount(B(u""), &count), S_OK);
    EXPECT_EQ(count, 3);  // mode, level (schema) and node stat
    CComBSTR name, value;
    BOOL node = 5;
    ASSERT_EQ(props->PropsGetByIndex(B(u""), 1, Out(name), Out(value), &node), S_OK);
    EXPECT_EQ(U8(name), "level");
    EXPECT_EQ(value.m_str, nullptr);  // described but unset
    EXPECT_EQ(node, 0);
    name.Empty();
    ASSERT_EQ(props->PropsGetByIndex(B(u""), 2, Out(name), Out(value), &node), S_OK);
    EXPECT_EQ(U8(name), "stat");
    EXPECT_EQ(node, 1);
    EXPECT_EQ(props->PropsGetByIndex(B(u""), 3, Out(name), Out(value), &node), E_INVALID_INDEX);
    EXPECT_EQ(props->PropsGetByIndex(B(u""), -1, Out(name), Out(value), &node), E_INVALID_INDEX);
    EXPECT_EQ(props->PropsGetByIndex(B(u"nothing"), 0, Out(name), Out(value), &node), E_INVALIDARG);
    EXPECT_EQ(props->PropsGetCount(B(u"nothing"), &count), E_INVALIDARG);
    EXPECT_EQ(props->PropsGetCount(B(u""), nullptr), E_POINTER);

    // A count for one node does not mislead the enumeration of another.
    props->PropsGetCount(B(u""), &count);
    name.Empty();
    ASSERT_EQ(props->PropsGetByIndex(B(u"stat"), 0, Out(name), Out(value), &node), S_OK);
    EXPECT_EQ(U8(name), "late");

    value.Empty();
    ASSERT_EQ(props->PropsGetByIndex(B(u"_info_"), 0, nullptr, Out(value), nullptr), S_OK);
    EXPECT_EQ(U8(value), "auto");
    EXPECT_EQ(props->PropsGetByIndex(B(u"_info_"), 2, nullptr, Out(value), nullptr),
              E_INVALID_INDEX);
}

TEST(Props, InfoAndOptions) {
    CComObject<TestProps>* raw = nullptr;
    auto props = Make(&raw);
    Declare(props);
    CComBSTR info;
    EXPECT_EQ(props->PropsInfoGet(B(u"level"), eMIT_Max, Out(info)), S_OK);
    EXPECT_EQ(U8(info), "9");
    EXPECT_EQ(props->PropsInfoGet(B(u"level"), eMIT_Node, Out(info)), E_INVALIDARG);
    EXPECT_EQ(props->PropsInfoGet(B(u""), eMIT_Help, Out(info)), E_INVALIDARG);
    EXPECT_EQ(props->PropsInfoGet(B(u"level"), eMIT_Values, Out(info)), S_FALSE);

    int count = -1;
    ASSERT_EQ(props->PropsOptionGetCount(B(u"mode"), &count), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(props->PropsOptionGetCount(B(u"level"), &count), S_OK);
    EXPECT_EQ(count, 0);
    CComBSTR value, help;
    ASSERT_EQ(props->PropsOptionGetByIndex(B(u"mode"), 1, Out(value), Out(help)), S_OK);
    EXPECT_EQ(U8(value), "manual");
    EXPECT_EQ(U8(help), "By hand");
    EXPECT_EQ(props->PropsOptionGetByIndex(B(u"mode"), 3, Out(value), Out(help)), E_INVALID_INDEX);

    int index = 9;
    value.Empty();
    help.Empty();
    ASSERT_EQ(props->PropsOptionGet(B(u"mode"), &index, Out(value), Out(help)), S_OK);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(props->PropsOptionSetByIndex(B(u"mode"), 3), E_INVALID_INDEX);
    EXPECT_EQ(Get(props, u"mode").second, "auto");
    EXPECT_EQ(raw->on_set_calls, 1);  // the declaration only
    ASSERT_EQ(props->PropsOptionSetByIndex(B(u"mode"), 1), S_OK);
    EXPECT_EQ(raw->last_set, "mode=manual");
    help.Empty();
    props->PropsOptionGet(B(u"mode"), &index, nullptr, Out(help));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(U8(help), "By hand");
    props->PropsSet(B(u"mode"), B(u"Manual"));  // compared case-sensitively
    props->PropsOptionGet(B(u"mode"), &index, nullptr, nullptr);
    EXPECT_EQ(index, -1);
    index = 4;
    EXPECT_EQ(props->PropsOptionGet(B(u"level"), &index, nullptr, nullptr), E_FILE_NOT_FOUND);
    EXPECT_EQ(index, -1);
}

// A bounded property takes only numbers within its bounds; a refused write changes nothing.
TEST(Props, BoundedPropertiesRefuseWhatLiesOutside) {
    auto props = Make();
    Declare(props);
    for (const char16_t* good : {u"1", u"9", u" 2.5 ", u"+3"})
        EXPECT_EQ(props->PropsSet(B(u"level"), B(good)), S_OK) << U8(B(good));
    for (const char16_t* bad : {u"0", u"10", u"9.5", u"abc", u"", u"5 apples", u"1e400"})
        EXPECT_EQ(props->PropsSet(B(u"level"), B(bad)), E_INVALIDARG) << U8(B(bad));
    EXPECT_EQ(Get(props, u"level").second, "+3");
    // Unbounded properties stay verbatim, the option list included.
    EXPECT_EQ(props->PropsSet(B(u"mode"), B(u"anything")), S_OK);
}

TEST(Props, HooksOnSetResultAndForwarding) {
    CComObject<TestProps>* front = nullptr;
    CComObject<TestProps>* back = nullptr;
    auto frontProps = Make(&front);
    auto backProps = Make(&back);
    front->fail_on_set = true;
    EXPECT_EQ(frontProps->PropsSet(B(u"x"), B(u"1")), E_ACCESSDENIED);
    EXPECT_EQ(Get(frontProps, u"x").second, "1");  // the tree was updated first

    front->forward_to = backProps;
    front->fail_on_set = false;
    EXPECT_EQ(frontProps->PropsSet(B(u"y"), B(u"2")), S_OK);
    EXPECT_EQ(back->last_set, "y=2");
    EXPECT_EQ(Get(backProps, u"y").second, "2");
    EXPECT_EQ(Get(frontProps, u"x").first, S_FALSE);  // reads go to the backend too
    front->forward_to.Release();
    EXPECT_EQ(Get(frontProps, u"y").first, S_FALSE);
}

TEST(PropsThreads, ConcurrentSetGetAndEnumerateStayConsistent) {
    auto props = Make();
    Declare(props);
    constexpr int kThreads = 6, kRounds = 300;
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::u16string mine = u"t";
            mine += orvex::com::ToUtf16(std::to_string(t));
            for (int r = 0; r < kRounds; ++r) {
                const std::u16string value = orvex::com::ToUtf16(std::to_string(r));
                props->PropsSet(CComBSTR(mine + u"::v"), CComBSTR(value));
                CComBSTR got;
                if (props->PropsGet(CComBSTR(mine + u"::v"), Out(got)) != S_OK ||
                    got.View() != value)
                    ++bad;
                int count = 0;
                props->PropsGetCount(B(u""), &count);
                for (int i = 0; i < count; ++i) {
                    CComBSTR name, v;
                    BOOL node = 0;
                    HRESULT hr = props->PropsGetByIndex(B(u""), i, Out(name), Out(v), &node);
                    if (FAILED(hr) && hr != E_INVALID_INDEX) ++bad;
                }
                CComBSTR whole;
                if (props->PropsGet(B(u""), Out(whole)) != S_OK) ++bad;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    int count = 0;
    props->PropsGetCount(B(u""), &count);
    EXPECT_EQ(count, 3 + kThreads);
}

// The writer reads names, texts and attributes of a tree that other threads rename, edit,
// re-parse and prune at the same time; every text it gives must read back.
TEST(PropsThreads, WritingWhileTheTreeChanges) {
    XMLParse::XMLNodePtr root = NewRoot();
    ASSERT_EQ(root->NodeXmlSet(B(u"<r><a x='1'>t<b/></a><c><d y='2'/></c><e/></r>"), 1), S_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread writer([&] {
        while (!stop) {
            const std::u16string xml = XMLParse::WriteXml(*root);
            XMLParse::XMLNodePtr back = NewRoot();
            if (XMLParse::ParseXml(xml, back, true) != S_OK) ++bad;
        }
    });
    std::thread editor([&] {
        for (int r = 0; r < 300; ++r) {
            const std::u16string n = orvex::com::ToUtf16(std::to_string(r));
            if (auto a = root->FindChild(u"a")) {
                a->SetName(r % 2 ? u"a" : u"A");
                a->SetAttr(u"x", u"a value longer than the short room " + n);
                a->SetValue(n);
            }
            if (auto c = root->FindChild(u"c")) {
                if (auto d = c->FindChild(u"d")) d->SetName(u"d");
                c->NodeXmlSet(CComBSTR(u"<c><d y='" + n + u"'/><f/></c>"), 0);
            }
            if (auto e = root->AppendChild(u"extra")) root->RemoveChild(e);
        }
    });
    editor.join();
    stop = true;
    writer.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(PropsThreads, ConcurrentPathWritesMakeOneNode) {
    XMLParse::XMLNodePtr root = NewRoot();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < 200; ++r) {
                std::u16string name = u"a::b::c" + orvex::com::ToUtf16(std::to_string(t));
                root->AttributesSet(CComBSTR(name), CComBSTR(u"1"));
                CComBSTR xml;
                root->NodeXmlGet(&xml);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(root->ElementChildCount(), 1u);
    EXPECT_EQ(root->FindChild(u"a")->FindChild(u"b")->AttrCount(), 4u);
}

}  // namespace
