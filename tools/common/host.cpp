#include "tools/common/host.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "com/runtime.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"

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

}  // namespace oxtools
