// The system registry. HKEY_CURRENT_USER and HKEY_CLASSES_ROOT are the real roots, unless
// ORVEX_REGISTRY_KEY names a key below HKEY_CURRENT_USER (for instance "Software\Orvex
// Tests\1234"): then both roots are its subkeys "HKCU" and "HKCR", so that a test process
// keeps its settings and registrations to itself.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>

#include "platform/registry.h"
#include "platform/win/win_text.h"

namespace orvex::platform {
namespace {

// The root handle, opened (and created under the override key) per call; *owned tells
// whether the caller closes it.
LONG OpenBase(RegRoot root, HKEY* base, bool* owned) {
    *owned = false;
    const wchar_t* overridden = ::_wgetenv(L"ORVEX_REGISTRY_KEY");
    if (overridden == nullptr || overridden[0] == L'\0') {
        *base = root == RegRoot::kCurrentUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
        return ERROR_SUCCESS;
    }
    std::wstring path = overridden;
    path += root == RegRoot::kCurrentUser ? L"\\HKCU" : L"\\HKCR";
    const LONG r = ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, base, nullptr);
    if (r == ERROR_SUCCESS) *owned = true;
    return r;
}

struct Base {
    HKEY key = nullptr;
    bool owned = false;
    LONG result = ERROR_SUCCESS;
    explicit Base(RegRoot root) { result = OpenBase(root, &key, &owned); }
    ~Base() {
        if (owned) ::RegCloseKey(key);
    }
};

std::wstring Path(std::u16string_view path) {
    std::wstring w = win::Wide(path);
    // Leading and doubled separators mean nothing to the callers; the system refuses them.
    std::wstring out;
    for (wchar_t c : w) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    const std::wstring wa = win::Wide(a), wb = win::Wide(b);
    return ::CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                                  static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

struct PendingValue {
    std::u16string name;
    bool deleted = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    bool conditional = false;  // SetValueIf: written only while the value is `expected`
    std::optional<RegistryValue> expected;
};

}  // namespace

struct RegistryKey::State {
    HKEY key = nullptr;
    bool batching = false;
    std::vector<PendingValue> pending;  // in the order they were made

    ~State() {
        if (key) ::RegCloseKey(key);
    }

    const PendingValue* Pending(std::u16string_view name) const {
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            if (SameName(it->name, name)) return &*it;
        return nullptr;
    }

    LONG ReadValue(std::u16string_view name, DWORD* type, std::vector<BYTE>* data) const {
        const std::wstring wname = win::Wide(name);
        for (;;) {
            DWORD t = 0, size = 0;
            LONG r = ::RegQueryValueExW(key, wname.c_str(), nullptr, &t, nullptr, &size);
            if (r != ERROR_SUCCESS) return r;
            std::vector<BYTE> buf(size);
            r = ::RegQueryValueExW(key, wname.c_str(), nullptr, &t, buf.data(), &size);
            if (r == ERROR_MORE_DATA) continue;  // changed in between
            if (r != ERROR_SUCCESS) return r;
            buf.resize(size);
            if (type) *type = t;
            if (data) *data = std::move(buf);
            return ERROR_SUCCESS;
        }
    }

    LONG Set(std::u16string_view name, const RegistryValue* expected, bool conditional, DWORD type,
             const void* data, std::size_t size) {
        if ((data == nullptr && size != 0) || size > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
        try {
            PendingValue v;
            v.name = std::u16string(name);
            v.type = type;
            const BYTE* bytes = static_cast<const BYTE*>(data);
            v.data.assign(bytes, bytes + size);
            v.conditional = conditional;
            if (expected) v.expected = *expected;
            if (batching) {
                pending.push_back(std::move(v));
                return ERROR_SUCCESS;
            }
            return Write(v);
        } catch (const std::bad_alloc&) {
            return ERROR_OUTOFMEMORY;
        }
    }

    LONG EnumStored(DWORD index, std::u16string* name, DWORD* type, std::vector<BYTE>* data) const {
        for (;;) {
            DWORD name_max = 0, data_max = 0;
            LONG r = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, &name_max, &data_max, nullptr, nullptr);
            if (r != ERROR_SUCCESS) return r;
            std::wstring wname(name_max + 1, L'\0');
            std::vector<BYTE> buf(data_max);
            DWORD name_len = name_max + 1, size = data_max, t = 0;
            r = ::RegEnumValueW(key, index, wname.data(), &name_len, nullptr, &t, buf.data(),
                                &size);
            if (r == ERROR_MORE_DATA) continue;
            if (r != ERROR_SUCCESS) return r;
            wname.resize(name_len);
            buf.resize(size);
            if (name) *name = win::Utf16(wname);
            if (type) *type = t;
            if (data) *data = std::move(buf);
            return ERROR_SUCCESS;
        }
    }

    LONG Write(const PendingValue& v) const {
        const std::wstring wname = win::Wide(v.name);
        if (v.deleted) return ::RegDeleteValueW(key, wname.c_str());
        if (v.conditional) {
            // The system has no compare-and-set: the value is compared just before it is set.
            RegistryValue now;
            const LONG r = ReadValue(v.name, &now.type, &now.data);
            if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return r;
            const bool as_expected = v.expected
                                         ? r == ERROR_SUCCESS && now.type == v.expected->type &&
                                               now.data == v.expected->data
                                         : r == ERROR_FILE_NOT_FOUND;
            if (!as_expected) return ERROR_SUCCESS;  // another writer's value stands
        }
        // The system adds a terminating zero to string data that lacks one when the character
        // after the data happens to be zero; a non-zero guard there keeps the bytes as given.
        std::vector<BYTE> guarded(v.data);
        guarded.push_back(0xFF);
        guarded.push_back(0xFF);
        return ::RegSetValueExW(key, wname.c_str(), 0, v.type, guarded.data(),
                                static_cast<DWORD>(v.data.size()));
    }
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

LONG RegistryKey::Open(RegRoot root, std::u16string_view path, bool write) {
    Close();
    Base base(root);
    if (base.result != ERROR_SUCCESS) return base.result;
    HKEY key = nullptr;
    const REGSAM access = KEY_READ | (write ? KEY_WRITE | DELETE : 0);
    const LONG r = ::RegOpenKeyExW(base.key, Path(path).c_str(), 0, access, &key);
    if (r != ERROR_SUCCESS) return r;
    state_ = std::make_unique<State>();
    state_->key = key;
    return ERROR_SUCCESS;
}

LONG RegistryKey::Create(RegRoot root, std::u16string_view path) {
    Close();
    Base base(root);
    if (base.result != ERROR_SUCCESS) return base.result;
    HKEY key = nullptr;
    const LONG r = ::RegCreateKeyExW(base.key, Path(path).c_str(), 0, nullptr, 0,
                                     KEY_READ | KEY_WRITE | DELETE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) return r;
    state_ = std::make_unique<State>();
    state_->key = key;
    return ERROR_SUCCESS;
}

void RegistryKey::Close() {
    state_.reset();
}

bool RegistryKey::IsOpen() const {
    return state_ != nullptr;
}

LONG RegistryKey::EnumValue(DWORD index, std::u16string* name, DWORD* type,
                            std::vector<BYTE>* data) const {
    if (!state_) return ERROR_INVALID_HANDLE;
    if (state_->pending.empty()) return state_->EnumStored(index, name, type, data);
    // Held changes: the stored values as changed, then the new ones in the order made.
    std::vector<PendingValue> merged;
    for (DWORD i = 0;; ++i) {
        PendingValue v;
        const LONG r = state_->EnumStored(i, &v.name, &v.type, &v.data);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS) return r;
        merged.push_back(std::move(v));
    }
    for (const PendingValue& p : state_->pending) {
        auto it = std::find_if(merged.begin(), merged.end(),
                               [&](const PendingValue& m) { return SameName(m.name, p.name); });
        if (p.deleted) {
            if (it != merged.end()) merged.erase(it);
        } else if (it != merged.end()) {
            it->type = p.type;
            it->data = p.data;
        } else {
            merged.push_back(p);
        }
    }
    if (index >= merged.size()) return ERROR_NO_MORE_ITEMS;
    if (name) *name = merged[index].name;
    if (type) *type = merged[index].type;
    if (data) *data = merged[index].data;
    return ERROR_SUCCESS;
}

LONG RegistryKey::QueryValue(std::u16string_view name, DWORD* type, std::vector<BYTE>* data) const {
    if (!state_) return ERROR_INVALID_HANDLE;
    if (const PendingValue* p = state_->Pending(name)) {
        if (p->deleted) return ERROR_FILE_NOT_FOUND;
        if (type) *type = p->type;
        if (data) *data = p->data;
        return ERROR_SUCCESS;
    }
    return state_->ReadValue(name, type, data);
}

LONG RegistryKey::SetValue(std::u16string_view name, DWORD type, const void* data,
                           std::size_t size) {
    return state_ ? state_->Set(name, nullptr, false, type, data, size) : ERROR_INVALID_HANDLE;
}

LONG RegistryKey::SetValueIf(std::u16string_view name, const RegistryValue* expected, DWORD type,
                             const void* data, std::size_t size) {
    return state_ ? state_->Set(name, expected, true, type, data, size) : ERROR_INVALID_HANDLE;
}

LONG RegistryKey::DeleteValue(std::u16string_view name) {
    if (!state_) return ERROR_INVALID_HANDLE;
    try {
        PendingValue v;
        v.name = std::u16string(name);
        v.deleted = true;
        if (state_->batching) {
            // Like the call it stands for: deleting what is not there fails.
            if (QueryValue(name, nullptr, nullptr) != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;
            state_->pending.push_back(std::move(v));
            return ERROR_SUCCESS;
        }
        return state_->Write(v);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

void RegistryKey::BeginBatch() {
    if (state_) state_->batching = true;
}

LONG RegistryKey::CommitBatch() {
    if (!state_) return ERROR_INVALID_HANDLE;
    LONG first = ERROR_SUCCESS;
    for (const PendingValue& v : state_->pending) {
        const LONG r = state_->Write(v);
        if (r != ERROR_SUCCESS && first == ERROR_SUCCESS) first = r;
    }
    state_->pending.clear();
    state_->batching = false;
    return first;
}

LONG RegistryKey::EnumKey(DWORD index, std::u16string* name) const {
    if (!state_) return ERROR_INVALID_HANDLE;
    wchar_t buf[256];  // key names are at most 255 characters
    DWORD len = static_cast<DWORD>(std::size(buf));
    const LONG r =
        ::RegEnumKeyExW(state_->key, index, buf, &len, nullptr, nullptr, nullptr, nullptr);
    if (r != ERROR_SUCCESS) return r;
    if (name) *name = win::Utf16(std::wstring_view(buf, len));
    return ERROR_SUCCESS;
}

LONG RegistryKey::DeleteTree(std::u16string_view subkey) {
    if (!state_) return ERROR_INVALID_HANDLE;
    const std::wstring path = Path(subkey);
    return ::RegDeleteTreeW(state_->key, path.empty() ? nullptr : path.c_str());
}

LONG RegistryKey::SetString(std::u16string_view name, std::u16string_view value, DWORD type) {
    if (type != kRegSz && type != kRegExpandSz) return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> data;
    data.reserve((value.size() + 1) * 2);
    for (char16_t c : value) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return SetValue(name, type, data.data(), data.size());
}

LONG RegistryKey::QueryString(std::u16string_view name, std::u16string* value) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (const LONG r = QueryValue(name, &type, &data); r != ERROR_SUCCESS) return r;
    if (type != kRegSz && type != kRegExpandSz) return ERROR_INVALID_DATA;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) break;
        text += c;
    }
    if (value != nullptr) *value = std::move(text);
    return ERROR_SUCCESS;
}

LONG RegistryKey::QueryDword(std::u16string_view name, DWORD* value) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (const LONG r = QueryValue(name, &type, &data); r != ERROR_SUCCESS) return r;
    if (type != kRegDword || data.size() != 4) return ERROR_INVALID_DATA;
    if (value != nullptr) {
        *value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                 (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
    }
    return ERROR_SUCCESS;
}

LONG RegistryDeleteTree(RegRoot root, std::u16string_view path) {
    Base base(root);
    if (base.result != ERROR_SUCCESS) return base.result;
    const std::wstring p = Path(path);
    if (p.empty()) return ERROR_INVALID_PARAMETER;  // never the whole root
    return ::RegDeleteTreeW(base.key, p.c_str());
}

}  // namespace orvex::platform
