// The state behind IOXProps: one attribute tree rooted in "m-props", its lock and the
// enumeration scratch list. IMPropsImpl (props_impl.h) takes the lock and calls the
// *Locked operations; the hooks of the renderer classes stay in the template.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"
#include "platform/rw_lock.h"
#include "props/xml_node.h"

namespace orvex::props {

// How PropsSet reads a value written with an empty name.
enum class ValueKind { kText, kAttributeList, kXml };
ValueKind ClassifyValue(std::u16string_view value);

using PropsLock = orvex::platform::CRWSynchroLiteRW;

class PropsStore {
public:
    PropsStore();
    PropsStore(const PropsStore&) = delete;
    PropsStore& operator=(const PropsStore&) = delete;

    XMLParse::CoXMLNode* Root() const { return root_.p; }
    PropsLock& Lock() const { return lock_; }
    // Counts the writes through the property interface, so that a reader of a setting on a
    // hot path reads it again only after one (the write lock is held when it is counted).
    void CountWrite() { writes_.fetch_add(1, std::memory_order_release); }
    std::uint64_t Writes() const { return writes_.load(std::memory_order_acquire); }

    // Write lock held by the caller.
    HRESULT SetLocked(std::u16string_view name, BSTR value);
    HRESULT GetCountLocked(std::u16string_view node, int* count);
    HRESULT GetByIndexLocked(std::u16string_view node, int index, BSTR* name, BSTR* value,
                             BOOL* is_node);
    HRESULT RemoveLocked(std::u16string_view name);
    // Read lock held by the caller.
    HRESULT GetLocked(std::u16string_view name, BSTR* value) const;
    HRESULT InfoGetLocked(std::u16string_view name, int type, BSTR* info) const;
    // The option items of a property, and the help of one of them (empty when none).
    std::vector<std::u16string> OptionsLocked(std::u16string_view name) const;
    std::u16string OptionHelpLocked(std::u16string_view name, std::u16string_view item) const;
    // The attribute at the path; false when it is not set.
    bool AttributeLocked(std::u16string_view name, std::u16string* value) const;

private:
    void RebuildInfoNames(XMLParse::CoXMLNode* node);

    XMLParse::XMLNodePtr root_;
    mutable PropsLock lock_{1024, false};
    std::atomic<std::uint64_t> writes_{0};
    std::vector<std::u16string> info_names_;  // scratch of the enumeration, under the write lock
};

}  // namespace orvex::props
