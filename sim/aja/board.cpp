#include "sim/aja/board.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "aja/ntv2/ntv2utils.h"
#include "platform/clock.h"

namespace orvex::sim::aja {
namespace {

struct TimeSource {
    OxSimAjaNowFunction now = nullptr;
    OxSimAjaSleepUntilFunction sleep = nullptr;
    void* context = nullptr;
};
std::mutex g_time_lock;
TimeSource g_time;

TimeSource CurrentTimeSource() {
    std::lock_guard<std::mutex> lock(g_time_lock);
    return g_time;
}

constexpr std::uint32_t kMaxAudioBytes = 4u << 20;

bool IsOutputXpt(std::uint32_t channel, std::uint32_t value, int frame_stores) {
    if (value == NTV2_XptBlack) return true;
    for (std::uint32_t c = 0; c < static_cast<std::uint32_t>(frame_stores); ++c) {
        const auto ch = static_cast<NTV2Channel>(c);
        if (value == GetFrameBufferOutputXptFromChannel(ch, false) ||
            value == GetFrameBufferOutputXptFromChannel(ch, true) ||
            value == GetCSCOutputXptFromChannel(ch, false, false) ||
            value == GetCSCOutputXptFromChannel(ch, false, true))
            return true;
    }
    (void)channel;
    return false;
}

std::string Slug(const std::string& text) {
    std::string s;
    for (char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            s += c;
        else if (c >= 'A' && c <= 'Z')
            s += static_cast<char>(c - 'A' + 'a');
        else if (!s.empty() && s.back() != '-')
            s += '-';
    }
    while (!s.empty() && s.back() == '-') s.pop_back();
    return s.empty() ? "board" : s;
}

std::string TimecodeText(const RP188_STRUCT& tc) {
    if (tc.Low == 0xFFFFFFFF && tc.High == 0xFFFFFFFF) return "";
    const unsigned f = ((tc.Low >> 8) & 3) * 10 + (tc.Low & 0xF);
    const unsigned s = ((tc.Low >> 24) & 7) * 10 + ((tc.Low >> 16) & 0xF);
    const unsigned m = ((tc.High >> 8) & 7) * 10 + (tc.High & 0xF);
    const unsigned h = ((tc.High >> 24) & 3) * 10 + ((tc.High >> 16) & 0xF);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", h, m, s,
                  (tc.Low & (1u << 10)) ? ';' : ':', f);
    return text;
}

}  // namespace

Ticks BoardNow() {
    const TimeSource t = CurrentTimeSource();
    return t.now ? t.now(t.context) : platform::Now();
}

void BoardSleepUntil(Ticks deadline) {
    const TimeSource t = CurrentTimeSource();
    if (t.sleep)
        t.sleep(deadline, t.context);
    else
        platform::SleepUntil(deadline);
}

void SetTimeSource(OxSimAjaNowFunction now, OxSimAjaSleepUntilFunction sleep, void* context) {
    std::lock_guard<std::mutex> lock(g_time_lock);
    g_time = TimeSource{now, sleep, context};
}

Board::Board(BoardSpec model, int index, std::string record_folder)
    : spec_(std::move(model)),
      index_(index),
      record_folder_(std::move(record_folder)),
      watch_markers_(std::getenv("ORVEX_AJA_AUDIO_MARKERS") != nullptr) {
    refuse_formats_ = spec_.refuse_formats;
    no_interrupt_ = spec_.no_interrupt;
    dma_fail_ = spec_.dma_fail;
    removed_ = spec_.removed;
    NTV2VideoFormat boot = NTV2_FORMAT_1080i_5000;
    if (!spec_.formats.test(boot))
        for (std::size_t f = 1; f < spec_.formats.size(); ++f)
            if (spec_.formats.test(f)) {
                boot = static_cast<NTV2VideoFormat>(f);
                break;
            }
    regs_[OX_NTV2_REG_TASK_MODE] = NTV2_STANDARD_TASKS;
    regs_[OX_NTV2_REG_REFERENCE] = NTV2_REFERENCE_FREERUN;
    for (std::uint32_t c = 0; c < 8; ++c) {
        regs_[OX_NTV2_REG_VIDEO_FORMAT + c] = boot;
        regs_[OX_NTV2_REG_FRAME_RATE + c] = GetNTV2FrameRateFromVideoFormat(boot);
        regs_[OX_NTV2_REG_FRAME_BUFFER_FMT + c] = NTV2_FBF_8BIT_YCBCR;
        regs_[OX_NTV2_REG_AUDIO_CHANNELS + c] = static_cast<std::uint32_t>(spec_.audio_channels);
        regs_[OX_NTV2_REG_SDI_AUDIO_SYSTEM + c] = 0;
    }
}

Board::~Board() = default;

OxNtv2BoardInfo Board::Info() const {
    OxNtv2BoardInfo info{};
    std::string canonical = spec_.model;
    for (int v : {spec_.frame_stores, spec_.sdi_outputs, spec_.hdmi_outputs, spec_.analog_outputs,
                  spec_.audio_systems, spec_.audio_channels, int(spec_.multi_format),
                  int(spec_.bidirectional_sdi), int(spec_.audio_96k), int(spec_.rp188),
                  int(spec_.frame_buffers), int(spec_.pixel_formats)}) {
        // Appended piece by piece: GCC 12 misreads `"/" + std::string&&` under -Wrestrict.
        canonical += '/';
        canonical += std::to_string(v);
    }
    canonical += '/';
    canonical += spec_.formats.to_string();
    std::uint32_t id = static_cast<std::uint32_t>(
        Checksum(reinterpret_cast<const std::uint8_t*>(canonical.data()), canonical.size()));
    if (id == DEVICE_ID_NOTFOUND) id = 0x7FFFFFFF;
    info.device_id = id;
    info.pci_slot = static_cast<std::uint32_t>(index_ + 1);
    info.serial = spec_.serial ? spec_.serial : 0x1000u + static_cast<std::uint64_t>(index_);
    const std::string ident =
        spec_.identifier.empty() ? spec_.model + " - " + std::to_string(index_) : spec_.identifier;
    std::snprintf(info.identifier, sizeof info.identifier, "%s", ident.c_str());
    std::snprintf(info.model, sizeof info.model, "%s", spec_.model.c_str());
    info.frame_stores = static_cast<std::uint16_t>(spec_.frame_stores);
    info.sdi_outputs = static_cast<std::uint16_t>(spec_.sdi_outputs);
    info.hdmi_outputs = static_cast<std::uint16_t>(spec_.hdmi_outputs);
    info.analog_outputs = static_cast<std::uint16_t>(spec_.analog_outputs);
    info.audio_systems = static_cast<std::uint16_t>(spec_.audio_systems);
    info.max_audio_channels = static_cast<std::uint16_t>(spec_.audio_channels);
    info.reference_inputs = static_cast<std::uint16_t>(spec_.reference_sdi ? spec_.sdi_outputs : 0);
    info.multi_format = spec_.multi_format;
    info.bidirectional_sdi = spec_.bidirectional_sdi;
    info.audio_96k = spec_.audio_96k;
    info.rp188 = spec_.rp188;
    info.frame_buffers = spec_.frame_buffers;
    for (std::size_t f = 0; f < 512; ++f)
        if (spec_.formats.test(f)) info.video_formats[f / 32] |= 1u << (f % 32);
    info.pixel_formats = spec_.pixel_formats;
    return info;
}

int32_t Board::Open() {
    std::lock_guard<std::mutex> lock(lock_);
    return removed_ ? OX_NTV2_E_GONE : OX_NTV2_OK;
}

void Board::Close() {}

NTV2VideoFormat Board::FormatOf(int channel) const {
    const bool multi = regs_[OX_NTV2_REG_MULTI_FORMAT] != 0;
    return static_cast<NTV2VideoFormat>(regs_[OX_NTV2_REG_VIDEO_FORMAT + (multi ? channel : 0)]);
}

bool Board::RateOf(int channel, std::uint32_t* num, std::uint32_t* den) const {
    const bool multi = regs_[OX_NTV2_REG_MULTI_FORMAT] != 0;
    const auto rate =
        static_cast<NTV2FrameRate>(regs_[OX_NTV2_REG_FRAME_RATE + (multi ? channel : 0)]);
    ULWord n = 0, d = 0;
    if (!GetFramesPerSecond(rate, n, d)) return false;
    *num = n, *den = d;
    return true;
}

Ticks Board::VbiTime(std::int64_t index, std::uint32_t num, std::uint32_t den) const {
    return static_cast<Ticks>(static_cast<__int128>(index) * den * platform::kTicksPerSecond / num);
}

std::int64_t Board::VbiAfter(Ticks t, std::uint32_t num, std::uint32_t den) const {
    if (t < 0) return 0;
    std::int64_t k = static_cast<std::int64_t>(
        static_cast<__int128>(t) * num / (static_cast<__int128>(den) * platform::kTicksPerSecond));
    while (VbiTime(k, num, den) <= t) ++k;
    return k;
}

std::uint32_t Board::FramesInMemory(NTV2VideoFormat format) const {
    const std::uint64_t unit = 1920ull * 1080 * 2;
    const std::uint64_t size = GetVideoWriteSize(format, NTV2_FBF_8BIT_YCBCR, NTV2_VANCMODE_OFF);
    if (!size) return 0;
    const std::uint64_t per = (size + unit - 1) / unit;  // memory units per frame
    return static_cast<std::uint32_t>(spec_.frame_buffers / per);
}

bool Board::ValidWrite(uint32_t reg, uint32_t value) const {
    auto per = [&](std::uint32_t base, int count) {
        return reg >= base && reg < base + 8 && static_cast<int>(reg - base) < count;
    };
    if (reg == OX_NTV2_REG_TASK_MODE) return value <= NTV2_OEM_TASKS;
    if (reg == OX_NTV2_REG_MULTI_FORMAT) return value == 0 || spec_.multi_format;
    if (reg == OX_NTV2_REG_REFERENCE) {
        if (static_cast<std::int64_t>(value) == refuse_reference_) return false;
        switch (value) {
            case NTV2_REFERENCE_FREERUN:
                return true;
            case NTV2_REFERENCE_EXTERNAL:
                return spec_.reference_external;
            case NTV2_REFERENCE_ANALOG_INPUT:
                return spec_.reference_analog;
            case NTV2_REFERENCE_HDMI_INPUT:
                return spec_.reference_hdmi;
            case NTV2_REFERENCE_INPUT1:
                return spec_.reference_sdi && spec_.sdi_outputs >= 1;
            case NTV2_REFERENCE_INPUT2:
                return spec_.reference_sdi && spec_.sdi_outputs >= 2;
            default:
                return value >= NTV2_REFERENCE_INPUT3 && value <= NTV2_REFERENCE_INPUT8 &&
                       spec_.reference_sdi &&
                       static_cast<int>(value - NTV2_REFERENCE_INPUT3 + 3) <= spec_.sdi_outputs;
        }
    }
    if (reg >= OX_NTV2_REG_VIDEO_FORMAT && reg < OX_NTV2_REG_VIDEO_FORMAT + 8)
        return per(OX_NTV2_REG_VIDEO_FORMAT, spec_.frame_stores) && value < 512 &&
               spec_.formats.test(value) &&
               std::find(refuse_formats_.begin(), refuse_formats_.end(), value) ==
                   refuse_formats_.end();
    if (reg >= OX_NTV2_REG_FRAME_RATE && reg < OX_NTV2_REG_FRAME_RATE + 8)
        return per(OX_NTV2_REG_FRAME_RATE, spec_.frame_stores) && value >= 1 && value <= 18;
    if (reg >= OX_NTV2_REG_FRAME_BUFFER_FMT && reg < OX_NTV2_REG_FRAME_BUFFER_FMT + 8)
        return per(OX_NTV2_REG_FRAME_BUFFER_FMT, spec_.frame_stores) && value < 32 &&
               (spec_.pixel_formats >> value & 1u);
    if (reg >= OX_NTV2_REG_CHANNEL_DISABLE && reg < OX_NTV2_REG_CHANNEL_DISABLE + 8)
        return per(OX_NTV2_REG_CHANNEL_DISABLE, spec_.frame_stores) && value <= 1;
    if (reg >= OX_NTV2_REG_VANC_MODE && reg < OX_NTV2_REG_VANC_MODE + 8)
        return per(OX_NTV2_REG_VANC_MODE, spec_.frame_stores) && value < NTV2_VANCMODE_INVALID;
    if (reg >= OX_NTV2_REG_VANC_SHIFT && reg < OX_NTV2_REG_VANC_SHIFT + 8)
        return per(OX_NTV2_REG_VANC_SHIFT, spec_.frame_stores) && value <= 1;
    if (reg >= OX_NTV2_REG_OUTPUT_INTERRUPT && reg < OX_NTV2_REG_OUTPUT_INTERRUPT + 8)
        return per(OX_NTV2_REG_OUTPUT_INTERRUPT, spec_.frame_stores) && value <= 1 &&
               !(value && no_interrupt_);
    if (reg >= OX_NTV2_REG_SDI_STANDARD && reg < OX_NTV2_REG_SDI_STANDARD + 8)
        return per(OX_NTV2_REG_SDI_STANDARD, spec_.sdi_outputs) && value < NTV2_STANDARD_INVALID;
    if (reg >= OX_NTV2_REG_SDI_TRANSMIT && reg < OX_NTV2_REG_SDI_TRANSMIT + 8)
        return per(OX_NTV2_REG_SDI_TRANSMIT, spec_.sdi_outputs) && spec_.bidirectional_sdi &&
               value <= 1;
    if (reg >= OX_NTV2_REG_SDI_AUDIO_SYSTEM && reg < OX_NTV2_REG_SDI_AUDIO_SYSTEM + 8)
        return per(OX_NTV2_REG_SDI_AUDIO_SYSTEM, spec_.sdi_outputs) &&
               static_cast<int>(value) < spec_.audio_systems;
    if (reg >= OX_NTV2_REG_AUDIO_CHANNELS && reg < OX_NTV2_REG_AUDIO_CHANNELS + 8)
        return per(OX_NTV2_REG_AUDIO_CHANNELS, spec_.audio_systems) &&
               (value == 2 || value == 6 || value == 8 || value == 16) &&
               static_cast<int>(value) <= spec_.audio_channels;
    if (reg >= OX_NTV2_REG_AUDIO_RATE && reg < OX_NTV2_REG_AUDIO_RATE + 8)
        return per(OX_NTV2_REG_AUDIO_RATE, spec_.audio_systems) &&
               (value == NTV2_AUDIO_48K || (value == NTV2_AUDIO_96K && spec_.audio_96k));
    if (reg >= OX_NTV2_REG_AUDIO_BUFFER && reg < OX_NTV2_REG_AUDIO_BUFFER + 8)
        return per(OX_NTV2_REG_AUDIO_BUFFER, spec_.audio_systems) && value <= 1;
    if (reg >= OX_NTV2_REG_AUDIO_LOOPBACK && reg < OX_NTV2_REG_AUDIO_LOOPBACK + 8)
        return per(OX_NTV2_REG_AUDIO_LOOPBACK, spec_.audio_systems) && value <= 1;
    if (reg >= OX_NTV2_REG_ROUTE && reg < OX_NTV2_REG_ROUTE + NTV2_LAST_INPUT_CROSSPOINT) {
        const std::uint32_t in = reg - OX_NTV2_REG_ROUTE;
        if (value == NTV2_XptBlack) return true;  // clearing any input is harmless
        bool input_ok = false;
        for (std::uint32_t c = 0; c < 8; ++c) {
            const auto ch = static_cast<NTV2Channel>(c);
            if (in == GetSDIOutputInputXpt(ch)) input_ok = static_cast<int>(c) < spec_.sdi_outputs;
            if (in == GetCSCInputXptFromChannel(ch))
                input_ok = static_cast<int>(c) < spec_.frame_stores;
        }
        if (in == NTV2_XptHDMIOutInput) input_ok = spec_.hdmi_outputs > 0;
        if (in == NTV2_XptAnalogOutInput) input_ok = spec_.analog_outputs > 0;
        return input_ok && IsOutputXpt(in, value, spec_.frame_stores);
    }
    return false;
}

int32_t Board::ReadRegister(uint32_t reg, uint32_t* value) {
    std::lock_guard<std::mutex> lock(lock_);
    if (removed_) return OX_NTV2_E_GONE;
    if (reg >= OX_NTV2_REG_COUNT || !value) return OX_NTV2_E_INVALID;
    *value = regs_[reg];
    return OX_NTV2_OK;
}

int32_t Board::WriteRegister(uint32_t reg, uint32_t value) {
    std::lock_guard<std::mutex> lock(lock_);
    if (removed_) return OX_NTV2_E_GONE;
    if (reg >= OX_NTV2_REG_COUNT) return OX_NTV2_E_INVALID;
    if (!ValidWrite(reg, value)) return OX_NTV2_E_REFUSED;
    CatchUp();
    if (reg >= OX_NTV2_REG_VIDEO_FORMAT && reg < OX_NTV2_REG_VIDEO_FORMAT + 8) {
        const std::uint32_t rate =
            GetNTV2FrameRateFromVideoFormat(static_cast<NTV2VideoFormat>(value));
        if (regs_[OX_NTV2_REG_MULTI_FORMAT]) {
            regs_[reg] = value;
            regs_[OX_NTV2_REG_FRAME_RATE + (reg - OX_NTV2_REG_VIDEO_FORMAT)] = rate;
        } else {
            // One format for the whole board.
            for (std::uint32_t c = 0; c < 8; ++c) {
                regs_[OX_NTV2_REG_VIDEO_FORMAT + c] = value;
                regs_[OX_NTV2_REG_FRAME_RATE + c] = rate;
            }
        }
        return OX_NTV2_OK;
    }
    regs_[reg] = value;
    return OX_NTV2_OK;
}

std::shared_ptr<Recorder> Board::EndRecording(Ring& ring) {
    if (ring.recorder)
        ring.recording_dropped += static_cast<std::int64_t>(ring.recorder->Dropped());
    return std::move(ring.recorder);
}

std::shared_ptr<Recorder> Board::StartRecording(int channel, Ring& ring) {
    std::shared_ptr<Recorder> closing = EndRecording(ring);
    if (record_folder_.empty()) return closing;
    const NTV2VideoFormat format = FormatOf(channel);
    const NTV2FrameDimensions d = GetFormatDimensions(format);
    RecordFormat rf;
    rf.width = d.GetWidth();
    rf.height = d.GetHeight();
    std::uint32_t num = 0, den = 1;
    RateOf(channel, &num, &den);
    rf.rate_num = num;
    rf.rate_den = den;
    rf.interlaced = !IsProgressiveFormat(format);
    rf.video = spec_.record_video;
    rf.limit_bytes = spec_.record_limit_mb << 20;
    const std::uint32_t sys = ring.audio_system;
    rf.audio_channels =
        (ring.options & OX_NTV2_AC_AUDIO) ? regs_[OX_NTV2_REG_AUDIO_CHANNELS + sys] : 0;
    rf.audio_rate = regs_[OX_NTV2_REG_AUDIO_RATE + sys] == NTV2_AUDIO_96K ? 96000 : 48000;
    OxNtv2BoardInfo bi = Info();
    ring.recorder = std::make_shared<Recorder>(record_folder_ + "/" + Slug(bi.identifier) + "-ch" +
                                                   std::to_string(channel + 1) + "-" +
                                                   std::to_string(++sessions_),
                                               rf);
    return closing;
}

int32_t Board::AutoCirculate(uint32_t command, uint32_t crosspoint, const OxNtv2AcInit* init,
                             uint64_t) {
    std::shared_ptr<Recorder> closing;  // closed once the lock is released
    std::lock_guard<std::mutex> lock(lock_);
    return AutoCirculateLocked(command, crosspoint, init, &closing);
}

int32_t Board::AutoCirculateLocked(uint32_t command, uint32_t crosspoint, const OxNtv2AcInit* init,
                                   std::shared_ptr<Recorder>* closing) {
    if (removed_) return OX_NTV2_E_GONE;
    const NTV2Channel ch = NTV2CrosspointToChannel(static_cast<NTV2Crosspoint>(crosspoint));
    if (ch == NTV2_CHANNEL_INVALID || static_cast<int>(ch) >= spec_.frame_stores)
        return OX_NTV2_E_INVALID;
    CatchUp();
    Ring& ring = rings_[ch];
    switch (command) {
        case OX_NTV2_AC_INIT: {
            if (!init || init->start_frame < 0 || init->end_frame <= init->start_frame ||
                static_cast<std::uint32_t>(init->end_frame) >= FramesInMemory(FormatOf(ch)))
                return OX_NTV2_E_INVALID;
            if ((init->options & OX_NTV2_AC_AUDIO) &&
                static_cast<int>(init->audio_system) >= spec_.audio_systems)
                return OX_NTV2_E_INVALID;
            *closing = EndRecording(ring);
            ring.state = NTV2_AUTOCIRCULATE_INIT;
            ring.start_frame = init->start_frame;
            ring.end_frame = init->end_frame;
            ring.audio_system = init->audio_system;
            ring.options = init->options;
            ring.slots.resize(static_cast<std::size_t>(init->end_frame - init->start_frame + 1));
            ring.queued.clear();
            ring.next_slot = 0;
            ring.on_air = -1;
            ring.played_any = false;
            ring.audio_interrupts = ring.audio_pos = 0;
            ring.markers = MarkerWatch{};
            ring.transfers = 0;
            const std::int64_t sessions = ring.stats.sessions + 1;
            ring.stats = OxSimAjaChannelStats{};
            ring.stats.sessions = sessions;
            return OX_NTV2_OK;
        }
        case OX_NTV2_AC_START: {
            if (ring.state != NTV2_AUTOCIRCULATE_INIT) return OX_NTV2_E_BUSY;
            std::uint32_t num = 0, den = 1;
            if (!RateOf(ch, &num, &den)) return OX_NTV2_E_INVALID;
            ring.state = NTV2_AUTOCIRCULATE_STARTING;
            ring.next_vbi = VbiAfter(BoardNow(), num, den);
            *closing = StartRecording(ch, ring);
            return OX_NTV2_OK;
        }
        case OX_NTV2_AC_STOP:
        case OX_NTV2_AC_ABORT:
            ring.state = NTV2_AUTOCIRCULATE_DISABLED;
            ring.queued.clear();
            ring.on_air = -1;
            *closing = EndRecording(ring);
            return OX_NTV2_OK;
        default:
            return OX_NTV2_E_INVALID;
    }
}

void Board::PlayInterrupt(int channel, Ring& ring, std::int64_t vbi, Ticks when) {
    ++ring.stats.interrupts;
    const NTV2VideoFormat format = FormatOf(channel);
    const NTV2FrameDimensions d = GetFormatDimensions(format);
    const std::uint32_t row = GetRowBytes(NTV2_FBF_8BIT_YCBCR, d.GetWidth());
    const std::uint32_t vanc =
        GetVancLines(format, static_cast<NTV2VANCMode>(regs_[OX_NTV2_REG_VANC_MODE + channel]));
    const bool is_new = !ring.queued.empty();
    if (is_new) {
        ring.on_air = static_cast<std::int64_t>(ring.queued.front());
        ring.queued.pop_front();
        ring.state = NTV2_AUTOCIRCULATE_RUNNING;
        ring.played_any = true;
        ++ring.stats.frames_played;
    } else if (ring.played_any) {
        ++ring.stats.frames_dropped;
    } else {
        return;  // still starting: nothing on air yet
    }
    Slot& slot = ring.slots[static_cast<std::size_t>(ring.on_air)];
    // The interrupt's audio: the new frame's own from its first sample, silence after it.
    const bool multi = regs_[OX_NTV2_REG_MULTI_FORMAT] != 0;
    const auto rate =
        static_cast<NTV2FrameRate>(regs_[OX_NTV2_REG_FRAME_RATE + (multi ? channel : 0)]);
    const auto audio_rate =
        static_cast<NTV2AudioRate>(regs_[OX_NTV2_REG_AUDIO_RATE + ring.audio_system]);
    const bool with_audio = (ring.options & OX_NTV2_AC_AUDIO) != 0;
    const std::uint32_t span =
        with_audio ? GetAudioSamplesPerFrame(rate, audio_rate,
                                             static_cast<ULWord>(ring.audio_interrupts % 5))
                   : 0;
    const std::uint32_t played = is_new ? std::min(slot.audio_frames, span) : 0;
    const std::uint32_t silence = span - played;
    const std::int64_t audio_pos = ring.audio_pos;
    ++ring.audio_interrupts;
    ring.audio_pos += span;
    ring.stats.audio_samples += played;
    ring.stats.audio_silence += silence;
    if (is_new) ring.stats.audio_cut += slot.audio_frames - played;
    if (watch_markers_ && is_new) {
        ring.markers.FrameStart(audio_pos, span);
        if (played && !slot.audio.empty())
            ring.markers.Samples(audio_pos, slot.audio.data(), played,
                                 slot.audio.size() / slot.audio_frames, 32);
    }
    if (!ring.recorder) return;
    const bool fbf8 = regs_[OX_NTV2_REG_FRAME_BUFFER_FMT + channel] == NTV2_FBF_8BIT_YCBCR;
    const std::size_t offset = static_cast<std::size_t>(row) * vanc;
    bool dropped = false;
    if (fbf8 && slot.video && slot.video->size() >= offset)
        dropped =
            !ring.recorder->Picture(slot.video, offset, row, slot.video->size() - offset, is_new);
    if (played) ring.recorder->Audio(slot.audio.empty() ? nullptr : slot.audio.data(), played);
    if (silence) ring.recorder->Audio(nullptr, silence);
    char line[640];
    std::snprintf(line, sizeof line,
                  "{\"vbi\":%" PRId64 ",\"time\":%" PRId64
                  ",\"frame\":\"%s\",\"slot\":%d,\"transfer\":%" PRIu64
                  ",\"timecode\":\"%s\",\"rp188\":\"%08X:%08X\",\"audio_samples\":%u,"
                  "\"audio_pos\":%" PRId64
                  ",\"audio_silence\":%u,"
                  "\"checksum\":\"%016" PRIx64 "\"%s}",
                  vbi, when, is_new ? "new" : "repeat", slot.frame, slot.transfer,
                  TimecodeText(slot.timecode).c_str(), slot.timecode.Low, slot.timecode.High,
                  played, audio_pos, silence, slot.checksum, dropped ? ",\"dropped\":true" : "");
    ring.recorder->Line(line);
}

void Board::CatchUp() {
    const Ticks now = BoardNow();
    for (int c = 0; c < 8; ++c) {
        Ring& ring = rings_[static_cast<std::size_t>(c)];
        if (ring.state != NTV2_AUTOCIRCULATE_STARTING && ring.state != NTV2_AUTOCIRCULATE_RUNNING)
            continue;
        std::uint32_t num = 0, den = 1;
        if (!RateOf(c, &num, &den)) continue;
        // A board left alone for long plays at most one ring's worth, then skips ahead.
        const std::int64_t due = VbiAfter(now, num, den);
        if (due - ring.next_vbi > 1000) {
            const std::int64_t skipped = due - ring.next_vbi - 1000;
            ring.stats.interrupts += skipped;
            if (ring.played_any) ring.stats.frames_dropped += skipped;
            ring.next_vbi += skipped;
        }
        for (; ring.next_vbi < due; ++ring.next_vbi)
            PlayInterrupt(c, ring, ring.next_vbi, VbiTime(ring.next_vbi, num, den));
    }
}

int32_t Board::Status(uint32_t crosspoint, AUTOCIRCULATE_STATUS_STRUCT* status) {
    std::lock_guard<std::mutex> lock(lock_);
    if (removed_) return OX_NTV2_E_GONE;
    const NTV2Channel ch = NTV2CrosspointToChannel(static_cast<NTV2Crosspoint>(crosspoint));
    if (!status || ch == NTV2_CHANNEL_INVALID || static_cast<int>(ch) >= spec_.frame_stores)
        return OX_NTV2_E_INVALID;
    CatchUp();
    const Ring& ring = rings_[ch];
    *status = AUTOCIRCULATE_STATUS_STRUCT{};
    status->channelSpec = static_cast<NTV2Crosspoint>(crosspoint);
    status->state = ring.state;
    status->startFrame = ring.start_frame;
    status->endFrame = ring.end_frame;
    status->activeFrame =
        ring.on_air >= 0 ? ring.start_frame + static_cast<LWord>(ring.on_air) : -1;
    status->rdtscCurrentTime = static_cast<ULWord64>(BoardNow());
    status->framesProcessed = static_cast<ULWord>(ring.stats.frames_played);
    status->framesDropped = static_cast<ULWord>(ring.stats.frames_dropped);
    status->bufferLevel = static_cast<ULWord>(ring.queued.size());
    status->bWithAudio = (ring.options & OX_NTV2_AC_AUDIO) != 0;
    status->bWithRP188 = (ring.options & OX_NTV2_AC_RP188) != 0;
    status->bFboChange = (ring.options & OX_NTV2_AC_FBO_CHANGE) != 0;
    return OX_NTV2_OK;
}

int32_t Board::Transfer(const AUTOCIRCULATE_TRANSFER_STRUCT* t,
                        const AUTOCIRCULATE_TASK_STRUCT* tasks,
                        AUTOCIRCULATE_TRANSFER_STATUS_STRUCT* status) {
    Ticks stall = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        stall = stall_transfer_ + late_transfer_;
        late_transfer_ = 0;
    }
    if (stall > 0) BoardSleepUntil(BoardNow() + stall);
    std::lock_guard<std::mutex> lock(lock_);
    if (removed_) return OX_NTV2_E_GONE;
    if (!t || !status) return OX_NTV2_E_INVALID;
    const NTV2Channel ch = NTV2CrosspointToChannel(t->channelSpec);
    if (ch == NTV2_CHANNEL_INVALID || static_cast<int>(ch) >= spec_.frame_stores)
        return OX_NTV2_E_INVALID;
    CatchUp();
    Ring& ring = rings_[ch];
    if (ring.state == NTV2_AUTOCIRCULATE_DISABLED || ring.slots.empty()) {
        ++ring.stats.transfer_errors;
        return OX_NTV2_E_BUSY;
    }
    if (dma_fail_) {
        if (dma_fail_ > 0) --dma_fail_;
        ++ring.stats.transfer_errors;
        return OX_NTV2_E_IO;
    }
    if (ring.queued.size() + 1 >= ring.slots.size()) {
        ++ring.stats.transfer_errors;
        return OX_NTV2_E_BUSY;
    }
    // Sizes from the host are checked against what the channel's frame can hold.
    const NTV2VideoFormat format = FormatOf(ch);
    const auto fbf = static_cast<NTV2FrameBufferFormat>(regs_[OX_NTV2_REG_FRAME_BUFFER_FMT + ch]);
    const std::uint64_t max_video = GetVideoWriteSize(format, fbf, NTV2_VANCMODE_TALLER);
    if (!t->videoBuffer || !t->videoBufferSize || t->videoBufferSize > max_video) {
        ++ring.stats.transfer_errors;
        return OX_NTV2_E_INVALID;
    }
    std::uint32_t audio_frames = 0;
    const std::uint32_t channels = regs_[OX_NTV2_REG_AUDIO_CHANNELS + ring.audio_system];
    if ((ring.options & OX_NTV2_AC_AUDIO) && t->audioBuffer && t->audioBufferSize) {
        if (!channels || t->audioBufferSize > kMaxAudioBytes ||
            t->audioBufferSize % (channels * 4)) {
            ++ring.stats.transfer_errors;
            return OX_NTV2_E_INVALID;
        }
        audio_frames = t->audioBufferSize / (channels * 4);
    }
    const std::size_t index = ring.next_slot;
    ring.next_slot = (ring.next_slot + 1) % ring.slots.size();
    Slot& slot = ring.slots[index];
    const auto* video = reinterpret_cast<const std::uint8_t*>(t->videoBuffer);
    slot.video_bytes = t->videoBufferSize;
    slot.checksum = spec_.checksum ? Checksum(video, t->videoBufferSize) : 0;
    if (ring.recorder && spec_.record_video)
        slot.video =
            std::make_shared<const std::vector<std::uint8_t>>(video, video + t->videoBufferSize);
    else
        slot.video.reset();
    slot.audio_frames = audio_frames;
    if ((ring.recorder || watch_markers_) && audio_frames) {
        const auto* audio = reinterpret_cast<const std::uint8_t*>(t->audioBuffer);
        slot.audio.assign(audio, audio + t->audioBufferSize);
    } else {
        slot.audio.clear();
    }
    slot.timecode = (ring.options & OX_NTV2_AC_RP188)
                        ? t->rp188
                        : RP188_STRUCT{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    if (tasks && tasks->taskArray && tasks->numTasks <= tasks->maxTasks &&
        tasks->numTasks <= AUTOCIRCULATE_TASK_MAX_TASKS) {
        for (ULWord i = 0; i < tasks->numTasks; ++i) {
            const AutoCircGenericTask& task = tasks->taskArray[i];
            if (task.taskType == eAutoCircTaskTimeCodeWrite) {
                const AutoCircTimeCodeTask& tc = task.u.timeCodeTask;
                const RP188_STRUCT* own[8] = {&tc.TCInOut1, &tc.TCInOut2, &tc.TCInOut3,
                                              &tc.TCInOut4, &tc.TCInOut5, &tc.TCInOut6,
                                              &tc.TCInOut7, &tc.TCInOut8};
                slot.timecode = *own[ch];
            } else if (task.taskType == eAutoCircTaskRegisterWrite) {
                const AutoCircRegisterTask& r = task.u.registerTask;
                if (r.regNum < OX_NTV2_REG_COUNT && r.shift < 32) {
                    const std::uint32_t v =
                        (regs_[r.regNum] & ~r.mask) | ((r.value << r.shift) & r.mask);
                    if (ValidWrite(r.regNum, v)) regs_[r.regNum] = v;
                }
            }
        }
    }
    slot.frame = ring.start_frame + static_cast<std::int32_t>(index);
    slot.transfer = ring.transfers++;
    ring.queued.push_back(index);
    ++ring.stats.transfers;
    *status = AUTOCIRCULATE_TRANSFER_STATUS_STRUCT{};
    status->channelSpec = t->channelSpec;
    status->state = ring.state;
    status->transferFrame = slot.frame;
    status->bufferLevel = static_cast<ULWord>(ring.queued.size());
    status->framesProcessed = static_cast<ULWord>(ring.stats.frames_played);
    status->framesDropped = static_cast<ULWord>(ring.stats.frames_dropped);
    status->audioBufferSize = t->audioBufferSize;
    return OX_NTV2_OK;
}

int32_t Board::WaitOutputVertical(uint32_t channel, uint32_t timeout_ms) {
    const Ticks now = BoardNow();
    const Ticks deadline = now + static_cast<Ticks>(timeout_ms) * platform::kTicksPerMillisecond;
    Ticks target = -1;
    int32_t result = OX_NTV2_E_TIMEOUT;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (channel >= 8 || static_cast<int>(channel) >= spec_.frame_stores)
            return OX_NTV2_E_INVALID;
        std::uint32_t num = 0, den = 1;
        if (removed_)
            result = OX_NTV2_E_GONE;
        else if (!no_interrupt_ && regs_[OX_NTV2_REG_OUTPUT_INTERRUPT + channel] &&
                 RateOf(static_cast<int>(channel), &num, &den))
            target = VbiTime(VbiAfter(now, num, den), num, den);
    }
    // A board that does not answer makes the caller wait out its time-out, never longer.
    if (target < 0 || target > deadline) {
        BoardSleepUntil(deadline);
        return result;
    }
    BoardSleepUntil(target);
    std::lock_guard<std::mutex> lock(lock_);
    CatchUp();
    return OX_NTV2_OK;
}

int32_t Board::SetFault(const std::string& name, double value) {
    std::lock_guard<std::mutex> lock(lock_);
    CatchUp();
    if (name == "refuse-format") {
        if (value <= 0)
            refuse_formats_.clear();
        else
            refuse_formats_.push_back(static_cast<std::uint32_t>(value));
    } else if (name == "refuse-reference") {
        refuse_reference_ = static_cast<std::int64_t>(value);
    } else if (name == "no-interrupt") {
        no_interrupt_ = value != 0;
    } else if (name == "dma-fail") {
        dma_fail_ = static_cast<std::int64_t>(value);
    } else if (name == "removed") {
        removed_ = value != 0;
    } else if (name == "stall-transfer-us" || name == "late-transfer-us") {
        if (!(value >= 0 && value <= 60e6)) return -1;
        (name[0] == 's' ? stall_transfer_ : late_transfer_) =
            static_cast<Ticks>(value) * platform::kTicksPerMicrosecond;
    } else if (name == "clear") {
        stall_transfer_ = late_transfer_ = 0;
        refuse_formats_.clear();
        refuse_reference_ = -1;
        no_interrupt_ = false;
        dma_fail_ = 0;
        removed_ = false;
    } else {
        return -1;
    }
    return 0;
}

std::uint32_t Board::PeekRegister(std::uint32_t reg) {
    std::lock_guard<std::mutex> lock(lock_);
    return reg < OX_NTV2_REG_COUNT ? regs_[reg] : 0;
}

OxSimAjaChannelStats Board::Stats(int channel) {
    std::lock_guard<std::mutex> lock(lock_);
    CatchUp();
    if (channel < 0 || channel >= 8) return {};
    const Ring& ring = rings_[static_cast<std::size_t>(channel)];
    OxSimAjaChannelStats s = ring.stats;
    s.recording_dropped = ring.recording_dropped +
                          (ring.recorder ? static_cast<std::int64_t>(ring.recorder->Dropped()) : 0);
    s.buffer_level = static_cast<std::int64_t>(ring.queued.size());
    const MarkerFigures m = ring.markers.Figures();
    s.marked_frames = m.frames;
    s.unmarked_frames = m.missing;
    s.marker_offset_min = m.min_offset;
    s.marker_offset_max = m.max_offset;
    s.state = ring.state;
    return s;
}

void Board::Flush() {
    std::vector<std::shared_ptr<Recorder>> recordings;
    {
        std::lock_guard<std::mutex> lock(lock_);
        CatchUp();
        for (Ring& ring : rings_)
            if (ring.recorder) recordings.push_back(ring.recorder);
    }
    for (auto& r : recordings) r->Drain();
}

namespace {
// The loaded rig. Kept on the heap and never destroyed: the library's unload handler closes
// the boards' recordings after the static objects of the process may already be gone.
struct RigState {
    std::mutex lock;
    bool loaded = false;
    std::vector<std::shared_ptr<Board>> boards;
    std::string error;
};
RigState& TheRig() {
    static RigState* const state = new RigState;
    return *state;
}
}  // namespace

std::vector<std::shared_ptr<Board>> CurrentBoards() {
    std::lock_guard<std::mutex> lock(TheRig().lock);
    if (!TheRig().loaded) {
        Rig rig = LoadConfiguredRig(&TheRig().error);
        TheRig().boards.clear();
        for (std::size_t i = 0; i < rig.boards.size(); ++i)
            TheRig().boards.push_back(
                std::make_shared<Board>(std::move(rig.boards[i]), static_cast<int>(i), rig.record));
        TheRig().loaded = true;
    }
    return TheRig().boards;
}

std::string RigError() {
    std::lock_guard<std::mutex> lock(TheRig().lock);
    return TheRig().error;
}

void ResetRig() {
    std::vector<std::shared_ptr<Board>> old;
    {
        std::lock_guard<std::mutex> lock(TheRig().lock);
        old.swap(TheRig().boards);
        TheRig().loaded = false;
        TheRig().error.clear();
    }
}

}  // namespace orvex::sim::aja
