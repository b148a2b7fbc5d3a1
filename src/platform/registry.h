// The registry: on Windows the system's; on Linux a stand-in that keeps HKEY_CURRENT_USER
// and HKEY_CLASSES_ROOT as text files in the .reg export format ("Windows Registry Editor
// Version 5.00"), one file per root, under $ORVEX_REGISTRY_DIR, else $XDG_CONFIG_HOME/orvex,
// else ~/.config/orvex. Writers take an advisory lock and replace the file atomically, so
// concurrent threads and processes never lose or tear a value. Lines the reader does not
// understand are kept as they stand.
//
// A process parses each file once per version of it, in time linear in its size, and answers
// reads (values and subkeys by index too) from what it parsed. It parses again when the file
// changed: when the path names another file than the one read (writers replace the file;
// the reader holds the file it read open, so its inode number cannot pass to a new file),
// or when its size, modification or change time (to the nanosecond) moved. A file changed
// within a timestamp tick of being read is not kept, so a same-size rewrite in place within
// that tick is still seen.
//
// Files larger than kRegistryFileMaxBytes are refused whole: every call on a key of that
// root fails with ERROR_FILE_TOO_LARGE, and nothing is written over the file. A change that
// would make the file larger than that fails the same way and writes nothing. Only regular
// files are read (anything else in the file's place gives ERROR_ACCESS_DENIED).
//
// Results are Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_NO_MORE_ITEMS,
// ERROR_MORE_DATA, ...). Key paths use "\" between steps and compare case-insensitively.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/com.h"

namespace orvex::platform {

enum class RegRoot { kCurrentUser, kClassesRoot };

// The size ceiling of a registry file: far above what settings need (kilobytes), and a bound
// on the time and memory a process spends reading a runaway or hostile file.
inline constexpr std::uint64_t kRegistryFileMaxBytes = std::uint64_t{16} << 20;

enum RegType : DWORD {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegQword = 11,
};

// A value's type and data, as a caller read it.
struct RegistryValue {
    DWORD type = kRegNone;
    std::vector<BYTE> data;
};

class RegistryKey {
public:
    RegistryKey();
    ~RegistryKey();
    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;

    // Opens an existing key (ERROR_FILE_NOT_FOUND when missing).
    LONG Open(RegRoot root, std::u16string_view path, bool write = false);
    // Opens the key, creating it and any missing parents.
    LONG Create(RegRoot root, std::u16string_view path);
    void Close();
    bool IsOpen() const;

    // Values by index, in the order they stand in the key; ERROR_NO_MORE_ITEMS past the end.
    // The empty name is the key's default value.
    LONG EnumValue(DWORD index, std::u16string* name, DWORD* type, std::vector<BYTE>* data) const;
    LONG QueryValue(std::u16string_view name, DWORD* type, std::vector<BYTE>* data) const;
    // Data in the Windows encodings: REG_SZ/REG_EXPAND_SZ as UTF-16 with a terminating zero,
    // REG_DWORD 4 bytes and REG_QWORD 8 bytes little-endian, REG_BINARY as is.
    LONG SetValue(std::u16string_view name, DWORD type, const void* data, std::size_t size);
    // SetValue for a writer that read the value before: it is set only while it still is
    // `expected` (null: while the key has no such value), decided and written in one step under
    // the store's lock (in a batch, at CommitBatch). A value another writer changed meanwhile
    // is left as it is, and ERROR_SUCCESS returned: the later value wins.
    LONG SetValueIf(std::u16string_view name, const RegistryValue* expected, DWORD type,
                    const void* data, std::size_t size);
    LONG DeleteValue(std::u16string_view name);
    // Holds SetValue/DeleteValue changes back and writes them with one rewrite of the file at
    // CommitBatch (each rewrite is flushed to disk, so one per value is slow). Reads through
    // this key see the held changes; Close or destruction without CommitBatch drops them.
    // CommitBatch returns the first failure of the changes, which are applied in order.
    void BeginBatch();
    LONG CommitBatch();

    // Subkeys by index; ERROR_NO_MORE_ITEMS past the end.
    LONG EnumKey(DWORD index, std::u16string* name) const;
    // Deletes the subkey `subkey` with its whole subtree (ERROR_FILE_NOT_FOUND when missing);
    // an empty `subkey` deletes this key's values and subkeys but keeps the key.
    LONG DeleteTree(std::u16string_view subkey);

    // Conveniences over SetValue/QueryValue.
    LONG SetString(std::u16string_view name, std::u16string_view value, DWORD type = kRegSz);
    LONG SetDword(std::u16string_view name, DWORD value);
    LONG SetQword(std::u16string_view name, std::uint64_t value);
    LONG QueryString(std::u16string_view name, std::u16string* value) const;  // SZ/EXPAND_SZ
    LONG QueryDword(std::u16string_view name, DWORD* value) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Deletes a key and its subtree (ERROR_FILE_NOT_FOUND when missing).
LONG RegistryDeleteTree(RegRoot root, std::u16string_view path);

}  // namespace orvex::platform
