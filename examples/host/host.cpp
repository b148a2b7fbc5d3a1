// A small host of the OXRenderer SDK, built against the installed package alone: it lists
// the output devices, chooses one, sets a property, plays 100 frames of a moving bar with a
// tone, and prints the renderer's statistics.
//
//   host [DEVICE-INDEX]
//
// The renderer classes are reached through CoCreateInstance; the package's
// OXRenderer::modules target loads the renderer and frame libraries, which list their classes
// when they load. Output devices come from the drivers registered on the machine (for the
// virtual DeckLink card: orvex-regsvr <prefix>/lib/libOXDeckLinkSim.so).
#include <orvex/orvex.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Owns one reference to an interface.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
    void** out() { return reinterpret_cast<void**>(&p); }
};

// Owns a BSTR.
struct Str {
    BSTR s = nullptr;
    Str() = default;
    explicit Str(const char* ascii) {
        std::u16string wide(ascii, ascii + std::char_traits<char>::length(ascii));
        s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.c_str()),
                              static_cast<UINT>(wide.size()));
    }
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;
    ~Str() { SysFreeString(s); }
    // ASCII view of the text (other characters as '?'), enough for names and figures.
    std::string text() const {
        std::string out;
        for (UINT i = 0; s && i < SysStringLen(s); ++i)
            out += s[i] < 128 ? static_cast<char>(s[i]) : '?';
        return out;
    }
};

bool Check(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "host: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    Ref<IOXDevice> device;
    if (!Check(CoCreateInstance(CLSID_OXRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IOXDevice,
                                device.out()),
               "creating the renderer"))
        return 1;

    // 1. The devices.
    int count = 0;
    if (!Check(device->DeviceGetCount(eOXDT_Video, &count), "counting devices")) return 1;
    std::printf("%d device(s):\n", count);
    for (int i = 0; i < count; ++i) {
        Str name;
        BOOL busy = FALSE;
        if (SUCCEEDED(device->DeviceGetByIndex(eOXDT_Video, i, &name.s, &busy)))
            std::printf("  %d: %s%s\n", i, name.text().c_str(), busy ? " (busy)" : "");
    }
    if (count == 0) {
        std::fprintf(stderr, "host: no output device (is a driver registered?)\n");
        return 1;
    }

    // 2. Choose one.
    const int index = argc > 1 ? std::atoi(argv[1]) : 0;
    if (!Check(device->DeviceSet(eOXDT_Video, index, nullptr), "choosing the device")) return 1;

    // 3. Set a property: three frames of queue between us and the card.
    Ref<IOXProps> props;
    if (!Check(device->QueryInterface(IID_IOXProps, props.out()), "asking for IOXProps")) return 1;
    Str buffers_name("input.buffers"), buffers_value("3");
    if (!Check(props->PropsSet(buffers_name.s, buffers_value.s), "setting input.buffers")) return 1;

    // 4. Play 100 frames: 1920x1080 at 25 frames per second, UYVY, with a 1 kHz stereo tone.
    Ref<IOXFactory> factory;
    Ref<IOXReceiver> receiver;
    if (!Check(CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                                factory.out()),
               "creating the frame factory") ||
        !Check(device->QueryInterface(IID_IOXReceiver, receiver.out()), "asking for IOXReceiver"))
        return 1;
    const int width = 1920, height = 1080, samples = 1920;  // 48000 / 25
    M_AV_PROPS av{};
    av.vidProps.eVideoFormat = eMVF_HD1080_25p;
    av.vidProps.fccType = eMFCC_UYVY;
    av.vidProps.nWidth = width;
    av.vidProps.nHeight = height;
    av.vidProps.nRowBytes = width * 2;
    av.vidProps.eInterlace = eMI_Progressive;
    av.vidProps.nAspectX = 16;
    av.vidProps.nAspectY = 9;
    av.vidProps.dblRate = 25.0;
    av.audProps.nChannels = 2;
    av.audProps.nSamplesPerSec = 48000;
    av.audProps.nBitsPerSample = 16;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 2);
    std::vector<std::int16_t> sound(static_cast<std::size_t>(samples) * 2);
    for (int n = 0; n < 100; ++n) {
        // Grey, with a white bar that moves 16 pixels a frame.
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* px = &picture[(static_cast<std::size_t>(y) * width + x) * 2];
                px[0] = 128;
                px[1] = (x - n * 16 + width) % width < 64 ? 235 : 64;
            }
        for (int i = 0; i < samples; ++i) {
            const double t = static_cast<double>(n * samples + i) / 48000.0;
            sound[2 * i] = sound[2 * i + 1] =
                static_cast<std::int16_t>(4000 * std::sin(2 * 3.14159265358979 * 1000 * t));
        }
        Ref<IOXFrame> frame;
        if (!Check(factory->OXFrameMakeFromMemory(
                       &av, static_cast<LONG>(picture.size()),
                       static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(picture.data())),
                       samples, static_cast<LONG>(sound.size() * 2),
                       static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(sound.data())),
                       reinterpret_cast<IOXFrame**>(frame.out())),
                   "making a frame"))
            return 1;
        // Blocks while the queue is full: the card sets the pace.
        if (!Check(receiver->ReceiverFramePut(frame.p, -1, nullptr), "putting a frame")) return 1;
    }

    // 5. The statistics the renderer keeps under "stat".
    Str stat("stat");
    int stats = 0;
    props->PropsGetCount(stat.s, &stats);
    std::printf("played 100 frames; statistics:\n");
    for (int i = 0; i < stats; ++i) {
        Str name, value;
        BOOL node = FALSE;
        if (SUCCEEDED(props->PropsGetByIndex(stat.s, i, &name.s, &value.s, &node)) && !node)
            std::printf("  %s = %s\n", name.text().c_str(), value.text().c_str());
    }
    device->DeviceClose();
    CoUninitialize();
    return 0;
}
