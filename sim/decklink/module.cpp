// Entry points of the virtual DeckLink card library: the class object of the iterator class,
// self-registration under HKEY_CLASSES_ROOT, and the control functions of sim_control.h.
#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>

#include "com/class_objects.h"
#include "com/module_entry.h"
#include "com/runtime.h"
#include "platform/module_info.h"
#include "platform/registry.h"
#include "sim/decklink/objects.h"
#include "sim/decklink/sim_control.h"

namespace {

using namespace orvex::sim::decklink;

struct ClassEntry {
    const CLSID* clsid;
    _CREATORFUNC creator;
    std::atomic<IUnknown*> class_object{nullptr};
};

ClassEntry g_classes[] = {{&CLSID_CDeckLinkIterator, &SimIterator::Create}};
std::mutex g_class_object_lock;

std::u16string ClassKey() {
    return u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator);
}

std::shared_ptr<Card> CardAt(int32_t index) {
    auto cards = CurrentCards();
    if (index < 0 || static_cast<std::size_t>(index) >= cards.size()) return nullptr;
    return cards[static_cast<std::size_t>(index)];
}

}  // namespace

// The card library is reached only through the registry, as a driver is: it does not list its
// class in the process class table.
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return orvex::com::GetCachedClassObject(std::begin(g_classes), std::end(g_classes),
                                            g_class_object_lock, rclsid, riid, ppv);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return orvex::com::ThisModule().LockCount() == 0 ? S_OK : S_FALSE;
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    static const char anchor = 0;
    const std::string path = orvex::platform::ModulePathOf(&anchor);
    if (path.empty()) return E_UNEXPECTED;
    orvex::platform::RegistryKey key;
    LONG err = key.Create(orvex::platform::RegRoot::kClassesRoot, ClassKey());
    if (err == ERROR_SUCCESS) err = key.SetString(u"", u"Orvex virtual DeckLink card");
    orvex::platform::RegistryKey server;
    if (err == ERROR_SUCCESS)
        err =
            server.Create(orvex::platform::RegRoot::kClassesRoot, ClassKey() + u"\\InprocServer32");
    if (err == ERROR_SUCCESS) err = server.SetString(u"", orvex::com::ToUtf16(path));
    if (err == ERROR_SUCCESS) err = server.SetString(u"ThreadingModel", u"Both");
    return HRESULT_FROM_WIN32(err);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    LONG err =
        orvex::platform::RegistryDeleteTree(orvex::platform::RegRoot::kClassesRoot, ClassKey());
    return err == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(err);
}

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
    *out = OxSimCardStats{
        s.periods,           s.new_frames,        s.repeats,         s.replaced,
        s.frames_alive,      s.frame_bytes_alive, s.allocate_calls,  s.release_calls,
        s.commit_calls,      s.decommit_calls,    s.audio_played,    s.audio_silence,
        s.recording_dropped, s.markers.frames,    s.markers.missing, s.markers.min_offset,
        s.markers.max_offset};
    return S_OK;
}

ORVEX_EXPORT int32_t OxSimDeckLinkFlush(int32_t card) {
    auto c = CardAt(card);
    if (!c) return E_INVALIDARG;
    c->Flush();
    return S_OK;
}

namespace {
bool SimAttach(void*) {
    return true;
}
void SimDetach() {
    orvex::com::RevokeModuleClasses(std::begin(g_classes), std::end(g_classes), &DllGetClassObject);
    DestroyRig();  // closes the recordings of cards nobody holds any more
}
}  // namespace

ORVEX_MODULE_ENTRY(SimAttach, SimDetach)
