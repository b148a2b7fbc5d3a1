// oxplay: plays a test signal or a file into the OXRenderer module exactly as a host does. It
// makes the generic renderer through the COM runtime, chooses a device, and pushes frames
// through IOXReceiver; on the virtual DeckLink card the output is recorded to files.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "platform/process.h"
#include "tools/common/host.h"
#include "tools/oxplay/options.h"
#include "tools/oxplay/source.h"

namespace {

using namespace oxplay;
using oxtools::Bstr;
using oxtools::HexCode;

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int) {
    g_stop.store(true);
}

// Exit codes: 0 played, 1 failed while playing, 2 bad input (options, names, files).
constexpr int kFailed = 1;
constexpr int kBadInput = 2;

int Fail(int code, const std::string& reason) {
    std::fprintf(stderr, "oxplay: %s\n", reason.c_str());
    return code;
}

std::vector<FormatEntry> ListFormats(IOXDevice* device) {
    std::vector<FormatEntry> out;
    CComQIPtr<IOXFormat> format(device);
    int count = 0;
    if (!format || FAILED(format->FormatVideoGetCount(eMFT_Output, &count))) return out;
    for (int i = 0; i < count; ++i) {
        FormatEntry e;
        CComBSTR name;
        if (FAILED(format->FormatVideoGetByIndex(eMFT_Output, i, &e.props, &name))) continue;
        e.name = oxtools::Utf8(name);
        if (e.props.eVideoFormat == eMVF_Disabled || e.props.nWidth <= 0) continue;
        out.push_back(std::move(e));
    }
    return out;
}

eMTimecodeFlags TimecodeRateFlag(int fps) {
    switch (fps) {
        case 24:
            return eMTCF_Rate_24;
        case 25:
            return eMTCF_Rate_25;
        case 30:
            return eMTCF_Rate_30;
        case 50:
            return eMTCF_Rate_50;
        case 60:
            return eMTCF_Rate_60;
        default:
            return eMTCF_NonDropFrame;
    }
}

// The figures of the progress line and the summary, read from the renderer's "stat" node;
// a figure the renderer does not publish reads "n/a".
struct Figures {
    std::string late, skipped, missed, audio_dropped, overflow, reference, queue;
};

Figures ReadFigures(IOXProps* props) {
    auto get = [&](const char* name) {
        return oxtools::GetProp(props, std::string("stat::") + name).value_or("n/a");
    };
    Figures f;
    f.late = get("bmd.late");
    f.skipped = get("bmd.skipped");
    if (f.skipped == "n/a") f.skipped = get("aja.dropped");  // frames an AJA channel dropped
    f.missed = get("bmd.missed");
    f.audio_dropped = get("bmd.audio_dropped");
    f.overflow = get("buffer_overlow");
    f.queue = get("queue");
    // "locked", "none" or "not-supported", as the renderer words it.
    f.reference = get("ref_status");
    return f;
}

std::string FormatTime(double seconds) {
    char text[32];
    const long long s = static_cast<long long>(seconds);
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%01d", s / 3600, s / 60 % 60, s % 60,
                  static_cast<int>((seconds - static_cast<double>(s)) * 10));
    return text;
}

std::string FiguresLine(double played, std::int64_t frames, const Figures& f) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s  frames %lld  late %s  skipped %s  missed %s  audio dropped %s  "
                  "refused %s  reference %s  queue %s",
                  FormatTime(played).c_str(), static_cast<long long>(frames), f.late.c_str(),
                  f.skipped.c_str(), f.missed.c_str(), f.audio_dropped.c_str(), f.overflow.c_str(),
                  f.reference.c_str(), f.queue.c_str());
    return text;
}

// The folder's files with the time each was last written. A run's recording is a file that
// is new or was written again: a second run into the same folder writes over the first's
// files, under the same names.
std::map<std::string, std::filesystem::file_time_type> FilesIn(const std::string& dir) {
    std::map<std::string, std::filesystem::file_time_type> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::error_code time_ec;
        out[e.path().filename().string()] = e.last_write_time(time_ec);
    }
    return out;
}

int Run(const Options& opt) {
    // The virtual card reads its record folder and rig when it is first made.
    std::string record_dir;
    if (opt.record_dir || !std::getenv("ORVEX_DECKLINK_RECORD")) {
        record_dir = opt.record_dir.value_or("oxplay-recordings");
        std::error_code ec;
        std::filesystem::create_directories(record_dir, ec);
        if (ec) return Fail(kBadInput, "cannot make the record folder '" + record_dir + "'");
        record_dir = std::filesystem::absolute(record_dir).lexically_normal().string();
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RECORD", record_dir);
    } else {
        record_dir = std::getenv("ORVEX_DECKLINK_RECORD");
    }
    // The virtual AJA boards record into the same folder.
    orvex::platform::SetEnvVar("ORVEX_AJA_RECORD", record_dir);
    if (opt.rig) {
        // A preset of the virtual card, else the path of a rig file.
        static const std::set<std::string> kPresets = {"default", "4k",   "hd-sdi", "hdmi",
                                                       "capture", "pair", "studio", "none"};
        if (!kPresets.contains(*opt.rig) && !std::filesystem::is_regular_file(*opt.rig))
            return Fail(kBadInput, "unknown rig '" + *opt.rig +
                                       "' (a file, or default, hd-sdi, hdmi, pair, studio, ...)");
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RIG", *opt.rig);
    }

    // Check what can be checked before any device is touched.
    const bool pattern = IsPatternName(opt.source);
    std::string ext;
    if (!pattern) {
        if (!std::filesystem::is_regular_file(opt.source))
            return Fail(kBadInput,
                        "'" + opt.source + "' is neither a pattern (box, bars, ramp) nor a file");
        ext = std::filesystem::path(opt.source).extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::vector<std::vector<std::uint8_t>> captions;
    if (opt.captions) {
        const std::string err = ReadCaptions(*opt.captions, &captions);
        if (!err.empty()) return Fail(kBadInput, err);
    }

    std::string note;
    if (!oxtools::EnsureDeckLinkDriver(&note))
        std::fprintf(stderr, "oxplay: %s\n", note.c_str());
    else if (!note.empty())
        std::printf("%s\n", note.c_str());

    std::string error;
    CComPtr<IOXDevice> device = oxtools::MakeRenderer(CLSID_OXRenderer, &error);
    if (!device) return Fail(kFailed, error);
    const auto devices = oxtools::ListDevices(device);
    if (opt.list_devices) {
        std::printf("Devices:\n");
        for (std::size_t i = 0; i < devices.size(); ++i)
            std::printf("  %zu: %s%s\n", i, devices[i].name.c_str(),
                        oxtools::DeviceMark(devices[i]).c_str());
        if (devices.empty())
            std::printf("  (none; DeckLink: %s)\n", oxtools::DeckLinkDriver().c_str());
        if (!devices.empty() && SUCCEEDED(device->DeviceSet(eOXDT_Video, 0, nullptr))) {
            std::printf("Formats of device 0 (--format):\n");
            for (const auto& f : ListFormats(device)) std::printf("  %s\n", f.name.c_str());
        }
        return 0;
    }
    if (devices.empty()) return Fail(kFailed, "no output device (oxplay --list-devices)");
    const int index = opt.device ? oxtools::FindDevice(devices, *opt.device) : 0;
    if (index < 0)
        return Fail(kBadInput, "unknown device '" + *opt.device + "' (oxplay --list-devices)");
    HRESULT hr = device->DeviceSet(eOXDT_Video, index, nullptr);
    if (FAILED(hr))
        return Fail(kFailed, "cannot choose device '" + devices[index].name + "': " + HexCode(hr));

    CComQIPtr<IOXProps> props(device);
    for (const auto& [name, value] : opt.props) {
        hr = props ? props->PropsSet(Bstr(name), Bstr(value)) : E_NOINTERFACE;
        if (FAILED(hr))
            return Fail(kBadInput, "cannot set '" + name + "' to '" + value + "': " + HexCode(hr));
    }

    // The output format: named, else the file's own, else HD1080-25p for the patterns.
    const auto formats = ListFormats(device);
    int chosen = -1;
    if (opt.format) {
        chosen = MatchFormatName(formats, *opt.format);
        if (chosen < 0)
            return Fail(kBadInput, "unknown format '" + *opt.format + "' (oxplay --list-devices)");
    }
    auto spec_of = [&](int i) {
        VideoSpec v;
        const M_VID_PROPS& p = formats[i].props;
        v.width = p.nWidth;
        v.height = std::abs(p.nHeight);
        RateFraction(p.dblRate, &v.rate_num, &v.rate_den);
        v.interlace = p.eInterlace == eMI_Default ? eMI_Progressive : p.eInterlace;
        v.format = p.eVideoFormat;
        v.aspect_x = p.nAspectX;
        v.aspect_y = p.nAspectY;
        v.fcc = eMFCC_UYVY;
        if (opt.pixel_format) {
            const std::string& f = *opt.pixel_format;
            v.fcc = f == "HDYC"    ? eMFCC_HDYC
                    : f == "YUY2"  ? eMFCC_YUY2
                    : f == "RGB32" ? eMFCC_RGB32
                    : f == "v210"  ? eMFCC_v210
                                   : eMFCC_UYVY;
        }
        return v;
    };
    VideoSpec pattern_spec;
    {
        const int i = chosen >= 0 ? chosen : MatchFormatName(formats, "HD1080-25p");
        if (i < 0) return Fail(kFailed, "the device lists no video format");
        pattern_spec = spec_of(i);
    }

    std::unique_ptr<Source> source;
    const int fps = std::max(1, static_cast<int>(std::lround(pattern_spec.Rate())));
    int tc_h = 10, tc_m = 0, tc_s = 0, tc_f = 0;
    bool tc_df = false;
    if (opt.timecode) ParseTimecode(*opt.timecode, &tc_h, &tc_m, &tc_s, &tc_f, &tc_df);
    if (pattern) {
        const Pattern kind = opt.source == "bars"   ? Pattern::kBars
                             : opt.source == "ramp" ? Pattern::kRamp
                                                    : Pattern::kBox;
        AudioSpec a;
        a.channels = opt.audio_channels;
        a.bits = 32;
        source =
            MakePatternSource(kind, pattern_spec, a, ((tc_h * 60 + tc_m) * 60 + tc_s) * fps + tc_f);
    } else if (ext == ".y4m") {
        source = OpenY4M(opt.source, pattern_spec.fcc, &error);
    } else if (ext == ".wav") {
        source = OpenWav(opt.source, pattern_spec, &error);
    } else {
        source = OpenMedia(opt.source, pattern_spec, &error);
    }
    if (!source) return Fail(kBadInput, error);
    VideoSpec& video = source->video;
    if (!pattern && video.width != pattern_spec.width) {
        // A file's pictures play in the format of their own size, rate and field order.
        const int i =
            MatchFormatGeometry(formats, video.width, video.height, video.Rate(), video.interlace);
        if (i < 0 || (chosen >= 0 && i != chosen))
            return Fail(kBadInput, "'" + opt.source + "' is " + std::to_string(video.width) + "x" +
                                       std::to_string(video.height) + " at " +
                                       std::to_string(video.Rate()) +
                                       " frames/s; the device has no such format "
                                       "(oxplay does not scale)");
        video.format = formats[i].props.eVideoFormat;
        if (!video.aspect_x) {
            video.aspect_x = formats[i].props.nAspectX;
            video.aspect_y = formats[i].props.nAspectY;
        }
    } else if (!pattern) {
        video.format = pattern_spec.format;
    }

    CComPtr<IOXFactory> factory;
    hr = CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                          reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return Fail(kFailed, "cannot create the frame factory: " + HexCode(hr));
    CComQIPtr<IOXReceiver> receiver(device);
    if (!receiver) return Fail(kFailed, "the renderer takes no frames (no IOXReceiver)");

    // How many frames: --seconds, else 10 s of a pattern, else the whole file.
    std::int64_t limit = -1;
    if (opt.seconds_given ? opt.seconds > 0 : pattern)
        limit = std::llround(opt.seconds * video.Rate());

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const auto before = FilesIn(record_dir);
    std::printf("Playing %s to %s: %dx%d at %.3f frames/s%s, %s\n", opt.source.c_str(),
                devices[index].name.c_str(), video.width, video.height, video.Rate(),
                video.interlace == eMI_Progressive ? "" : " interlaced",
                source->audio.channels > 0 ? (std::to_string(source->audio.channels) + " ch " +
                                              std::to_string(source->audio.rate) + " Hz audio")
                                                 .c_str()
                                           : "no audio");
    std::fflush(stdout);

    const bool tty = isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    auto next_report = start + std::chrono::seconds(1);
    const LONGLONG frame_time = static_cast<LONGLONG>(10000000.0 / video.Rate());
    std::int64_t played = 0;
    int exit_code = 0;
    Frame frame;
    while (!g_stop.load() && (limit < 0 || played < limit)) {
        if (!source->Read(&frame, &error)) {
            if (!error.empty()) {
                exit_code = Fail(played == 0 ? kBadInput : kFailed, error);
                break;
            }
            if (opt.loop && played > 0 && source->Rewind()) continue;
            break;
        }
        M_AV_PROPS av{};
        av.vidProps.eVideoFormat = video.format;
        av.vidProps.fccType = video.fcc;
        av.vidProps.nWidth = video.width;
        av.vidProps.nHeight = video.fcc == eMFCC_RGB32 ? -video.height : video.height;
        av.vidProps.nRowBytes = frame.row_bytes;
        av.vidProps.eInterlace = video.interlace;
        av.vidProps.nAspectX = video.aspect_x;
        av.vidProps.nAspectY = video.aspect_y;
        av.vidProps.dblRate = video.Rate();
        if (frame.samples > 0) {
            av.audProps.nChannels = source->audio.channels;
            av.audProps.nSamplesPerSec = source->audio.rate;
            av.audProps.nBitsPerSample = source->audio.bits;
        }
        CComPtr<IOXFrame> out;
        hr = factory->OXFrameMakeFromMemory(
            &av, static_cast<LONG>(frame.video.size()),
            static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(frame.video.data())),
            frame.samples, static_cast<LONG>(frame.audio.size()),
            static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(frame.audio.data())), &out);
        if (FAILED(hr)) {
            exit_code = Fail(kFailed, "cannot make a frame: " + HexCode(hr));
            break;
        }
        M_TIME time{};
        time.rtStartTime = played * frame_time;
        time.rtEndTime = time.rtStartTime + frame_time;
        const std::string tc =
            TimecodeText(((tc_h * 60 + tc_m) * 60 + tc_s) * fps + tc_f, played, fps);
        std::sscanf(tc.c_str(), "%d:%d:%d:%d", &time.tcFrame.nHours, &time.tcFrame.nMinutes,
                    &time.tcFrame.nSeconds, &time.tcFrame.nFrames);
        time.tcFrame.eTCFlags = TimecodeRateFlag(fps);
        time.eFFlags = opt.live ? eMFF_Live : eMFF_None;
        out->OXTimeSet(&time);
        out->OXTimecodeSet(&time.tcFrame);
        out->OXFlagsSet(time.eFFlags);
        if (!captions.empty()) {
            const auto& pairs = captions[static_cast<std::size_t>(played) % captions.size()];
            if (!pairs.empty())
                out->OXDataSet(
                    0x43363038 /* 'C608' */, static_cast<LONG>(pairs.size()),
                    static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(pairs.data())));
        }
        if (opt.live) {
            // Live frames are never waited for: they come at their own pace, the clock's.
            std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(
                                                      played * 1e6 / video.Rate())));
        }
        // Waits for room in the renderer's queue: the device sets the pace. The renderer
        // refuses a frame it found no room for within its wait (counted as refused); a live
        // frame is then dropped, any other is offered again.
        hr = receiver->ReceiverFramePut(out, -1, nullptr);
        while (hr == E_OUTOFMEMORY && !opt.live && !g_stop.load())
            hr = receiver->ReceiverFramePut(out, -1, nullptr);
        if (FAILED(hr) && hr != E_OUTOFMEMORY) {
            exit_code = Fail(kFailed, "the renderer refused frame " + std::to_string(played) +
                                          ": " + HexCode(hr));
            break;
        }
        ++played;
        const auto now = std::chrono::steady_clock::now();
        if (now >= next_report) {
            next_report += std::chrono::seconds(1);
            const std::string line =
                FiguresLine(static_cast<double>(played) / video.Rate(), played, ReadFigures(props));
            std::fprintf(stderr, tty ? "\r%s\033[K" : "%s\n", line.c_str());
        }
    }
    if (tty) std::fprintf(stderr, "\n");

    // Let the queued frames reach the output before it closes, so the recording is whole.
    if (!g_stop.load()) {
        CComQIPtr<IOXProps> p(device);
        int buffers = 4;
        if (auto b = oxtools::GetProp(p, "input.buffers"))
            buffers = std::max(1, std::atoi(b->c_str()));
        std::this_thread::sleep_for(
            std::chrono::microseconds(static_cast<long long>((buffers + 4) * 1e6 / video.Rate())));
    }
    const Figures end = ReadFigures(props);
    device->DeviceClose();
    device.Release();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s after %.1f s: %s\n", g_stop.load() ? "Stopped" : "Played", elapsed,
                FiguresLine(static_cast<double>(played) / video.Rate(), played, end).c_str());

    std::vector<std::string> made;
    for (const auto& [name, written] : FilesIn(record_dir)) {
        const auto was = before.find(name);
        if (was == before.end() || was->second != written) made.push_back(name);
    }
    std::string y4m, wav;
    int stills = 0;
    for (const auto& name : made) {
        if (name.ends_with(".y4m") && !name.ends_with("-right.y4m")) y4m = record_dir + "/" + name;
        if (name.ends_with(".wav")) wav = record_dir + "/" + name;
        if (name.ends_with(".png")) ++stills;
    }
    if (!y4m.empty()) {
        std::printf("Recording: %s\n", y4m.c_str());
        if (!wav.empty()) std::printf("           %s\n", wav.c_str());
        std::printf("Watch it:  ffplay %s\n", y4m.c_str());
    } else if (stills > 0) {
        // RGB pictures are kept as stills, one per new frame.
        std::printf("Recording: %d PNG stills in %s\n", stills, record_dir.c_str());
        if (!wav.empty()) std::printf("           %s\n", wav.c_str());
    } else {
        std::printf(
            "No recording was made in %s (a real card, or the device records "
            "elsewhere).\n",
            record_dir.c_str());
    }
    if (!wav.empty()) std::printf("Listen:    ffplay %s\n", wav.c_str());
    return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    const std::string err = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &opt);
    if (!err.empty()) return Fail(kBadInput, err);
    if (opt.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    return Run(opt);
}
