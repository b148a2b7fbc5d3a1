#include "tools/common/host.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "aja/ntv2/ntv2driver.h"
#include "com/runtime.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "props/value_check.h"
#include "sim/aja/sim_control.h"
#include "sim/decklink/sim_control.h"

namespace oxtools {
namespace {

// The driver's iterator class: the key the DeckLink backend loads its driver from.
constexpr char16_t kDeckLinkDriverKey[] =
    u"CLSID\\{1F2E109A-8F4F-49E4-9203-135595CB6FA5}\\InprocServer32";

std::string ToolFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace

std::string Utf8(BSTR text) {
    return orvex::com::ToUtf8(orvex::com::View(text));
}

CComBSTR Bstr(const std::string& utf8) {
    const std::u16string wide = orvex::com::ToUtf16(utf8);
    return CComBSTR(std::u16string_view(wide));
}

std::string HexCode(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string RegistryFolder() {
    if (const char* dir = std::getenv("ORVEX_REGISTRY_DIR"); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/orvex";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config/orvex";
    return "~/.config/orvex";
}

bool EnsureDeckLinkDriver(std::string* note) {
    using orvex::platform::RegistryKey;
    using orvex::platform::RegRoot;
    {
        RegistryKey key;
        std::u16string path;
        if (key.Open(RegRoot::kClassesRoot, kDeckLinkDriverKey) == ERROR_SUCCESS &&
            key.QueryString(u"", &path) == ERROR_SUCCESS && !path.empty())
            return true;  // a driver (real or virtual) is registered: use it
    }
    const std::string found = DeckLinkDriver();
    if (found.rfind("no driver", 0) != 0) return true;  // the vendor's Linux library
    const std::string folder = ToolFolder();
    std::string library;
    for (const char* rel : {"/../lib/", "/../" ORVEX_TOOLS_LIBDIR "/"}) {
        const std::string candidate = folder + rel + "libOXDeckLinkSim.so";
        if (std::filesystem::exists(candidate)) {
            library = std::filesystem::weakly_canonical(candidate).string();
            break;
        }
    }
    if (library.empty()) {
        *note =
            "no DeckLink driver is registered and the virtual card library is not next to "
            "this program";
        return false;
    }
    orvex::platform::DynamicLibrary lib;
    if (!lib.Open(library)) {
        *note = "cannot load " + library + ": " + lib.Error();
        return false;
    }
    auto reg = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(lib.Symbol("DllRegisterServer"));
    const HRESULT hr = reg ? reg() : E_FAIL;
    if (FAILED(hr)) {
        *note = "registering " + library + " failed: " + HexCode(hr);
        return false;
    }
    // The renderer loads the same library as the driver next; keeping it loaded keeps its
    // settings cache reachable instead of unmapping it under its own allocations.
    lib.Leak();
    *note = "No DeckLink driver was found (" + found +
            "):\n  registered the virtual DeckLink card " + library + "\n  in " + RegistryFolder() +
            " (undo with: orvex-regsvr -u " + library + ")";
    return true;
}

std::string DeckLinkDriver() {
    std::string error;
    CComPtr<IOXDevice> device = MakeRenderer(CLSID_OXRendererBMD, &error);
    CComQIPtr<IOXProps> props(device);
    if (!props) return error;
    return GetProp(props, "stat::bmd.driver").value_or("unknown");
}

CComPtr<IOXDevice> MakeRenderer(REFCLSID clsid, std::string* error) {
    CComPtr<IOXDevice> device;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOXDevice,
                                        reinterpret_cast<void**>(&device));
    if (FAILED(hr)) {
        *error = "cannot create the renderer: " + HexCode(hr);
        return nullptr;
    }
    return device;
}

std::vector<DeviceEntry> ListDevices(IOXDevice* device) {
    std::vector<DeviceEntry> out;
    int count = 0;
    if (FAILED(device->DeviceGetCount(eOXDT_Video, &count))) return out;
    for (int i = 0; i < count; ++i) {
        CComBSTR name;
        BOOL busy = FALSE;
        if (FAILED(device->DeviceGetByIndex(eOXDT_Video, i, &name, &busy))) continue;
        out.push_back({Utf8(name), busy != FALSE, false});
    }
    int chosen = -1;
    CComBSTR chosen_name;
    if (SUCCEEDED(device->DeviceGet(eOXDT_Video, &chosen, &chosen_name)) && chosen >= 0 &&
        chosen < static_cast<int>(out.size()))
        out[static_cast<std::size_t>(chosen)].chosen = true;
    return out;
}

std::string DeviceMark(const DeviceEntry& entry) {
    return entry.chosen ? " (chosen)" : entry.busy ? " (busy)" : "";
}

int FindDevice(const std::vector<DeviceEntry>& devices, const std::string& wanted) {
    if (!wanted.empty() && wanted.find_first_not_of("0123456789") == std::string::npos &&
        wanted.size() < 6) {
        const int index = std::atoi(wanted.c_str());
        return index < static_cast<int>(devices.size()) ? index : -1;
    }
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (lower(devices[i].name) == lower(wanted)) return static_cast<int>(i);
    return -1;
}

std::optional<std::string> GetProp(IOXProps* props, const std::string& name) {
    CComBSTR value;
    if (!props || props->PropsGet(Bstr(name), &value) != S_OK) return std::nullopt;
    return Utf8(value);
}

std::string SettingRefusal(IOXProps* props, const std::string& name, const std::string& value) {
    const CComBSTR bs_name = Bstr(name);
    auto info = [&](eMInfoType type) {
        CComBSTR text;
        return props->PropsInfoGet(bs_name, type, &text) == S_OK
                   ? std::u16string(orvex::com::View(text))
                   : std::u16string();
    };
    orvex::props::ValueRule rule;
    rule.type = info(eMIT_Type);
    if (rule.type.empty() && !GetProp(props, name)) return "unknown property '" + name + "'";
    rule.min = info(eMIT_Min);
    rule.max = info(eMIT_Max);
    int options = 0;
    if (props->PropsOptionGetCount(bs_name, &options) == S_OK) {
        for (int i = 0; i < options; ++i) {
            CComBSTR option;
            if (SUCCEEDED(props->PropsOptionGetByIndex(bs_name, i, &option, nullptr)))
                rule.options.emplace_back(orvex::com::View(option));
        }
    }
    const std::string why = orvex::props::ValueRefusal(rule, orvex::com::ToUtf16(value));
    return why.empty() ? why : "cannot set '" + name + "' to '" + value + "': " + why;
}

std::string RigError() {
    // Where each virtual device is registered as the driver, and its entry that reports the
    // rig's error.
    const struct {
        std::u16string key;
        const char* entry;
    } kDevices[] = {{kDeckLinkDriverKey, OX_SIM_CARD_COUNT},
                    {OX_NTV2_DRIVER_KEY, OX_SIM_AJA_BOARD_COUNT}};
    for (const auto& d : kDevices) {
        orvex::platform::RegistryKey key;
        std::u16string path;
        if (key.Open(orvex::platform::RegRoot::kClassesRoot, d.key) != ERROR_SUCCESS ||
            key.QueryString(u"", &path) != ERROR_SUCCESS || path.empty())
            continue;
        // The renderer loaded the same library; opening it again finds that one.
        orvex::platform::DynamicLibrary lib;
        if (!lib.Open(orvex::com::ToUtf8(path))) continue;
        using CountFn = std::int32_t (*)(char*, std::int32_t);
        const auto count = reinterpret_cast<CountFn>(lib.Symbol(d.entry));
        if (!count) continue;  // a real driver
        char error[1024] = {};
        count(error, sizeof error);
        lib.Leak();  // the renderer's driver stays loaded, as the renderer keeps it
        if (error[0]) return error;
    }
    return {};
}

}  // namespace oxtools
