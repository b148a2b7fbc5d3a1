// What the command-line tools share as hosts of the module: text between UTF-8 and BSTR,
// making renderers through the COM runtime, the virtual card's registration, and reading
// properties that may not be there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "com/ptr.h"
#include "orvex/orvex.h"

namespace oxtools {

std::string Utf8(BSTR text);
CComBSTR Bstr(const std::string& utf8);
std::string HexCode(HRESULT hr);  // "0x80070490"

// The folder of the registry files: $ORVEX_REGISTRY_DIR, else $XDG_CONFIG_HOME/orvex, else
// ~/.config/orvex (the rule of the registry store).
std::string RegistryFolder();

// When no DeckLink driver is registered and the vendor's Linux library is not found either,
// registers the virtual card library that came with the tools (next to them: ../lib) and says
// so, and why, in `note`. Returns false with `note` set to the reason when there is no driver
// and the library cannot be registered.
bool EnsureDeckLinkDriver(std::string* note);

// Which DeckLink driver a renderer reaches, or why it reaches none (its "stat::bmd.driver").
std::string DeckLinkDriver();

// A renderer of `clsid` through CoCreateInstance; `error` gets a one-line reason.
CComPtr<IOXDevice> MakeRenderer(REFCLSID clsid, std::string* error);

struct DeviceEntry {
    std::string name;
    bool busy = false;
    bool chosen = false;  // the renderer's own device (which it holds, so it reads busy)
};
// " (chosen)", " (busy)" or nothing.
std::string DeviceMark(const DeviceEntry& entry);
std::vector<DeviceEntry> ListDevices(IOXDevice* device);

// The index of `wanted` (an index or a name, case-insensitive) in `devices`, or -1.
int FindDevice(const std::vector<DeviceEntry>& devices, const std::string& wanted);

// A property's text, or nothing when the renderer has no such property.
std::optional<std::string> GetProp(IOXProps* props, const std::string& name);

// Empty when the renderer takes `value` for its property `name`, else a one-line reason: the
// renderer has no such property (none set, none described), or the value does not fit what
// its schema says (type, bounds, options).
std::string SettingRefusal(IOXProps* props, const std::string& name, const std::string& value);

// Why a virtual device registered as a driver could not read its rig (the first error and
// where it stands), or empty when every registered virtual device read its rig.
std::string RigError();

}  // namespace oxtools
