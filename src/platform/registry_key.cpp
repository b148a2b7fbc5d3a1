// The conveniences of RegistryKey that both systems build on SetValue alike: numbers are
// stored little-endian, as the registry keeps them.
#include "platform/registry.h"

namespace orvex::platform {

LONG RegistryKey::SetDword(std::u16string_view name, DWORD value) {
    BYTE data[4];
    for (int i = 0; i < 4; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
    return SetValue(name, kRegDword, data, sizeof data);
}

LONG RegistryKey::SetQword(std::u16string_view name, std::uint64_t value) {
    BYTE data[8];
    for (int i = 0; i < 8; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
    return SetValue(name, kRegQword, data, sizeof data);
}

}  // namespace orvex::platform
