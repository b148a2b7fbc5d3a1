// oxplay: plays a test signal or any media file into the OXRenderer module exactly as a host
// does. It makes the generic renderer through the COM runtime, chooses a device and the
// output format that suits the file, tells the renderer to convert to that format, and
// pushes one frame a period through IOXReceiver; on the virtual card the output is recorded.
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "platform/process.h"
#include "tools/common/host.h"
#include "tools/oxplay/options.h"
#include "tools/oxplay/play.h"
#include "tools/oxplay/source.h"

namespace {

using namespace oxplay;
using oxtools::Bstr;
using oxtools::HexCode;

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int signal) {
    g_stop.store(true);
    // A second Ctrl-C ends the program at once.
    std::signal(signal, SIG_DFL);
}

// Exit codes: 0 played, 1 failed while playing, 2 bad input (options, names, files).
constexpr int kFailed = 1;
constexpr int kBadInput = 2;

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

void PrintRecording(const std::string& record_dir,
                    const std::map<std::string, std::filesystem::file_time_type>& before) {
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
        std::printf("Recording: %s\n", Printable(y4m).c_str());
        if (!wav.empty()) std::printf("           %s\n", Printable(wav).c_str());
        std::printf("Watch it:  ffplay %s\n", Printable(y4m).c_str());
    } else if (stills > 0) {
        // RGB pictures are kept as stills, one per new frame.
        std::printf("Recording: %d PNG stills in %s\n", stills, Printable(record_dir).c_str());
        if (!wav.empty()) std::printf("           %s\n", Printable(wav).c_str());
    } else {
        std::printf("No recording was made in %s (a real card, or the device records elsewhere).\n",
                    Printable(record_dir).c_str());
    }
    if (!wav.empty()) std::printf("Listen:    ffplay %s\n", Printable(wav).c_str());
}

eMFCC PixelFormat(const std::string& name) {
    return name == "HDYC"    ? eMFCC_HDYC
           : name == "YUY2"  ? eMFCC_YUY2
           : name == "RGB32" ? eMFCC_RGB32
           : name == "v210"  ? eMFCC_v210
                             : eMFCC_UYVY;
}

bool IsTrue(const std::optional<std::string>& value) {
    return value && (*value == "true" || *value == "1" || *value == "yes");
}

// The timecode of the first frame (10:00:00:00 unless given), counted in the output's frames;
// a one-line reason when that label does not exist at the output's rate.
std::string StartTimecode(const std::optional<std::string>& text, const M_VID_PROPS& out,
                          TimecodeClock* clock) {
    clock->fps = std::max(1, static_cast<int>(std::lround(out.dblRate)));
    int h = 10, m = 0, s = 0, f = 0;
    bool drop = false;
    if (text) ParseTimecode(*text, &h, &m, &s, &f, &drop);
    int num = 0, den = 0;
    RateFraction(out.dblRate, &num, &den);
    clock->drop_frame = drop;
    return TimecodeFrames(h, m, s, f, drop, clock->fps, den == 1001, &clock->start_frames);
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
    std::unique_ptr<Source> source;
    std::string error;
    if (!pattern && !opt.list_devices) {
        if (!std::filesystem::is_regular_file(opt.source))
            return Fail(kBadInput,
                        "'" + opt.source + "' is neither a pattern (box, bars, ramp) nor a file");
        std::string ext = std::filesystem::path(opt.source).extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        source = ext == ".y4m"   ? OpenY4M(opt.source, &error)
                 : ext == ".wav" ? OpenWav(opt.source, &error)
                                 : OpenMedia(opt.source, &error);
        if (!source) return Fail(kBadInput, error);
    }
    std::vector<std::vector<std::uint8_t>> captions;
    if (opt.captions) {
        error = ReadCaptions(*opt.captions, &captions);
        if (!error.empty()) return Fail(kBadInput, error);
    }

    std::string note;
    if (!oxtools::EnsureDeckLinkDriver(&note))
        std::fprintf(stderr, "oxplay: %s\n", Printable(note).c_str());
    else if (!note.empty())
        std::printf("%s\n", note.c_str());  // our own lines

    CComPtr<IOXDevice> device = oxtools::MakeRenderer(CLSID_OXRenderer, &error);
    if (!device) return Fail(kFailed, error);
    const auto devices = oxtools::ListDevices(device);
    if (const std::string rig = oxtools::RigError(); !rig.empty()) return Fail(kBadInput, rig);
    if (opt.list_devices) {
        std::printf("Devices:\n");
        for (std::size_t i = 0; i < devices.size(); ++i)
            std::printf("  %zu: %s%s\n", i, Printable(devices[i].name).c_str(),
                        oxtools::DeviceMark(devices[i]).c_str());
        if (devices.empty())
            std::printf("  (none; DeckLink: %s)\n", Printable(oxtools::DeckLinkDriver()).c_str());
        if (!devices.empty() && SUCCEEDED(device->DeviceSet(eOXDT_Video, 0, nullptr))) {
            std::printf("Formats of device 0 (--format):\n");
            for (const auto& f : ListFormats(device))
                std::printf("  %s\n", Printable(f.name).c_str());
        }
        return 0;
    }
    if (devices.empty()) return Fail(kFailed, "no output device (oxplay --list-devices)");
    const int index = opt.device ? oxtools::FindDevice(devices, *opt.device) : 0;
    if (index < 0)
        return Fail(kBadInput, "unknown device '" + *opt.device + "' (oxplay --list-devices)");
    HRESULT hr = device->DeviceSet(eOXDT_Video, index, nullptr);
    if (FAILED(hr))
        return Fail(kFailed, "cannot choose device '" + devices[index].name + "': " +
                                 (hr == static_cast<HRESULT>(0x800700AA)
                                      ? "it is busy: another program plays through it"
                                      : HexCode(hr)));

    CComQIPtr<IOXProps> props(device);
    if (!props) return Fail(kFailed, "the renderer has no properties (no IOXProps)");
    for (const auto& [name, value] : opt.props) {
        if (auto why = oxtools::SettingRefusal(props, name, value); !why.empty())
            return Fail(kBadInput, why);
        hr = props->PropsSet(Bstr(name), Bstr(value));
        if (FAILED(hr))
            return Fail(kBadInput, "cannot set '" + name + "' to '" + value + "': " + HexCode(hr));
    }

    // The output format: named, else the one that suits the file, else HD1080-25p.
    const auto formats = ListFormats(device);
    int chosen = -1;
    if (opt.format) {
        chosen = MatchFormatName(formats, *opt.format);
        if (chosen < 0)
            return Fail(kBadInput, "unknown format '" + *opt.format + "' (oxplay --list-devices)");
    } else if (source && source->video.present) {
        const VideoInfo& v = source->video;
        chosen = ChooseFormat(
            formats, {v.width, v.height, static_cast<double>(v.aspect_num) / v.aspect_den, v.Rate(),
                      v.interlace != eMI_Progressive});
    } else {
        chosen = MatchFormatName(formats, "HD1080-25p");
        if (chosen < 0) chosen = ChooseFormat(formats, {1920, 1080, 1.0, 25.0, false});
    }
    if (chosen < 0) return Fail(kFailed, "the device lists no video format");
    M_VID_PROPS out = formats[chosen].props;
    if (opt.pixel_format) out.fccType = PixelFormat(*opt.pixel_format);
    out.nHeight = std::abs(out.nHeight);
    out.nRowBytes = RowBytesOf(out.fccType, out.nWidth);
    if (out.eInterlace == eMI_Default) out.eInterlace = eMI_Progressive;
    OutputClock clock;
    RateFraction(out.dblRate, &clock.rate_num, &clock.rate_den);
    clock.order = out.eInterlace;

    TimecodeClock timecode;
    error = StartTimecode(opt.timecode, out, &timecode);
    if (!error.empty()) return Fail(kBadInput, error);

    // The renderer converts (and scales) every frame to the output's format.
    CComQIPtr<IOXFormat> format(device);
    hr = format ? format->FormatVideoSet(eMFT_Convert, &out) : E_NOINTERFACE;
    if (FAILED(hr)) return Fail(kFailed, "cannot set the output format: " + HexCode(hr));

    PatternFormat pattern_format;
    pattern_format.width = out.nWidth;
    pattern_format.height = out.nHeight;
    pattern_format.rate_num = clock.rate_num;
    pattern_format.rate_den = clock.rate_den;
    pattern_format.fcc = out.fccType;
    pattern_format.interlace = out.eInterlace;
    pattern_format.timecode = timecode;
    pattern_format.pattern = opt.source == "bars"   ? Pattern::kBars
                             : opt.source == "ramp" ? Pattern::kRamp
                                                    : Pattern::kBox;
    if (pattern) source = MakePatternSource(pattern_format, opt.audio_channels);

    if (!captions.empty()) {
        // Captions travel in the ancillary space of 10-bit output, or on line 21 of NTSC.
        const int base = out.eVideoFormat & 0xFF;
        const bool ntsc = base == eMVF_NTSC || base == eMVF_NTSC_16x9;
        if (out.fccType != eMFCC_v210 && !IsTrue(oxtools::GetProp(props, "output.10bit")) && !ntsc)
            Warn("captions go out only with 10-bit output on " +
                 formats[chosen].name.substr(0, formats[chosen].name.find(' ')) +
                 ": add --pixel-format v210");
    }

    // How much: --seconds, else 10 s of a pattern, else the whole file.
    std::int64_t limit = -1;
    if (opt.seconds_given ? opt.seconds > 0 : pattern)
        limit = std::llround(opt.seconds * clock.rate_num / clock.rate_den);
    Schedule schedule(source.get(), clock, limit, opt.loop);

    PlaySetup setup;
    setup.output = out;
    setup.output_name = formats[chosen].name.substr(0, formats[chosen].name.find(' '));
    setup.clock = clock;
    setup.fit = {opt.fit, out.nWidth, out.nHeight, OutputPixelAspect(out), out.eInterlace};
    setup.audio = source->audio;
    setup.timecode = timecode;
    setup.captions = &captions;
    setup.live = opt.live;
    if (!source->video.present) setup.bars = BarsImage(pattern_format);

    // What the picture becomes, for the start block (and a picture that cannot be fitted is
    // refused before anything plays).
    Rows rows;
    rows.emplace_back("file", FileRow(*source, pattern));
    rows.emplace_back("output",
                      formats[chosen].name + (opt.pixel_format ? " as " + *opt.pixel_format : ""));
    FrameShape shape;
    if (source->video.present && !pattern) {
        auto probe = std::make_shared<Image>();
        probe->fcc = eMFCC_UYVY;
        probe->width = source->video.width;
        probe->height = source->video.height;
        probe->interlace = source->video.interlace;
        probe->aspect_num = source->video.aspect_num;
        probe->aspect_den = source->video.aspect_den;
        PeriodPlan plan;
        plan.picture = probe;
        if (!ShapeFor(plan, schedule.scan(), setup.fit, &shape, &error))
            return Fail(kBadInput, "'" + opt.source + "': " + error);
        rows.emplace_back("fit", FitRow(shape, opt.fit, setup.fit));
        // Fields grow apart only when the renderer is asked to (it keeps them apart by itself
        // when it shrinks them): Catmull-Rom field by field, unless a quality was chosen.
        const bool fields = schedule.scan() == Scan::kWeave ||
                            (shape.interlace != eMI_Progressive && clock.Interlaced());
        const auto quality = oxtools::GetProp(props, "scaling_quality");
        if (fields && shape.Height() < out.nHeight && (!quality || *quality == "auto"))
            props->PropsSet(Bstr("scaling_quality"), Bstr("15"));
    }
    rows.emplace_back("rate", RateRow(source->video, clock, schedule.scan(), shape.shift));
    rows.emplace_back("audio", AudioRow(source->audio));
    std::printf("%s", Block("Playing " + opt.source + " to " + devices[index].name, rows).c_str());
    std::fflush(stdout);

    CComPtr<IOXFactory> factory;
    hr = CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                          reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return Fail(kFailed, "cannot create the frame factory: " + HexCode(hr));
    CComQIPtr<IOXReceiver> receiver(device);
    if (!receiver) return Fail(kFailed, "the renderer takes no frames (no IOXReceiver)");

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const auto before = FilesIn(record_dir);
    const PlayOutcome played = Play(schedule, setup, {device, receiver, factory, props}, g_stop);
    device->DeviceClose();
    device.Release();
    const double seconds = static_cast<double>(played.played) * clock.rate_den / clock.rate_num;
    std::printf("%s after %.1f s: %s\n", played.stopped ? "Stopped" : "Played", played.seconds,
                FiguresLine(seconds, played.played, played.figures).c_str());
    if (source->video.present && !pattern)
        std::printf("Source pictures: %s\n", PicturesRow(schedule.counts()).c_str());
    PrintRecording(record_dir, before);
    return played.exit_code;
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
