// The registry settings shared by the renderer classes: each renderer copies the values of
// one key of the current user into its property tree when it is created, then writes its
// whole tree back, so that every property it knows stands in the key for the user to edit.
#pragma once

#include <string_view>

#include "com/types.h"
#include "orvex/interfaces.h"
#include "platform/registry.h"

namespace orvex::backend {

// The key of all three renderer classes (under HKEY_CURRENT_USER).
inline constexpr std::u16string_view kSettingsKeyPath = u"Software\\Tessaly\\Orvex\\OXRenderer";

// Declares the shared settings' schema in `node` (settings_schema.h), then copies the key's
// values into it: a value name "a.b" sets property "b" of child node "a" when that node
// exists, else property "a.b" itself. REG_DWORD and REG_QWORD load as decimal text, REG_SZ and
// REG_EXPAND_SZ as text; other values, values that are not well formed and values the schema
// refuses are skipped. With `write_back`, saves the tree into the key afterwards, each value
// only while it stands in the key as it was read (or is absent when it was absent), so that
// nothing another process wrote in between is lost, and never over a value that was refused.
// The time is linear in the number of values. Failures are not reported (a missing key loads
// nothing): S_OK unless `node` is null.
HRESULT RegistryLoad(IMNode* node, platform::RegRoot root, std::u16string_view key_path,
                     bool write_back);

// Writes the properties of `node` and its child nodes into the key, child properties under
// "prefix.child.name". Decimal non-negative 32-bit text becomes REG_DWORD, "0x%016X" text
// REG_QWORD, everything else REG_SZ. The node's own text is the key's default value.
HRESULT RegistrySave(IMNode* node, platform::RegRoot root, std::u16string_view key_path,
                     std::u16string_view prefix = {});

// The registry type a property's text is written as (REG_DWORD, REG_QWORD or REG_SZ), with
// the number for the first two.
DWORD RegistryTypeOf(std::u16string_view text, std::uint64_t* number);

}  // namespace orvex::backend
