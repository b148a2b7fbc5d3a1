// The machinery of the layout bridge (layout_bridge.h), for its own sources only.
//
// A bridge class is written once, as a template over its direction D: ToWindows presents
// Linux-layout objects through Windows-layout interfaces, ToLinux the reverse. D names the
// outer types (what the bridge presents) and the inner types (what it wraps) and converts
// between them. A Pair names one interface in both layouts and the bridge class that
// presents it.
//
// Crossing objects: an object handed in the direction opposite to the bridge that made it
// (a frame the driver created, handed back to the driver) is recognised by asking it for
// kBridgeIid and unwrapped; everything else is presented by a new (recycled) bridge. The
// answer to kBridgeIid is the bridge's Marker, without a reference; only this code asks.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "com/object.h"
#include "com/runtime.h"
#include "decklink/api/decklink_api.h"
#include "decklink/api/decklink_api_linux.h"

namespace orvex::decklink_layout {

namespace lx = linux_layout;

template <class D>
class IteratorBridge;
template <class D>
class DeviceBridge;
template <class D>
class FrameBridge;
template <class D>
class AncillaryBridge;
template <class D>
class TimecodeBridge;
template <class D>
class DisplayModeBridge;
template <class D>
class DisplayModeIteratorBridge;
template <class D>
class AllocatorBridge;
template <class D>
class VideoCallbackBridge;
template <class D>
class AudioCallbackBridge;

template <class W, class L, template <class> class B>
struct Pair {
    using Windows = W;
    using Linux = L;
    template <class D>
    using Bridge = B<D>;
    static constexpr const GUID& kIid = IidOf<W>();
};

using IteratorPair = Pair<IDeckLinkIterator, lx::IDeckLinkIterator, IteratorBridge>;
using DevicePair = Pair<IDeckLink, lx::IDeckLink, DeviceBridge>;
using AttributesPair = Pair<IDeckLinkAttributes, lx::IDeckLinkAttributes, DeviceBridge>;
using ConfigurationPair = Pair<IDeckLinkConfiguration, lx::IDeckLinkConfiguration, DeviceBridge>;
using Configuration102Pair =
    Pair<IDeckLinkConfiguration_v10_2, lx::IDeckLinkConfiguration_v10_2, DeviceBridge>;
using KeyerPair = Pair<IDeckLinkKeyer, lx::IDeckLinkKeyer, DeviceBridge>;
using OutputPair = Pair<IDeckLinkOutput, lx::IDeckLinkOutput, DeviceBridge>;
using Output99Pair = Pair<IDeckLinkOutput_v9_9, lx::IDeckLinkOutput_v9_9, DeviceBridge>;
// Slots 3-29 of either output revision (an interface of its own only in the Linux layout).
using OutputCommonPair = Pair<IDeckLinkOutput_v9_9, lx::IDeckLinkOutputCommon, DeviceBridge>;
// Never presented: the bridge passes only null through.
using PreviewPair =
    Pair<IDeckLinkScreenPreviewCallback, lx::IDeckLinkScreenPreviewCallback, DeviceBridge>;
using FramePair = Pair<IDeckLinkVideoFrame, lx::IDeckLinkVideoFrame, FrameBridge>;
using MutableFramePair =
    Pair<IDeckLinkMutableVideoFrame, lx::IDeckLinkMutableVideoFrame, FrameBridge>;
using Frame3DPair =
    Pair<IDeckLinkVideoFrame3DExtensions, lx::IDeckLinkVideoFrame3DExtensions, FrameBridge>;
using AncillaryPair =
    Pair<IDeckLinkVideoFrameAncillary, lx::IDeckLinkVideoFrameAncillary, AncillaryBridge>;
using TimecodePair = Pair<IDeckLinkTimecode, lx::IDeckLinkTimecode, TimecodeBridge>;
using DisplayModePair = Pair<IDeckLinkDisplayMode, lx::IDeckLinkDisplayMode, DisplayModeBridge>;
using DisplayModeIteratorPair =
    Pair<IDeckLinkDisplayModeIterator, lx::IDeckLinkDisplayModeIterator, DisplayModeIteratorBridge>;
using AllocatorPair = Pair<IDeckLinkMemoryAllocator, lx::IDeckLinkMemoryAllocator, AllocatorBridge>;
using VideoCallbackPair =
    Pair<IDeckLinkVideoOutputCallback, lx::IDeckLinkVideoOutputCallback, VideoCallbackBridge>;
using AudioCallbackPair =
    Pair<IDeckLinkAudioOutputCallback, lx::IDeckLinkAudioOutputCallback, AudioCallbackBridge>;

// ---- Text: each side frees the other's strings by its own rule.

// Longer strings are refused, as memory that ran out: a BSTR counts its bytes in 32 bits.
constexpr std::size_t kLongestText = 0x3FFFFFFF;

// `text` (UTF-8 from malloc, may be null) as a BSTR in *out; frees `text`. False when
// memory ran out (*out is then null).
inline bool WindowsText(const char* text, BSTR* out) {
    *out = nullptr;
    if (!text) return true;
    try {
        const std::u16string wide = com::ToUtf16(text);
        if (wide.size() <= kLongestText)
            *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } catch (const std::bad_alloc&) {
    }
    std::free(const_cast<char*>(text));
    return *out != nullptr;
}

// `text` (may be null) as UTF-8 from malloc in *out; frees `text`.
inline bool LinuxText(BSTR text, const char** out) {
    *out = nullptr;
    if (!text) return true;
    try {
        const std::string narrow = com::ToUtf8(com::View(text));
        if (char* copy = static_cast<char*>(std::malloc(narrow.size() + 1))) {
            std::memcpy(copy, narrow.c_str(), narrow.size() + 1);
            *out = copy;
        }
    } catch (const std::bad_alloc&) {
    }
    SysFreeString(text);
    return *out != nullptr;
}

// ---- Directions.

struct ToLinux;

struct ToWindows {
    using Other = ToLinux;
    template <class P>
    using Outer = typename P::Windows;
    template <class P>
    using Inner = typename P::Linux;
    using OuterIid = REFIID;
    using OuterCount = ULONG;
    using OuterBool = BOOL;
    using InnerBool = bool;
    using OuterLong = std::int32_t;
    using OuterText = BSTR;
    using InnerText = const char*;
    static constexpr HRESULT kPointer = E_POINTER;
    static constexpr HRESULT kNoInterface = E_NOINTERFACE;
    static constexpr HRESULT kOutOfMemory = E_OUTOFMEMORY;
    static constexpr HRESULT kNotImplemented = E_NOTIMPL;
    static inline const char kTag = 0;

    static GUID Guid(REFIID iid) { return iid; }
    static HRESULT Result(HRESULT inner) { return lx::ToWindowsResult(inner); }
    template <class O>
    static HRESULT QueryOuter(O* object, const GUID& iid, void** out) {
        return object->QueryInterface(iid, out);
    }
    template <class I>
    static HRESULT QueryInner(I* object, const GUID& iid, void** out) {
        return object->QueryInterface(lx::ToIidBytes(iid), out);
    }
    static OuterBool OuterBoolOf(InnerBool value) { return value ? TRUE : FALSE; }
    static InnerBool InnerBoolOf(OuterBool value) { return value != FALSE; }
    static bool TakeText(InnerText text, OuterText* out) { return WindowsText(text, out); }

    // A string handed in, for the length of one call; a null BSTR is the empty string.
    class InText {
    public:
        explicit InText(BSTR text) {
            try {
                text_ = com::ToUtf8(com::View(text));
            } catch (const std::bad_alloc&) {
                failed_ = true;
            }
        }
        operator const char*() const { return text_.c_str(); }
        bool failed() const { return failed_; }

    private:
        std::string text_;
        bool failed_ = false;
    };
};

struct ToLinux {
    using Other = ToWindows;
    template <class P>
    using Outer = typename P::Linux;
    template <class P>
    using Inner = typename P::Windows;
    using OuterIid = lx::IidBytes;
    using OuterCount = unsigned long;
    using OuterBool = bool;
    using InnerBool = BOOL;
    using OuterLong = long;
    using OuterText = const char*;
    using InnerText = BSTR;
    static constexpr HRESULT kPointer = lx::kPointer;
    static constexpr HRESULT kNoInterface = lx::kNoInterface;
    static constexpr HRESULT kOutOfMemory = lx::kOutOfMemory;
    static constexpr HRESULT kNotImplemented = lx::kNotImplemented;
    static inline const char kTag = 0;

    static GUID Guid(lx::IidBytes iid) { return lx::FromIidBytes(iid); }
    static HRESULT Result(HRESULT inner) { return lx::ToLinuxResult(inner); }
    template <class O>
    static HRESULT QueryOuter(O* object, const GUID& iid, void** out) {
        return object->QueryInterface(lx::ToIidBytes(iid), out);
    }
    template <class I>
    static HRESULT QueryInner(I* object, const GUID& iid, void** out) {
        return object->QueryInterface(iid, out);
    }
    static OuterBool OuterBoolOf(InnerBool value) { return value != FALSE; }
    static InnerBool InnerBoolOf(OuterBool value) { return value ? TRUE : FALSE; }
    static bool TakeText(InnerText text, OuterText* out) { return LinuxText(text, out); }

    // A string handed in, for the length of one call; null is the empty string.
    class InText {
    public:
        explicit InText(const char* text) {
            try {
                const std::u16string wide = com::ToUtf16(text ? text : "");
                if (wide.size() <= kLongestText)
                    text_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
            } catch (const std::bad_alloc&) {
            }
        }
        ~InText() { SysFreeString(text_); }
        InText(const InText&) = delete;
        InText& operator=(const InText&) = delete;
        operator BSTR() const { return text_; }
        bool failed() const { return text_ == nullptr; }

    private:
        BSTR text_ = nullptr;
    };
};

template <class D, class P>
using OuterOf = typename D::template Outer<P>;
template <class D, class P>
using InnerOf = typename D::template Inner<P>;

// ---- Recognising our own bridges.

inline constexpr GUID kBridgeIid = MakeGuid("8D3C5E7A-41B2-4F6D-9E08-2C7A1B5F3D94");
// One per library that contains the bridge: another library's bridges are not ours to open.
inline const char kLibraryTag = 0;

class Marker {
public:
    virtual const void* Library() const = 0;
    // The object behind this bridge as its interface of `pair`, when this bridge presents in
    // `direction`; null otherwise. No reference is added.
    virtual void* Behind(const GUID& pair, const void* direction) = 0;

protected:
    ~Marker() = default;
};

// What `outer` wraps, when it is one of our bridges of direction D for pair P; else null.
template <class D, class P>
InnerOf<D, P>* Behind(OuterOf<D, P>* outer) {
    void* answer = nullptr;
    if (D::QueryOuter(outer, kBridgeIid, &answer) != S_OK || !answer) return nullptr;
    auto* marker = static_cast<Marker*>(answer);
    if (marker->Library() != &kLibraryTag) return nullptr;
    return static_cast<InnerOf<D, P>*>(marker->Behind(P::kIid, &D::kTag));
}

// ---- Recycling: each bridge class keeps up to kKeep spare objects. The store lives as
// long as the process: a bridge may be released while the process exits.

template <class T>
class Pool {
public:
    static constexpr std::size_t kKeep = 64;

    static T* Take() {
        Store& s = TheStore();
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (!s.spare.empty()) {
                T* object = s.spare.back();
                s.spare.pop_back();
                return object;
            }
        }
        return new (std::nothrow) T();
    }
    static void Give(T* object) {
        Store& s = TheStore();
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (s.spare.size() < kKeep) {
                s.spare.push_back(object);
                return;
            }
        }
        delete object;
    }

private:
    struct Store {
        Store() { spare.reserve(kKeep); }
        std::mutex lock;
        std::vector<T*> spare;
    };
    static Store& TheStore() {
        static Store* store = new Store;
        return *store;
    }
};

// Presents `inner` in direction D; takes over its reference.
template <class D, class P>
OuterOf<D, P>* Present(InnerOf<D, P>* inner) {
    if (!inner) return nullptr;
    using B = typename P::template Bridge<D>;
    B* bridge = Pool<B>::Take();
    if (!bridge) {
        inner->Release();
        return nullptr;
    }
    bridge->Start(inner);
    return static_cast<OuterOf<D, P>*>(bridge);
}

// An object the inner side handed out, for the outer side: unwrapped when it is one of our
// bridges going the other way, else presented. Takes over the reference.
template <class D, class P>
OuterOf<D, P>* TakeOut(InnerOf<D, P>* inner) {
    if (!inner) return nullptr;
    if (OuterOf<D, P>* own = Behind<typename D::Other, P>(inner)) {
        own->AddRef();
        inner->Release();
        return own;
    }
    return Present<D, P>(inner);
}

// ---- Arguments. Out-arguments collect the inner side's value and are finished by Done().

// An interface handed in by the outer side, for the length of one call.
template <class D, class P>
class InObject {
public:
    explicit InObject(OuterOf<D, P>* outer) {
        if (!outer) return;
        inner_ = Behind<D, P>(outer);
        if (inner_) return;
        outer->AddRef();
        owned_ = inner_ = Present<typename D::Other, P>(outer);
        failed_ = !inner_;
    }
    ~InObject() {
        if (owned_) owned_->Release();
    }
    InObject(const InObject&) = delete;
    InObject& operator=(const InObject&) = delete;

    operator InnerOf<D, P>*() const { return inner_; }
    bool failed() const { return failed_; }

private:
    InnerOf<D, P>* inner_ = nullptr;
    InnerOf<D, P>* owned_ = nullptr;
    bool failed_ = false;
};

template <class D, class P>
class OutObject {
public:
    explicit OutObject(OuterOf<D, P>** out) : out_(out) {
        if (out_) *out_ = nullptr;
    }
    operator InnerOf<D, P>**() { return out_ ? &inner_ : nullptr; }
    bool Finish(bool succeeded) {
        InnerOf<D, P>* inner = inner_;
        inner_ = nullptr;
        if (!inner) return true;
        if (!succeeded) {
            inner->Release();
            return true;
        }
        *out_ = TakeOut<D, P>(inner);
        return *out_ != nullptr;
    }

private:
    OuterOf<D, P>** out_;
    InnerOf<D, P>* inner_ = nullptr;
};

template <class D>
class OutBool {
public:
    explicit OutBool(typename D::OuterBool* out) : out_(out) {}
    operator typename D::InnerBool *() { return out_ ? &inner_ : nullptr; }
    bool Finish(bool succeeded) {
        if (out_ && succeeded) *out_ = D::OuterBoolOf(inner_);
        return true;
    }

private:
    typename D::OuterBool* out_;
    typename D::InnerBool inner_{};
};

template <class D>
class OutText {
public:
    explicit OutText(typename D::OuterText* out) : out_(out) {
        if (out_) *out_ = nullptr;
    }
    operator typename D::InnerText *() { return out_ ? &inner_ : nullptr; }
    // Whatever the inner side returned is converted or freed, success or not.
    bool Finish(bool) {
        typename D::InnerText inner = inner_;
        inner_ = nullptr;
        return !out_ || D::TakeText(inner, out_);
    }

private:
    typename D::OuterText* out_;
    typename D::InnerText inner_ = nullptr;
};

// The inner result in the outer layout's codes, once every out-argument is finished;
// E_OUTOFMEMORY (in the outer layout) when one could not be presented.
template <class D, class... Outs>
HRESULT Done(HRESULT inner, Outs&... outs) {
    const bool succeeded = SUCCEEDED(inner);
    bool all = true;
    ((all = outs.Finish(succeeded) && all), ...);
    return all ? D::Result(inner) : D::kOutOfMemory;
}

// `slot` holds the inner object's interface of pair P once asked for; asked at most once
// successfully, from any thread.
template <class D, class P, class Source>
InnerOf<D, P>* AcquireOnce(std::atomic<InnerOf<D, P>*>& slot, Source* source) {
    if (InnerOf<D, P>* known = slot.load(std::memory_order_acquire)) return known;
    void* answer = nullptr;
    if (D::QueryInner(source, P::kIid, &answer) != S_OK || !answer) return nullptr;
    auto* mine = static_cast<InnerOf<D, P>*>(answer);
    InnerOf<D, P>* expected = nullptr;
    if (slot.compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) return mine;
    mine->Release();  // another thread was first
    return expected;
}

template <class T>
void ReleaseSlot(std::atomic<T*>& slot) {
    if (T* p = slot.exchange(nullptr, std::memory_order_acq_rel)) p->Release();
}

// Hands out `itf` with a reference.
template <class T>
HRESULT Give(T* itf, void** out) {
    itf->AddRef();
    *out = itf;
    return S_OK;
}

// ---- The base of every bridge object: reference count, module lock, IUnknown, Marker.
// Self provides Start(inner), Clear() (drops what it holds) and Query(iid, out), which
// answers S_OK or D::kNoInterface; IID_IUnknown must give the same pointer every time.
template <class D, class Self, class... Outers>
class Bridged : public Outers..., public Marker {
public:
    HRESULT QueryInterface(typename D::OuterIid iid, void** out) override {
        return QueryImpl(D::Guid(iid), out);
    }
    typename D::OuterCount AddRef() override { return AddRefImpl(); }
    typename D::OuterCount Release() override { return ReleaseImpl(); }
    const void* Library() const override { return &kLibraryTag; }

    HRESULT QueryImpl(const GUID& iid, void** out) {
        if (!out) return D::kPointer;
        *out = nullptr;
        if (iid == kBridgeIid) {
            *out = static_cast<Marker*>(this);
            return S_OK;
        }
        return static_cast<Self*>(this)->Query(iid, out);
    }
    typename D::OuterCount AddRefImpl() {
        return static_cast<typename D::OuterCount>(refs_.fetch_add(1, std::memory_order_relaxed) +
                                                   1);
    }
    typename D::OuterCount ReleaseImpl() {
        const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            auto* self = static_cast<Self*>(this);
            self->Clear();
            com::ThisModule().Unlock();
            Pool<Self>::Give(self);
        }
        return left;
    }

protected:
    // Called by Self::Start.
    void Begin() {
        com::ThisModule().Lock();
        refs_.store(1, std::memory_order_relaxed);
    }

private:
    std::atomic<std::uint32_t> refs_{0};
};

// A bridge with one inner object and one interface pair.
template <class D, class P, class Self>
class Simple : public Bridged<D, Self, OuterOf<D, P>> {
public:
    void Start(InnerOf<D, P>* inner) {
        inner_ = inner;
        this->Begin();
    }
    void Clear() {
        if (InnerOf<D, P>* inner = inner_) {
            inner_ = nullptr;
            inner->Release();
        }
    }
    HRESULT Query(const GUID& iid, void** out) {
        if (iid == IID_IUnknown || iid == P::kIid)
            return Give(static_cast<OuterOf<D, P>*>(this), out);
        return D::kNoInterface;
    }
    void* Behind(const GUID& pair, const void* direction) override {
        return direction == &D::kTag && pair == P::kIid ? inner_ : nullptr;
    }

protected:
    InnerOf<D, P>* inner_ = nullptr;
};

}  // namespace orvex::decklink_layout
