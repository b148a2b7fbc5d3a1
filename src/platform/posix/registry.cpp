// The registry store on POSIX: key paths, the parsed-file cache with its change detection, and
// the RegistryKey calls over them. It runs past the usual length because the three share the
// private document types of the file parser and its locking rules; split, they would need a
// header of internals that nothing else may use.
#include "platform/registry.h"

#include <pwd.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "platform/posix/file_util.h"
#include "platform/registry_edit.h"
#include "platform/registry_format.h"

namespace orvex::platform {
namespace {

using regfile::Document;
using regfile::Entry;
using regfile::FoldCase;
using regfile::KeyEditor;
using regfile::KeyExists;
using regfile::Section;
using regfile::ValueChange;

std::u16string RootName(RegRoot root) {
    return root == RegRoot::kClassesRoot ? u"HKEY_CLASSES_ROOT" : u"HKEY_CURRENT_USER";
}

std::string RegistryDir() {
    if (const char* dir = std::getenv("ORVEX_REGISTRY_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/orvex";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config/orvex";
    }
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return std::string(found->pw_dir) + "/.config/orvex";
    }
    return "/tmp/orvex-" + std::to_string(::getuid()) + "/config";
}

std::string FilePath(const std::string& dir, RegRoot root) {
    return dir + "/" + ToUtf8(RootName(root)) + ".reg";
}

// Steps joined by single backslashes; empty steps dropped. Control characters cannot stand in
// a section header, so such key names are refused.
bool NormalizePath(std::u16string_view path, std::u16string* out) {
    out->clear();
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string_view step = path.substr(start, end - start);
        if (!step.empty()) {
            for (char16_t c : step) {
                if (c < 0x20 || c == 0x7f) return false;
            }
            if (!out->empty()) *out += u'\\';
            *out += step;
        }
        start = end + 1;
    }
    return true;
}

std::u16string FullPath(RegRoot root, std::u16string_view path) {
    std::u16string full = RootName(root);
    if (!path.empty()) {
        full += u'\\';
        full += path;
    }
    return full;
}

// One version of a file, parsed, with what readers look up in it indexed: the sections by
// their folded paths (sorted, so a key's subtree is one range) and each key's values. Never
// changed once built, so threads share it; only the subkey lists are made on first use.
class Snapshot {
public:
    explicit Snapshot(Document doc) : doc_(std::move(doc)) {
        sorted_.reserve(doc_.sections.size());
        for (std::size_t i = 0; i < doc_.sections.size(); ++i) {
            sorted_.emplace_back(FoldCase(doc_.sections[i].path), i);
        }
        std::sort(sorted_.begin(), sorted_.end());
        for (std::size_t g = 0; g < sorted_.size();) {
            std::vector<const Entry*> all;
            std::size_t end = g;
            for (; end < sorted_.size() && sorted_[end].first == sorted_[g].first; ++end) {
                for (const Entry& entry : doc_.sections[sorted_[end].second].entries) {
                    if (entry.is_value) all.push_back(&entry);
                }
            }
            KeyValues& key = values_[sorted_[g].first];
            key.ordered = regfile::LastAssignments(all);
            for (const Entry* e : key.ordered) key.by_name.emplace(FoldCase(e->value.name), e);
            g = end;
        }
    }

    const Document& doc() const { return doc_; }

    bool KeyExists(std::u16string_view full) const {
        if (full.find(u'\\') == std::u16string_view::npos) return true;  // a root
        const std::u16string folded = FoldCase(full);
        auto it =
            std::lower_bound(sorted_.begin(), sorted_.end(), folded,
                             [](const auto& s, const std::u16string& f) { return s.first < f; });
        if (it != sorted_.end() && it->first == folded) return true;
        return FirstBelow(folded) != sorted_.end();
    }

    const std::vector<const Entry*>& Values(std::u16string_view full) const {
        static const std::vector<const Entry*> kNone;
        const auto it = values_.find(FoldCase(full));
        return it == values_.end() ? kNone : it->second.ordered;
    }

    const Entry* FindValue(std::u16string_view full, std::u16string_view name) const {
        const auto key = values_.find(FoldCase(full));
        if (key == values_.end()) return nullptr;
        const auto it = key->second.by_name.find(FoldCase(name));
        return it == key->second.by_name.end() ? nullptr : it->second;
    }

    // The key's direct subkeys in the order they first appear in the file, with their written
    // spelling; ERROR_NO_MORE_ITEMS past the end.
    LONG Subkey(std::u16string_view full, std::size_t index, std::u16string* name) const {
        const std::u16string folded = FoldCase(full);
        std::lock_guard lock(subkeys_mutex_);
        auto found = subkeys_.find(folded);
        if (found == subkeys_.end()) found = subkeys_.emplace(folded, ListSubkeys(folded)).first;
        const std::vector<std::u16string>& list = found->second;
        if (index >= list.size()) return ERROR_NO_MORE_ITEMS;
        if (name != nullptr) *name = list[index];
        return ERROR_SUCCESS;
    }

private:
    using Sorted = std::vector<std::pair<std::u16string, std::size_t>>;

    struct KeyValues {
        std::vector<const Entry*> ordered;
        std::unordered_map<std::u16string, const Entry*> by_name;  // by folded name
    };

    // The first section below the folded key path, or end(): all of them follow in a run.
    Sorted::const_iterator FirstBelow(const std::u16string& folded) const {
        const std::u16string prefix = folded + u'\\';
        // Past the prefix itself: a path ending in a backslash names no subkey.
        auto it =
            std::upper_bound(sorted_.begin(), sorted_.end(), prefix,
                             [](const std::u16string& p, const auto& s) { return p < s.first; });
        if (it != sorted_.end() && it->first.starts_with(prefix)) return it;
        return sorted_.end();
    }

    std::vector<std::u16string> ListSubkeys(const std::u16string& folded) const {
        // Folding keeps lengths, so a step stands at the same place in the written path.
        std::unordered_map<std::u16string_view, std::size_t> first;  // folded step -> section
        for (auto it = FirstBelow(folded);
             it != sorted_.end() && it->first.size() > folded.size() + 1 &&
             it->first.compare(0, folded.size() + 1, folded + u'\\') == 0;
             ++it) {
            std::u16string_view rest = std::u16string_view(it->first).substr(folded.size() + 1);
            rest = rest.substr(0, rest.find(u'\\'));
            if (rest.empty()) continue;
            auto [pos, added] = first.emplace(rest, it->second);
            if (!added) pos->second = std::min(pos->second, it->second);
        }
        std::vector<std::pair<std::size_t, std::size_t>> order;  // section, step length
        order.reserve(first.size());
        for (const auto& [step, section] : first) order.emplace_back(section, step.size());
        std::sort(order.begin(), order.end());
        std::vector<std::u16string> names;
        names.reserve(order.size());
        for (const auto& [section, length] : order) {
            names.push_back(doc_.sections[section].path.substr(folded.size() + 1, length));
        }
        return names;
    }

    Document doc_;
    Sorted sorted_;                                         // folded path, section index
    std::unordered_map<std::u16string, KeyValues> values_;  // by folded key path
    mutable std::mutex subkeys_mutex_;                      // a leaf: nothing is taken under it
    mutable std::unordered_map<std::u16string, std::vector<std::u16string>> subkeys_;
};

using SnapshotPtr = std::shared_ptr<const Snapshot>;

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// What tells one version of a file from another without reading it. The cache holds the file
// it read open, so while it is cached its device and inode number name it and no other: every
// writer here replaces the file with a new one, which therefore always differs. A program
// that rewrites the file in place changes its size or its change time (which the kernel sets
// on every write and nobody can set back), unless the write falls within the timestamp tick
// in which the file was read; a file changed that close to the read is not cached.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtime = 0;
    std::int64_t ctime = 0;

    FileStamp() = default;
    explicit FileStamp(const struct stat& st)
        : dev(st.st_dev),
          ino(st.st_ino),
          size(st.st_size),
          mtime(Nanoseconds(st.st_mtim)),
          ctime(Nanoseconds(st.st_ctim)) {}
    bool operator==(const FileStamp&) const = default;

    // Whether a change after `read_start` (on the coarse real-time clock that stamps files)
    // could leave the stamp as it is. File systems that keep whole seconds (or two) get a
    // margin to match; others keep at least hundredths.
    bool MayHideChangesAfter(const timespec& read_start) const {
        const bool whole_seconds = mtime % 1'000'000'000 == 0 && ctime % 1'000'000'000 == 0;
        const std::int64_t margin = whole_seconds ? 2'000'000'000 : 20'000'000;
        return std::max(mtime, ctime) + margin > Nanoseconds(read_start);
    }
};

const SnapshotPtr& EmptySnapshot() {
    static const SnapshotPtr empty = std::make_shared<const Snapshot>(Document{});
    return empty;
}

// Reads the whole file, refusing one above the ceiling, even if it grows while being read.
LONG ReadBounded(int fd, std::string* out) {
    out->clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) return ERROR_SUCCESS;
        if (n < 0) {
            if (errno == EINTR) continue;
            return ERROR_ACCESS_DENIED;
        }
        if (out->size() + static_cast<std::size_t>(n) > kRegistryFileMaxBytes) {
            return ERROR_FILE_TOO_LARGE;
        }
        out->append(buf, static_cast<std::size_t>(n));
    }
}

// The parsed file of each root, kept while the file stays as it was read (see FileStamp).
// Its mutex is a leaf, held for lookups and swaps only, never while reading or parsing.
class FileCache {
public:
    // The cache stands in static storage and is never destroyed, so registry calls made during
    // static destruction still find it. What it keeps (parsed files, their open descriptors) is
    // let go when the library that holds it is unloaded or the process ends, and from then on
    // it reads without keeping: a library unloaded by its host leaves nothing behind.
    static FileCache& Instance() {
        alignas(FileCache) static unsigned char storage[sizeof(FileCache)];
        static FileCache* const cache = new (storage) FileCache;
        static const Closer closer{cache};
        return *cache;
    }

    LONG Get(RegRoot root, const std::string& path, SnapshotPtr* out) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return ERROR_ACCESS_DENIED;
            *out = EmptySnapshot();
            return ERROR_SUCCESS;
        }
        Slot& slot = slots_[root == RegRoot::kClassesRoot ? 1 : 0];
        {
            std::lock_guard lock(mutex_);
            if (slot.snapshot && slot.path == path && slot.stamp == FileStamp(st)) {
                *out = slot.snapshot;
                return ERROR_SUCCESS;
            }
        }
        timespec read_start{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &read_start);
        // Not blocking on a pipe put in the file's place; only a regular file is read.
        posix::ScopedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid()) {
            if (errno != ENOENT) return ERROR_ACCESS_DENIED;
            *out = EmptySnapshot();
            return ERROR_SUCCESS;
        }
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
        if (static_cast<std::uint64_t>(st.st_size) > kRegistryFileMaxBytes) {
            return ERROR_FILE_TOO_LARGE;
        }
        std::string bytes;
        if (const LONG r = ReadBounded(fd.get(), &bytes); r != ERROR_SUCCESS) return r;
        if (::fstat(fd.get(), &st) != 0) return ERROR_ACCESS_DENIED;
        const FileStamp stamp(st);
        auto snapshot = std::make_shared<const Snapshot>(regfile::Parse(bytes));
        *out = snapshot;
        if (stamp.MayHideChangesAfter(read_start)) return ERROR_SUCCESS;
        posix::ScopedFd old_pin;  // closed after the lock is released
        std::lock_guard lock(mutex_);
        if (closed_) return ERROR_SUCCESS;
        old_pin = std::move(slot.pin);
        slot.path = path;
        slot.stamp = stamp;
        slot.pin = std::move(fd);
        slot.snapshot = std::move(snapshot);
        return ERROR_SUCCESS;
    }

private:
    struct Slot {
        std::string path;
        FileStamp stamp;
        posix::ScopedFd pin;  // keeps the inode, so its number is not given to a new file
        SnapshotPtr snapshot;
    };
    struct Closer {
        FileCache* cache;
        ~Closer() { cache->Close(); }
    };

    void Close() {
        Slot gone[2];  // freed after the lock is released
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (int i = 0; i < 2; ++i) std::swap(gone[i], slots_[i]);
    }

    std::mutex mutex_;
    Slot slots_[2];  // HKEY_CURRENT_USER, HKEY_CLASSES_ROOT
    bool closed_ = false;
};

// Lock, re-read, change, write a new file and rename it over the old one: concurrent writers
// (threads or processes) serialise on the lock and readers see the old or the new file whole.
template <typename Change>
LONG Mutate(RegRoot root, Change change) {
    const std::string dir = RegistryDir();
    if (!posix::MakeDirs(dir, 0700)) return ERROR_ACCESS_DENIED;
    const std::string path = FilePath(dir, root);
    posix::ScopedFd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid()) return ERROR_ACCESS_DENIED;
    if (posix::Flock(lock.get(), LOCK_EX) != 0) return ERROR_LOCK_FAILED;

    SnapshotPtr current;
    if (const LONG r = FileCache::Instance().Get(root, path, &current); r != ERROR_SUCCESS) {
        return r;  // a refused file stays as it is
    }
    Document doc = current->doc();
    current.reset();
    bool changed = false;
    if (const LONG r = change(doc, changed); r != ERROR_SUCCESS || !changed) return r;
    if (doc.preamble.empty()) doc.preamble.emplace_back();  // a blank line after the signature
    const std::string text = regfile::Serialize(doc);
    if (text.size() > kRegistryFileMaxBytes) return ERROR_FILE_TOO_LARGE;

    mode_t mode = 0600;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    const std::string temp = path + ".tmp";
    posix::ScopedFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out.valid()) return ERROR_CANTWRITE;
    ::fchmod(out.get(), mode);
    if (!posix::WriteWhole(out.get(), text) || ::fsync(out.get()) != 0) {
        out.Reset();
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    out.Reset();
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    posix::ScopedFd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.valid()) ::fsync(dir_fd.get());
    return ERROR_SUCCESS;
}

// Bad input or a full memory never escapes as an exception.
template <typename F>
LONG Guarded(F f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG DeleteTreeAt(RegRoot root, const std::u16string& full, bool keep_key) {
    return Mutate(root, [&](Document& doc, bool& changed) -> LONG {
        if (!KeyExists(doc, full)) return keep_key ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
        auto& sections = doc.sections;
        const auto before = sections.size();
        sections.erase(std::remove_if(sections.begin(), sections.end(),
                                      [&](const Section& s) {
                                          return regfile::IsBelow(s.path, full) ||
                                                 (!keep_key && EqualsNoCase(s.path, full));
                                      }),
                       sections.end());
        changed = sections.size() != before;
        if (keep_key) {
            for (Section& s : sections) {
                if (!EqualsNoCase(s.path, full)) continue;
                const auto n = s.entries.size();
                std::erase_if(s.entries, [](const Entry& e) { return e.is_value; });
                changed = changed || s.entries.size() != n;
            }
        }
        return ERROR_SUCCESS;
    });
}

std::vector<BYTE> StringData(std::u16string_view value) {
    std::vector<BYTE> data;
    data.reserve(value.size() * 2 + 2);
    for (char16_t c : value) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

regfile::Value NewValue(std::u16string_view name, DWORD type, const void* data, std::size_t size) {
    regfile::Value value;
    value.name = std::u16string(name);
    value.type = type;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    value.data.assign(bytes, bytes + size);
    return value;
}

// The file of the root as it stands now.
LONG Current(RegRoot root, SnapshotPtr* out) {
    return FileCache::Instance().Get(root, FilePath(RegistryDir(), root), out);
}

// Applies `changes` to the key in `doc` in order; the first failure is returned, the rest
// still applied, as a batch of separate calls would.
LONG ApplyChanges(Document& doc, const std::u16string& full,
                  const std::vector<ValueChange>& changes, bool* changed) {
    KeyEditor editor(doc, full);
    LONG first_error = ERROR_SUCCESS;
    for (const ValueChange& change : changes) {
        const LONG r = editor.Apply(change, changed);
        if (r != ERROR_SUCCESS && first_error == ERROR_SUCCESS) first_error = r;
    }
    return first_error;
}

}  // namespace

struct RegistryKey::State {
    RegRoot root = RegRoot::kCurrentUser;
    std::u16string full;  // with the root's name
    bool batching = false;
    std::vector<ValueChange> pending;  // value changes held back until CommitBatch
    std::uint64_t pending_gen = 0;     // counts changes to `pending`

    // The file with the pending changes on top, kept while neither changes.
    std::mutex view_mutex;
    SnapshotPtr view_base;
    std::uint64_t view_gen = 0;
    SnapshotPtr view;

    // The file as it stands, with this key's pending changes on top.
    LONG Read(SnapshotPtr* out) {
        SnapshotPtr base;
        if (const LONG r = Current(root, &base); r != ERROR_SUCCESS) return r;
        if (pending.empty()) {
            *out = std::move(base);
            return ERROR_SUCCESS;
        }
        std::lock_guard lock(view_mutex);
        if (view == nullptr || view_base != base || view_gen != pending_gen) {
            Document doc = base->doc();
            bool changed = false;
            ApplyChanges(doc, full, pending, &changed);
            view = std::make_shared<const Snapshot>(std::move(doc));
            view_base = std::move(base);
            view_gen = pending_gen;
        }
        *out = view;
        return ERROR_SUCCESS;
    }
    LONG Apply(ValueChange change) {
        if (batching) {
            pending.push_back(std::move(change));
            ++pending_gen;
            return ERROR_SUCCESS;
        }
        return Mutate(root, [&](Document& doc, bool& changed) {
            return KeyEditor(doc, full).Apply(change, &changed);
        });
    }
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

LONG RegistryKey::Open(RegRoot root, std::u16string_view path, bool /*write*/) {
    return Guarded([&]() -> LONG {
        std::u16string normal;
        if (!NormalizePath(path, &normal)) return ERROR_FILE_NOT_FOUND;
        const std::u16string full = FullPath(root, normal);
        SnapshotPtr file;
        if (const LONG r = Current(root, &file); r != ERROR_SUCCESS) return r;
        if (!file->KeyExists(full)) return ERROR_FILE_NOT_FOUND;
        state_ = std::make_unique<State>();
        state_->root = root;
        state_->full = full;
        return ERROR_SUCCESS;
    });
}

LONG RegistryKey::Create(RegRoot root, std::u16string_view path) {
    return Guarded([&]() -> LONG {
        std::u16string normal;
        if (!NormalizePath(path, &normal)) return ERROR_INVALID_PARAMETER;
        const std::u16string full = FullPath(root, normal);
        if (!normal.empty()) {
            const LONG r = Mutate(root, [&](Document& doc, bool& changed) -> LONG {
                const auto n = doc.sections.size();
                regfile::EnsureSection(doc, full);
                changed = doc.sections.size() != n;
                return ERROR_SUCCESS;
            });
            if (r != ERROR_SUCCESS) return r;
        }
        state_ = std::make_unique<State>();
        state_->root = root;
        state_->full = full;
        return ERROR_SUCCESS;
    });
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
    return Guarded([&]() -> LONG {
        SnapshotPtr file;
        if (const LONG r = state_->Read(&file); r != ERROR_SUCCESS) return r;
        if (!file->KeyExists(state_->full)) return ERROR_KEY_DELETED;
        const std::vector<const Entry*>& values = file->Values(state_->full);
        if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
        const regfile::Value& v = values[index]->value;
        if (name != nullptr) *name = v.name;
        if (type != nullptr) *type = v.type;
        if (data != nullptr) *data = v.data;
        return ERROR_SUCCESS;
    });
}

LONG RegistryKey::QueryValue(std::u16string_view name, DWORD* type, std::vector<BYTE>* data) const {
    if (!state_) return ERROR_INVALID_HANDLE;
    return Guarded([&]() -> LONG {
        SnapshotPtr file;
        if (const LONG r = state_->Read(&file); r != ERROR_SUCCESS) return r;
        if (!file->KeyExists(state_->full)) return ERROR_KEY_DELETED;
        const Entry* e = file->FindValue(state_->full, name);
        if (e == nullptr) return ERROR_FILE_NOT_FOUND;
        if (type != nullptr) *type = e->value.type;
        if (data != nullptr) *data = e->value.data;
        return ERROR_SUCCESS;
    });
}

LONG RegistryKey::SetValue(std::u16string_view name, DWORD type, const void* data,
                           std::size_t size) {
    if (!state_) return ERROR_INVALID_HANDLE;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        ValueChange change;
        change.value = NewValue(name, type, data, size);
        return state_->Apply(std::move(change));
    });
}

LONG RegistryKey::SetValueIf(std::u16string_view name, const RegistryValue* expected, DWORD type,
                             const void* data, std::size_t size) {
    if (!state_) return ERROR_INVALID_HANDLE;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        ValueChange change;
        change.kind = ValueChange::Kind::kSetIf;
        change.value = NewValue(name, type, data, size);
        change.expect_absent = expected == nullptr;
        if (expected != nullptr) {
            change.expected.type = expected->type;
            change.expected.data = expected->data;
        }
        return state_->Apply(std::move(change));
    });
}

LONG RegistryKey::DeleteValue(std::u16string_view name) {
    if (!state_) return ERROR_INVALID_HANDLE;
    return Guarded([&]() -> LONG {
        ValueChange change;
        change.kind = ValueChange::Kind::kDelete;
        change.value.name = std::u16string(name);
        return state_->Apply(std::move(change));
    });
}

void RegistryKey::BeginBatch() {
    if (state_) state_->batching = true;
}

LONG RegistryKey::CommitBatch() {
    if (!state_) return ERROR_INVALID_HANDLE;
    std::vector<ValueChange> pending = std::move(state_->pending);
    state_->pending.clear();
    ++state_->pending_gen;
    state_->batching = false;
    if (pending.empty()) return ERROR_SUCCESS;
    return Guarded([&]() -> LONG {
        LONG first_error = ERROR_SUCCESS;
        const LONG r = Mutate(state_->root, [&](Document& doc, bool& changed) -> LONG {
            first_error = ApplyChanges(doc, state_->full, pending, &changed);
            return ERROR_SUCCESS;
        });
        return r != ERROR_SUCCESS ? r : first_error;
    });
}

LONG RegistryKey::EnumKey(DWORD index, std::u16string* name) const {
    if (!state_) return ERROR_INVALID_HANDLE;
    return Guarded([&]() -> LONG {
        SnapshotPtr file;
        if (const LONG r = state_->Read(&file); r != ERROR_SUCCESS) return r;
        if (!file->KeyExists(state_->full)) return ERROR_KEY_DELETED;
        return file->Subkey(state_->full, index, name);
    });
}

LONG RegistryKey::DeleteTree(std::u16string_view subkey) {
    if (!state_) return ERROR_INVALID_HANDLE;
    return Guarded([&]() -> LONG {
        std::u16string normal;
        if (!NormalizePath(subkey, &normal)) return ERROR_FILE_NOT_FOUND;
        if (normal.empty()) return DeleteTreeAt(state_->root, state_->full, true);
        return DeleteTreeAt(state_->root, state_->full + u"\\" + normal, false);
    });
}

LONG RegistryKey::SetString(std::u16string_view name, std::u16string_view value, DWORD type) {
    if (type != kRegSz && type != kRegExpandSz) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        const std::vector<BYTE> data = StringData(value);
        return SetValue(name, type, data.data(), data.size());
    });
}

LONG RegistryKey::QueryString(std::u16string_view name, std::u16string* value) const {
    return Guarded([&]() -> LONG {
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
    });
}

LONG RegistryKey::QueryDword(std::u16string_view name, DWORD* value) const {
    return Guarded([&]() -> LONG {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (const LONG r = QueryValue(name, &type, &data); r != ERROR_SUCCESS) return r;
        if (type != kRegDword || data.size() != 4) return ERROR_INVALID_DATA;
        if (value != nullptr) {
            *value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                     (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
        }
        return ERROR_SUCCESS;
    });
}

LONG RegistryDeleteTree(RegRoot root, std::u16string_view path) {
    return Guarded([&]() -> LONG {
        std::u16string normal;
        if (!NormalizePath(path, &normal)) return ERROR_FILE_NOT_FOUND;
        if (normal.empty()) return ERROR_ACCESS_DENIED;  // a root cannot be deleted
        return DeleteTreeAt(root, FullPath(root, normal), false);
    });
}

}  // namespace orvex::platform
