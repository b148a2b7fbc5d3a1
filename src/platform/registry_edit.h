// Changes to a parsed registry file (registry_format.h) as the Linux store makes them: keys
// found and made with their parents, and the values of one key changed through an index of its
// names, so that a batch of n changes to a key of n values costs O(n), not O(n^2).
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/registry_format.h"

namespace orvex::platform::regfile {

// Whether `child` lies below `parent` (key paths, compared without case).
bool IsBelow(std::u16string_view child, std::u16string_view parent);
// Whether the key has a section of its own or below it (a root always exists).
bool KeyExists(const Document& doc, std::u16string_view full);
// ASCII upper case: the form names are compared and looked up in.
std::u16string FoldCase(std::u16string_view s);
// The last section of the key, created with any missing parents when there is none.
Section* EnsureSection(Document& doc, const std::u16string& full);

// The key's values as an importer would see them: over all the key's sections (in `entries`,
// in file order), the last assignment of a name wins and stands where it was made.
template <typename EntryT>
std::vector<EntryT*> LastAssignments(const std::vector<EntryT*>& entries) {
    std::unordered_set<std::u16string> seen;
    std::vector<EntryT*> effective;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (seen.insert(FoldCase((*it)->value.name)).second) effective.push_back(*it);
    }
    std::reverse(effective.begin(), effective.end());
    return effective;
}

// One change of a value, kept as data so that a batch applies with one index of the key.
struct ValueChange {
    enum class Kind { kSet, kSetIf, kDelete };
    Kind kind = Kind::kSet;
    Value value;                 // the name; for the sets the new type and data
    bool expect_absent = false;  // kSetIf: set only while the value does not exist,
    Value expected;              // else only while it has this type and data
};

// Applies changes to the values of key `full` of `doc`.
class KeyEditor {
public:
    KeyEditor(Document& doc, std::u16string full);
    // ERROR_KEY_DELETED when the key is gone, ERROR_FILE_NOT_FOUND for the deletion of a value
    // that is not there, else ERROR_SUCCESS (also for a kSetIf left alone because the value
    // is no longer what it expects). *changed is set when the text changed.
    LONG Apply(const ValueChange& change, bool* changed);

private:
    struct Position {
        std::size_t section = 0;
        std::size_t entry = 0;
    };
    void Index();
    Entry* Effective(std::u16string_view name);
    LONG Set(const Value& value, bool* changed);
    LONG Delete(std::u16string_view name, bool* changed);

    Document& doc_;
    std::u16string full_;
    bool exists_ = false;
    bool indexed_ = false;
    std::unordered_map<std::u16string, Position> effective_;  // by folded name
    std::size_t last_section_ = 0;  // of the key; doc_.sections.size() when it has none
};

}  // namespace orvex::platform::regfile
