// A library that poses as the vendor's Linux driver, written straight against the Linux
// layout, for the loader's cases. Built three times: FAKE_NEWEST_ENTRY (2, 3 or 4) is the
// newest CreateDeckLinkIteratorInstance_000N it exports. FAKE_DECKLINK_MODE, read on each
// call, chooses what the entry point gives: an iterator over one card named
// "Fäke <entry>" (unset), no iterator ("null"), an iterator whose Next fails ("failing"),
// one device that answers no interface but IUnknown ("stranger"), or such devices without
// end ("endless").
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decklink/api/decklink_api_linux.h"

namespace {

namespace lx = linux_layout;

bool Is(const lx::IidBytes& iid, const GUID& wanted) {
    const lx::IidBytes w = lx::ToIidBytes(wanted);
    return std::memcmp(iid.bytes, w.bytes, sizeof w.bytes) == 0;
}

// Not ASCII: the name crosses as UTF-8.
const std::string kModel = "F\u00e4ke ";

std::string Mode() {
    const char* mode = std::getenv("FAKE_DECKLINK_MODE");
    return mode ? mode : "";
}

class Card final : public lx::IDeckLink, public lx::IDeckLinkAttributes {
public:
    explicit Card(const char* entry, bool stranger) : entry_(entry), stranger_(stranger) {}
    HRESULT QueryInterface(lx::IidBytes iid, void** out) override {
        *out = nullptr;
        if (Is(iid, IID_IUnknown) || (!stranger_ && Is(iid, IID_IDeckLink)))
            *out = static_cast<lx::IDeckLink*>(this);
        else if (!stranger_ && Is(iid, IID_IDeckLinkAttributes))
            *out = static_cast<lx::IDeckLinkAttributes*>(this);
        else
            return lx::kNoInterface;
        AddRef();
        return S_OK;
    }
    unsigned long AddRef() override { return ++refs_; }
    unsigned long Release() override {
        const unsigned long left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetModelName(const char** name) override {
        *name = strdup((kModel + std::string(entry_ + std::strlen(entry_) - 4)).c_str());
        return S_OK;
    }
    HRESULT GetDisplayName(const char** name) override { return GetModelName(name); }
    HRESULT GetFlag(BMDDeckLinkAttributeID, bool*) override { return lx::kNotImplemented; }
    HRESULT GetInt(BMDDeckLinkAttributeID id, std::int64_t* value) override {
        *value = id == BMDDeckLinkVideoOutputConnections ? bmdVideoConnectionSDI : 0;
        return S_OK;
    }
    HRESULT GetFloat(BMDDeckLinkAttributeID, double*) override { return lx::kNotImplemented; }
    HRESULT GetString(BMDDeckLinkAttributeID, const char**) override { return lx::kNotImplemented; }

private:
    const char* entry_;
    const bool stranger_;
    std::atomic<unsigned long> refs_{1};
};

class Iterator final : public lx::IDeckLinkIterator {
public:
    explicit Iterator(const char* entry) : entry_(entry), mode_(Mode()) {}
    HRESULT QueryInterface(lx::IidBytes iid, void** out) override {
        *out = nullptr;
        if (!Is(iid, IID_IUnknown) && !Is(iid, IID_IDeckLinkIterator)) return lx::kNoInterface;
        AddRef();
        *out = this;
        return S_OK;
    }
    unsigned long AddRef() override { return ++refs_; }
    unsigned long Release() override {
        const unsigned long left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT Next(lx::IDeckLink** device) override {
        *device = nullptr;
        if (mode_ == "failing") return lx::kFail;
        if (mode_ == "endless") {
            *device = new Card(entry_, true);
            return S_OK;
        }
        if (listed_) return S_FALSE;
        listed_ = true;
        *device = new Card(entry_, mode_ == "stranger");
        return S_OK;
    }

private:
    const char* entry_;
    const std::string mode_;
    bool listed_ = false;
    std::atomic<unsigned long> refs_{1};
};

lx::IDeckLinkIterator* Make(const char* entry) {
    if (Mode() == "null") return nullptr;
    return new Iterator(entry);
}

}  // namespace

#define FAKE_ENTRY(n)                                                \
    extern "C" __attribute__((visibility("default")))                \
    lx::IDeckLinkIterator* CreateDeckLinkIteratorInstance_000##n() { \
        return Make("CreateDeckLinkIteratorInstance_000" #n);        \
    }

FAKE_ENTRY(2)
#if FAKE_NEWEST_ENTRY >= 3
FAKE_ENTRY(3)
#endif
#if FAKE_NEWEST_ENTRY >= 4
FAKE_ENTRY(4)
#endif
