// The control functions of sim_control.h, exported by both builds of the card library.
#include <cstring>

#include "com/types.h"
#include "sim/decklink/card.h"
#include "sim/decklink/sim_control.h"

namespace {

using namespace orvex::sim::decklink;

std::shared_ptr<Card> CardAt(int32_t index) {
    auto cards = CurrentCards();
    if (index < 0 || static_cast<std::size_t>(index) >= cards.size()) return nullptr;
    return cards[static_cast<std::size_t>(index)];
}

}  // namespace

ORVEX_EXPORT void OxSimDeckLinkSetTimeSource(OxSimNowFunction now, void* context) {
    SetTimeSource(now, context);
}

ORVEX_EXPORT void OxSimDeckLinkSetSleep(OxSimSleepUntilFunction sleep_until, void* context) {
    SetSleep(sleep_until, context);
}

ORVEX_EXPORT int32_t OxSimDeckLinkReset() {
    ResetRig();
    return S_OK;
}

ORVEX_EXPORT int32_t OxSimDeckLinkCardCount(char* error, int32_t error_size) {
    const auto count = static_cast<int32_t>(CurrentCards().size());
    if (error && error_size > 0) {
        std::string e = RigError();
        std::size_t n = std::min<std::size_t>(e.size(), static_cast<std::size_t>(error_size - 1));
        std::memcpy(error, e.data(), n);
        error[n] = 0;
    }
    return count;
}

ORVEX_EXPORT int32_t OxSimDeckLinkSetFault(int32_t card, const char* name, double value) {
    auto c = CardAt(card);
    if (!c || !name) return E_INVALIDARG;
    return c->SetFault(name, value);
}

ORVEX_EXPORT int32_t OxSimDeckLinkStats(int32_t card, OxSimCardStats* out) {
    auto c = CardAt(card);
    if (!c || !out) return E_INVALIDARG;
    CardStats s = c->Stats();
    *out = OxSimCardStats{s.periods,
                          s.new_frames,
                          s.repeats,
                          s.replaced,
                          s.frames_alive,
                          s.frame_bytes_alive,
                          s.allocate_calls,
                          s.release_calls,
                          s.commit_calls,
                          s.decommit_calls,
                          s.audio_played,
                          s.audio_silence,
                          s.recording_dropped,
                          s.markers.frames,
                          s.markers.missing,
                          s.markers.min_offset,
                          s.markers.max_offset,
                          s.clock};
    return S_OK;
}

ORVEX_EXPORT int32_t OxSimDeckLinkFlush(int32_t card) {
    auto c = CardAt(card);
    if (!c) return E_INVALIDARG;
    c->Flush();
    return S_OK;
}
