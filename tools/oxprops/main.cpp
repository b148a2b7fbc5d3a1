// oxprops: the renderers' settings from the command line. Lists each renderer class's
// devices, shows a renderer's property tree with the schema's help and option lists, gets and
// sets properties, and saves the shared settings into the registry.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backend/registry_settings.h"
#include "platform/registry.h"
#include "tools/common/host.h"

namespace {

using oxtools::Bstr;
using oxtools::HexCode;
using oxtools::Utf8;

constexpr int kFailed = 1;
constexpr int kBadInput = 2;

struct RendererClass {
    const char* name;
    const CLSID* clsid;
};
const RendererClass kClasses[] = {{"generic", &CLSID_OXRenderer},
                                  {"decklink", &CLSID_OXRendererBMD},
                                  {"aja", &CLSID_OXRendererAJA}};

const char kUsage[] =
    "usage: oxprops [--class generic|decklink|aja] [--device N|NAME] COMMAND\n"
    "\n"
    "  devices            list the devices of each renderer class\n"
    "  show [NODE]        the property tree (or one node) with help and options\n"
    "  get NAME           one property's value\n"
    "  set NAME VALUE     check a value against the renderer's schema, set it and save it\n"
    "  save               save the renderer's settings into the registry\n"
    "  where              where the shared settings are kept\n"
    "\n"
    "Property names take '::' between nodes (stat::buffer_overlow). The shared settings\n"
    "live in the registry key HKEY_CURRENT_USER\\Software\\Tessaly\\Orvex\\OXRenderer;\n"
    "every renderer reads them when it is made. A value may be a negative number; any\n"
    "other value that begins with '-' goes after \"--\" (oxprops set crop -- -left).\n"
    "\n"
    "Exit codes: 0 done; 1 the renderer or the registry failed; 2 bad input (an unknown\n"
    "option, command, class, device or property, or a value the renderer does not take).\n";

int Fail(int code, const std::string& reason) {
    std::fprintf(stderr, "oxprops: %s\n", reason.c_str());
    return code;
}

std::string Info(IOXProps* props, const std::string& name, eMInfoType type) {
    CComBSTR text;
    if (props->PropsInfoGet(Bstr(name), type, &text) != S_OK) return {};
    return Utf8(text);
}

void ShowNode(IOXProps* props, const std::string& node, int depth) {
    int count = 0;
    if (FAILED(props->PropsGetCount(Bstr(node), &count))) return;
    for (int i = 0; i < count; ++i) {
        CComBSTR name, value;
        BOOL is_node = FALSE;
        if (FAILED(props->PropsGetByIndex(Bstr(node), i, &name, &value, &is_node))) continue;
        const std::string full = node.empty() ? Utf8(name) : node + "::" + Utf8(name);
        const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
        if (is_node) {
            std::printf("%s%s:%s%s\n", indent.c_str(), Utf8(name).c_str(),
                        Utf8(value).empty() ? "" : " ", Utf8(value).c_str());
        } else {
            std::printf("%s%s = %s\n", indent.c_str(), Utf8(name).c_str(), Utf8(value).c_str());
        }
        if (const std::string help = Info(props, full, eMIT_Help); !help.empty())
            std::printf("%s    %s\n", indent.c_str(), help.c_str());
        int options = 0;
        if (props->PropsOptionGetCount(Bstr(full), &options) == S_OK && options > 0) {
            std::printf("%s    options:", indent.c_str());
            for (int k = 0; k < options; ++k) {
                CComBSTR option, help;
                if (FAILED(props->PropsOptionGetByIndex(Bstr(full), k, &option, &help))) continue;
                std::printf(" %s", Utf8(option).c_str());
            }
            std::printf("\n");
        }
        if (is_node) ShowNode(props, full, depth + 1);
    }
}

// A property's text into the shared key, with the type the renderers write it with.
LONG SaveValue(orvex::platform::RegistryKey* key, const std::u16string& name,
               const std::u16string& text) {
    std::uint64_t number = 0;
    const DWORD type = orvex::backend::RegistryTypeOf(text, &number);
    using orvex::platform::kRegDword;
    using orvex::platform::kRegQword;
    return type == kRegDword   ? key->SetDword(name, static_cast<DWORD>(number))
           : type == kRegQword ? key->SetQword(name, number)
                               : key->SetString(name, text);
}

// The value name of a property in the shared key: nodes and the name joined by ".".
std::u16string RegistryName(const std::string& property) {
    std::string name;
    for (std::size_t i = 0; i < property.size(); ++i) {
        const bool separator = property.compare(i, 2, "::") == 0;
        name.push_back(separator ? '.' : property[i]);
        if (separator) ++i;
    }
    return orvex::com::ToUtf16(name);
}

// Writes the tree's properties into the shared key, child properties as "node.name" (the
// form the renderers read back). Counters (the "stat" node) are figures, not settings.
HRESULT SaveNode(IOXProps* props, const std::string& node, const std::string& prefix,
                 orvex::platform::RegistryKey* key) {
    int count = 0;
    HRESULT hr = props->PropsGetCount(Bstr(node), &count);
    for (int i = 0; SUCCEEDED(hr) && i < count; ++i) {
        CComBSTR name, value;
        BOOL is_node = FALSE;
        if (FAILED(props->PropsGetByIndex(Bstr(node), i, &name, &value, &is_node))) continue;
        const std::string n = Utf8(name);
        if (node.empty() && n == "stat") continue;
        if (is_node) {
            hr = SaveNode(props, node.empty() ? n : node + "::" + n, prefix + n + ".", key);
            continue;
        }
        const LONG err = SaveValue(key, orvex::com::ToUtf16(prefix + n),
                                   std::u16string(orvex::com::View(value)));
        if (err != ERROR_SUCCESS) hr = HRESULT_FROM_WIN32(err);
    }
    return hr;
}

void ShowWhere() {
    std::printf("HKEY_CURRENT_USER\\%s\n  in %s/HKEY_CURRENT_USER.reg\n",
                orvex::com::ToUtf8(orvex::backend::kSettingsKeyPath).c_str(),
                oxtools::RegistryFolder().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const RendererClass* cls = &kClasses[0];
    std::string device_name;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--class" || a == "--device") {
            if (i + 1 >= argc) return Fail(kBadInput, a + " needs a value");
            const std::string v = argv[++i];
            if (a == "--device") {
                device_name = v;
                continue;
            }
            cls = nullptr;
            for (const auto& c : kClasses)
                if (v == c.name) cls = &c;
            if (!cls) return Fail(kBadInput, "unknown class '" + v + "' (generic, decklink, aja)");
        } else if (a == "--") {  // the rest are words, even those that begin with '-'
            words.insert(words.end(), argv + i + 1, argv + argc);
            break;
        } else if (a.starts_with("-") &&
                   !(a.size() > 1 && std::isdigit(static_cast<unsigned char>(a[1])))) {
            // A negative number is a value, not an option.
            return Fail(kBadInput, "unknown option '" + a + "' (see --help)");
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) return Fail(kBadInput, "no command (see --help)");
    const std::string& cmd = words[0];
    const std::size_t want = cmd == "get" ? 2 : cmd == "set" ? 3 : cmd == "show" ? 0 : 1;
    if (cmd != "devices" && cmd != "show" && cmd != "get" && cmd != "set" && cmd != "save" &&
        cmd != "where")
        return Fail(kBadInput, "unknown command '" + cmd + "' (see --help)");
    if ((want && words.size() != want) || (cmd == "show" && words.size() > 2))
        return Fail(kBadInput, "wrong number of arguments for '" + cmd + "' (see --help)");
    if (cmd == "where") {
        ShowWhere();
        return 0;
    }

    std::string note;
    if (!oxtools::EnsureDeckLinkDriver(&note))
        std::fprintf(stderr, "oxprops: %s\n", note.c_str());
    else if (!note.empty())
        std::fprintf(stderr, "%s\n", note.c_str());

    std::string error;
    if (cmd == "devices") {
        for (const auto& c : kClasses) {
            CComPtr<IOXDevice> device = oxtools::MakeRenderer(*c.clsid, &error);
            std::printf("%s:\n", c.name);
            if (!device) {
                std::printf("  (%s)\n", error.c_str());
                continue;
            }
            const auto devices = oxtools::ListDevices(device);
            for (std::size_t i = 0; i < devices.size(); ++i)
                std::printf("  %zu: %s%s\n", i, devices[i].name.c_str(),
                            oxtools::DeviceMark(devices[i]).c_str());
            if (devices.empty()) std::printf("  (none)\n");
        }
        return 0;
    }

    CComPtr<IOXDevice> device = oxtools::MakeRenderer(*cls->clsid, &error);
    if (!device) return Fail(kFailed, error);
    if (!device_name.empty()) {
        const int index = oxtools::FindDevice(oxtools::ListDevices(device), device_name);
        if (index < 0) return Fail(kBadInput, "unknown device '" + device_name + "'");
        const HRESULT hr = device->DeviceSet(eOXDT_Video, index, nullptr);
        if (FAILED(hr)) return Fail(kFailed, "cannot choose the device: " + HexCode(hr));
    }
    CComQIPtr<IOXProps> props(device);
    if (!props) return Fail(kFailed, "the renderer has no properties");

    if (cmd == "show") {
        const std::string node = words.size() > 1 ? words[1] : "";
        int count = 0;
        if (!node.empty() && FAILED(props->PropsGetCount(Bstr(node), &count)))
            return Fail(kBadInput, "no node '" + node + "'");
        ShowNode(props, node, 0);
        return 0;
    }
    if (cmd == "get") {
        const auto value = oxtools::GetProp(props, words[1]);
        if (!value) return Fail(kBadInput, "no property '" + words[1] + "'");
        std::printf("%s\n", value->c_str());
        return 0;
    }
    orvex::platform::RegistryKey key;
    LONG err = key.Create(orvex::platform::RegRoot::kCurrentUser, orvex::backend::kSettingsKeyPath);
    if (err != ERROR_SUCCESS)
        return Fail(kFailed, "cannot open the settings key: " + HexCode(HRESULT_FROM_WIN32(err)));
    if (cmd == "set") {
        const std::string& name = words[1];
        const std::string& value = words[2];
        if (const std::string why = oxtools::SettingRefusal(props, name, value); !why.empty())
            return Fail(kBadInput, why);
        const HRESULT hr = props->PropsSet(Bstr(name), Bstr(value));
        if (FAILED(hr))
            return Fail(kBadInput,
                        "the renderer refuses '" + name + "' = '" + value + "': " + HexCode(hr));
        // Only this value is written, in one step under the store's lock: what other processes
        // saved since this renderer read the key stays.
        err = SaveValue(&key, RegistryName(name), orvex::com::ToUtf16(value));
        if (err != ERROR_SUCCESS)
            return Fail(kFailed,
                        "saving '" + name + "' failed: " + HexCode(HRESULT_FROM_WIN32(err)));
        std::printf("Saved %s to ", name.c_str());
        ShowWhere();
        return 0;
    }
    const HRESULT hr = SaveNode(props, "", "", &key);
    if (FAILED(hr)) return Fail(kFailed, "saving the settings failed: " + HexCode(hr));
    std::printf("Saved to ");
    ShowWhere();
    return 0;
}
