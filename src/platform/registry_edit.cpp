#include "platform/registry_edit.h"

#include <utility>

#include "platform/text.h"

namespace orvex::platform::regfile {
namespace {

Section* NewSection(Document& doc, const std::u16string& full) {
    // After the last section of the parent's subtree keeps a key with its relatives.
    std::size_t insert_at = doc.sections.size();
    const std::size_t slash = full.rfind(u'\\');
    if (slash != std::u16string::npos) {
        const std::u16string_view parent = std::u16string_view(full).substr(0, slash);
        for (std::size_t i = 0; i < doc.sections.size(); ++i) {
            if (EqualsNoCase(doc.sections[i].path, parent) ||
                IsBelow(doc.sections[i].path, parent)) {
                insert_at = i + 1;
            }
        }
    }
    Section section;
    section.path = full;
    Entry blank;
    section.entries.push_back(blank);
    return &*doc.sections.insert(doc.sections.begin() + static_cast<std::ptrdiff_t>(insert_at),
                                 std::move(section));
}

// Adds the value before the blank lines that close the section; returns its index.
std::size_t AppendValue(Section& section, Value value) {
    auto pos = section.entries.end();
    while (pos != section.entries.begin() && !(pos - 1)->is_value && (pos - 1)->raw.empty()) {
        --pos;
    }
    Entry entry;
    entry.is_value = true;
    entry.value = std::move(value);
    return static_cast<std::size_t>(section.entries.insert(pos, std::move(entry)) -
                                    section.entries.begin());
}

bool SameData(const Value& a, const Value& b) {
    return a.type == b.type && a.data == b.data;
}

}  // namespace

bool IsBelow(std::u16string_view child, std::u16string_view parent) {
    return child.size() > parent.size() + 1 && child[parent.size()] == u'\\' &&
           EqualsNoCase(child.substr(0, parent.size()), parent);
}

bool KeyExists(const Document& doc, std::u16string_view full) {
    if (full.find(u'\\') == std::u16string_view::npos) return true;  // a root
    return std::any_of(doc.sections.begin(), doc.sections.end(), [&](const Section& s) {
        return EqualsNoCase(s.path, full) || IsBelow(s.path, full);
    });
}

std::u16string FoldCase(std::u16string_view s) {
    std::u16string folded(s);
    for (char16_t& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char16_t>(c - 'a' + 'A');
    }
    return folded;
}

Section* EnsureSection(Document& doc, const std::u16string& full) {
    Section* last = nullptr;
    for (Section& s : doc.sections) {
        if (EqualsNoCase(s.path, full)) last = &s;
    }
    if (last != nullptr) return last;
    // Parents first, as the export format lists them; the root itself gets no section.
    std::size_t pos = full.find(u'\\');
    while (pos != std::u16string::npos) {
        pos = full.find(u'\\', pos + 1);
        const std::u16string step = full.substr(0, pos);
        const bool present =
            std::any_of(doc.sections.begin(), doc.sections.end(),
                        [&](const Section& s) { return EqualsNoCase(s.path, step); });
        if (!present) last = NewSection(doc, step);
    }
    if (last == nullptr) last = NewSection(doc, full);  // values on a root key
    return last;
}

KeyEditor::KeyEditor(Document& doc, std::u16string full)
    : doc_(doc), full_(std::move(full)), exists_(KeyExists(doc_, full_)) {}

void KeyEditor::Index() {
    effective_.clear();
    last_section_ = doc_.sections.size();
    for (std::size_t s = 0; s < doc_.sections.size(); ++s) {
        const Section& section = doc_.sections[s];
        if (!EqualsNoCase(section.path, full_)) continue;
        last_section_ = s;
        for (std::size_t e = 0; e < section.entries.size(); ++e) {
            const Entry& entry = section.entries[e];
            if (entry.is_value) effective_[FoldCase(entry.value.name)] = {s, e};  // last wins
        }
    }
    indexed_ = true;
}

Entry* KeyEditor::Effective(std::u16string_view name) {
    if (!indexed_) Index();
    const auto it = effective_.find(FoldCase(name));
    if (it == effective_.end()) return nullptr;
    return &doc_.sections[it->second.section].entries[it->second.entry];
}

LONG KeyEditor::Set(const Value& value, bool* changed) {
    if (Entry* e = Effective(value.name)) {
        if (SameData(e->value, value)) return ERROR_SUCCESS;
        const std::u16string spelling = e->value.name;  // keeps its written case
        e->value = value;
        e->value.name = spelling;
        e->raw.clear();
        *changed = true;
        return ERROR_SUCCESS;
    }
    if (last_section_ == doc_.sections.size()) {
        EnsureSection(doc_, full_);  // may move sections: indexed again
        Index();
    }
    const std::size_t at = AppendValue(doc_.sections[last_section_], value);
    effective_[FoldCase(value.name)] = {last_section_, at};
    *changed = true;
    return ERROR_SUCCESS;
}

LONG KeyEditor::Delete(std::u16string_view name, bool* changed) {
    bool found = false;
    for (Section& s : doc_.sections) {
        if (!EqualsNoCase(s.path, full_)) continue;
        const auto n = s.entries.size();
        std::erase_if(s.entries, [&](const Entry& e) {
            return e.is_value && EqualsNoCase(e.value.name, name);
        });
        found = found || s.entries.size() != n;
    }
    if (!found) return ERROR_FILE_NOT_FOUND;
    indexed_ = false;  // entries moved
    *changed = true;
    return ERROR_SUCCESS;
}

LONG KeyEditor::Apply(const ValueChange& change, bool* changed) {
    if (!exists_) return ERROR_KEY_DELETED;
    switch (change.kind) {
        case ValueChange::Kind::kDelete:
            return Delete(change.value.name, changed);
        case ValueChange::Kind::kSetIf: {
            const Entry* current = Effective(change.value.name);
            const bool as_expected =
                change.expect_absent
                    ? current == nullptr
                    : current != nullptr && SameData(current->value, change.expected);
            if (!as_expected) return ERROR_SUCCESS;  // another writer's value stands
            return Set(change.value, changed);
        }
        case ValueChange::Kind::kSet:
            break;
    }
    return Set(change.value, changed);
}

}  // namespace orvex::platform::regfile
