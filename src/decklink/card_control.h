// The DeckLink renderer's choice of card and the state of its output.
//
// Locks, in the order they are taken:
//   1. the renderer's property lock (IOXProps writes; the option hook runs under it);
//   2. `Lock()`, the output lock: written by the choice of card, opening and closing the
//      output and the option hook; read by the device queries and the frame path;
//   3. the property tree's own node locks, taken by single node calls (never held while
//      taking another lock).
// Under the output lock the tree is reached only through node calls, never through
// IOXProps, so the order above never inverts.
#pragma once

#include <string>
#include <vector>

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "decklink/cards.h"
#include "decklink/frame_clock.h"
#include "orvex/interfaces.h"
#include "platform/rw_lock.h"

namespace orvex::decklink {

// OutputState values.
enum OutputStateValue : int { kNoDevice = 0, kDeviceChosen = 1, kOutputOpen = 3 };

inline constexpr BMDDisplayMode kNoDisplayMode = 0x69756E6B;  // 'iunk'

// What the output lock guards.
struct OutputState {
    CComPtr<IDeckLink> device;                      // the chosen card
    CComPtr<IDeckLinkOutput_v9_9> output;           // either output revision
    CComPtr<IDeckLinkKeyer> keyer;                  // null when the card has none
    CComPtr<IDeckLinkConfiguration> configuration;  // either revision, may be null
    int device_index = -1;
    int state = kNoDevice;
    BMDDisplayMode display_mode = kNoDisplayMode;
    BMDPixelFormat pixel_format = bmdFormat8BitYUV;
    bool dual_stream_3d = false;
    bool sd16x9 = false;
    bool keying_active = false;
};

class CardControl {
public:
    CardControl();
    ~CardControl();
    CardControl(const CardControl&) = delete;
    CardControl& operator=(const CardControl&) = delete;

    // Lists the cards (once, when the renderer is made) with the setting "bmd.driver_library"
    // of `root`, and writes which driver answered, or why none did, as "bmd.driver" in `stat`.
    void ListCards(IMNode* root, IMNode* stat);

    HRESULT GetCount(int* count);
    HRESULT GetByIndex(int index, BSTR* name, BOOL* busy);
    // Chooses card `index`, publishes its option lists under `root` and claims it by enabling
    // its video output in 1080i50.
    HRESULT Set(int index, IMNode* root);
    HRESULT Get(int* index, BSTR* name);
    HRESULT GetInternal(IUnknown** device);
    // Closes the output; the card stays chosen and claimed no more.
    void Close();
    // Lets the card go (the renderer is going away).
    void Release();

    // The hook after a write of property `name`; `root` is the renderer's tree. Runs with the
    // property lock held (see the lock order above).
    HRESULT OnPropertySet(IMNode* root, std::u16string_view name, std::u16string_view value);

    platform::CRWSynchroLiteRW& Lock() { return lock_; }
    // Guarded by Lock().
    OutputState& State() { return state_; }
    // Closes the output with Lock() held for writing: the frame clock is detached first.
    void CloseOutputLocked();
    // The frame clock that every close detaches (set once, before any output opens).
    void SetFrameClock(MDecklinkDirectOut* clock) { clock_ = clock; }
    // Tells the card the current "line-out", "line-in" and "keying" choices of `root`, with
    // Lock() held for writing (after the output opened).
    void ApplyConnectorsLocked(IMNode* root);

private:
    void ApplyKeying(IMNode* root, const struct ChosenOption& option);

    platform::CRWSynchroLiteRW lock_{1024, false};
    std::vector<Card> cards_;  // fixed once listed
    OutputState state_;
    MDecklinkDirectOut* clock_ = nullptr;
};

}  // namespace orvex::decklink
