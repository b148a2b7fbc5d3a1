// The module as a Windows in-process server, created by the system's COM. <windows.h> comes
// first, as in a host, so the public headers build against the system's COM declarations.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "decklink/api/decklink_api.h"
#include "orvex/ids.h"

namespace {

// The system's free-threaded marshaler (spelt out: the import library's constant differs).
constexpr CLSID kFreeThreadedMarshaler = MakeGuid("0000033a-0000-0000-c000-000000000046");

struct ClassCase {
    const CLSID* clsid;
    const wchar_t* prog_id;  // null for classes without one
    const char* module;      // the DLL that serves it
    bool renderer;           // answers IOXDevice and aggregates the free-threaded marshaler
};

const ClassCase kClasses[] = {
    {&CLSID_OXRenderer, L"Orvex.OXRenderer.1", OXRENDERER_PATH, true},
    {&CLSID_OXRendererBMD, L"Orvex.OXRendererBMD.1", OXRENDERER_PATH, true},
    {&CLSID_OXRendererAJA, L"Orvex.OXRendererAJA.1", OXRENDERER_PATH, true},
    {&CLSID_OXFactory, nullptr, OXFRAME_PATH, false},
    {&CLSID_MFactoryPriv, nullptr, OXFRAME_PATH, false},
};

std::wstring Braced(REFGUID g) {
    wchar_t buf[40] = {};
    StringFromGUID2(g, buf, 40);
    return buf;
}

std::wstring ReadClassesString(const std::wstring& key, const wchar_t* name) {
    wchar_t buf[1024] = {};
    DWORD size = sizeof buf;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS)
        return L"<missing>";
    return buf;
}

// The full Windows form of a path the build wrote (under Wine a Unix path is on drive Z:).
std::wstring FullPath(const std::string& path) {
    const std::wstring wide(path.begin(), path.end());
    wchar_t buf[MAX_PATH * 2] = {};
    GetFullPathNameW(wide.c_str(), MAX_PATH * 2, buf, nullptr);
    return buf;
}

// Creates every class on a new thread of the given apartment; one message per failure.
std::string CreateAllIn(DWORD apartment) {
    std::string failures;
    std::thread([&] {
        if (FAILED(CoInitializeEx(nullptr, apartment))) {
            failures = "CoInitializeEx failed";
            return;
        }
        for (const ClassCase& c : kClasses) {
            const std::wstring id = Braced(*c.clsid);
            const std::string name(id.begin(), id.end());
            IUnknown *object = nullptr, *device = nullptr;
            IMarshal* marshal = nullptr;
            CLSID unmarshal = GUID_NULL;
            if (FAILED(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&object)))) {
                failures += name + ": not created\n";
                continue;
            }
            if (c.renderer &&
                FAILED(object->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device))))
                failures += name + ": no IOXDevice\n";
            // Free-threaded: the system's marshaler hands the raw pointer across.
            if (c.renderer &&
                (FAILED(object->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) ||
                 FAILED(marshal->GetUnmarshalClass(IID_IUnknown, object, MSHCTX_INPROC, nullptr,
                                                   MSHLFLAGS_NORMAL, &unmarshal)) ||
                 !IsEqualCLSID(unmarshal, kFreeThreadedMarshaler)))
                failures += name + ": not free-threaded\n";
            if (device) device->Release();
            if (marshal) marshal->Release();
            object->Release();
        }
        CoUninitialize();
    }).join();
    return failures;
}

TEST(WindowsComServer, RegistrationWroteTheClassKeys) {
    for (const ClassCase& c : kClasses) {
        const std::wstring key = L"CLSID\\" + Braced(*c.clsid);
        const std::wstring server = ReadClassesString(key + L"\\InprocServer32", L"");
        EXPECT_EQ(CompareStringOrdinal(server.c_str(), -1, FullPath(c.module).c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << c.module;
        EXPECT_EQ(ReadClassesString(key + L"\\InprocServer32", L"ThreadingModel"), L"Free");
        if (!c.prog_id) continue;
        CLSID from_prog_id = GUID_NULL;
        EXPECT_EQ(CLSIDFromProgID(c.prog_id, &from_prog_id), S_OK);
        EXPECT_TRUE(IsEqualCLSID(from_prog_id, *c.clsid));
        EXPECT_EQ(ReadClassesString(key + L"\\ProgID", L""), c.prog_id);
    }
}

TEST(WindowsComServer, EveryClassIsCreatedFromBothApartmentKinds) {
    EXPECT_EQ(CreateAllIn(COINIT_MULTITHREADED), "");
    EXPECT_EQ(CreateAllIn(COINIT_APARTMENTTHREADED), "");
}

// regsvr32 on the virtual card (inheriting this test's private registry location).
TEST(WindowsComServer, Regsvr32RegistersAndRemovesTheVirtualCard) {
    auto run = [](const std::wstring& args) {
        std::wstring line =
            L"regsvr32.exe /s " + args + L" \"" + FullPath(OXDECKLINKSIM_PATH) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return static_cast<DWORD>(-1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return code;
    };
    const wchar_t* private_key = _wgetenv(L"ORVEX_REGISTRY_KEY");
    ASSERT_NE(private_key, nullptr);
    const std::wstring server = std::wstring(private_key) + L"\\HKCR\\CLSID\\" +
                                Braced(CLSID_CDeckLinkIterator) + L"\\InprocServer32";
    auto registered = [&] {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, server.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    };
    ASSERT_EQ(run(L""), 0u);
    EXPECT_TRUE(registered());
    ASSERT_EQ(run(L"/u"), 0u);
    EXPECT_FALSE(registered());
}

}  // namespace
