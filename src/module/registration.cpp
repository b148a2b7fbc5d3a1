// Registration of the renderer classes under HKEY_CLASSES_ROOT. Each class's script has the
// same shape, filled from its row of the class table:
//
//   HKCR {
//     <ProgID> = s '<description>' { CLSID = s '{clsid}' }
//     <VersionIndependentProgID> = s '<description>' { CLSID = s '{clsid}' CurVer = s '<ProgID>' }
//     NoRemove CLSID {
//       ForceRemove {clsid} = s '<description>' {
//         ProgID = s '<ProgID>'
//         VersionIndependentProgID = s '<VersionIndependentProgID>'
//         InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Free' }
//         TypeLib = s '{libid}'
//       }
//     }
//   }
//
// NoRemove keys are never deleted on unregistration; ForceRemove keys are deleted with their
// subtree before they are written again. The type library is only named, never registered.
#include <string>

#include "com/runtime.h"
#include "module/class_table.h"
#include "orvex/ids.h"
#include "platform/registry.h"

namespace orvex::module {
namespace {

using platform::RegistryKey;
using platform::RegRoot;

// A single-quoted script string: a doubled quote stands for one quote.
std::u16string ScriptString(std::u16string_view quoted) {
    std::u16string out;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        out += quoted[i];
        if (quoted[i] == u'\'' && i + 1 < quoted.size() && quoted[i + 1] == u'\'') ++i;
    }
    return out;
}

HRESULT WriteKey(std::u16string_view path, std::u16string_view default_value,
                 std::u16string_view value_name = {}, std::u16string_view value = {}) {
    RegistryKey key;
    LONG err = key.Create(RegRoot::kClassesRoot, path);
    if (err == ERROR_SUCCESS && !default_value.empty()) err = key.SetString(u"", default_value);
    if (err == ERROR_SUCCESS && !value_name.empty()) err = key.SetString(value_name, value);
    return HRESULT_FROM_WIN32(err);
}

HRESULT RunScript(const ClassEntry& e, const char16_t* module, bool do_register) {
    const std::u16string clsid = com::GuidToString(*e.clsid);
    const std::u16string prog_id = e.prog_id;
    const std::u16string vi_prog_id = e.version_independent_prog_id;
    const std::u16string class_key = u"CLSID\\" + clsid;

    if (!do_register) {
        for (const std::u16string& k : {prog_id, vi_prog_id, class_key}) {
            LONG err = platform::RegistryDeleteTree(RegRoot::kClassesRoot, k);
            if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(err);
        }
        return S_OK;
    }

    HRESULT hr = S_OK;
    auto step = [&hr](HRESULT r) {
        if (SUCCEEDED(hr)) hr = r;
    };
    step(WriteKey(prog_id, e.description));
    step(WriteKey(prog_id + u"\\CLSID", clsid));
    step(WriteKey(vi_prog_id, e.description));
    step(WriteKey(vi_prog_id + u"\\CLSID", clsid));
    step(WriteKey(vi_prog_id + u"\\CurVer", prog_id));
    if (SUCCEEDED(hr)) {  // ForceRemove
        LONG err = platform::RegistryDeleteTree(RegRoot::kClassesRoot, class_key);
        if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) hr = HRESULT_FROM_WIN32(err);
    }
    step(WriteKey(class_key, e.description));
    step(WriteKey(class_key + u"\\ProgID", prog_id));
    step(WriteKey(class_key + u"\\VersionIndependentProgID", vi_prog_id));
    step(WriteKey(class_key + u"\\InprocServer32", ScriptString(module), u"ThreadingModel",
                  u"Free"));
    step(WriteKey(class_key + u"\\TypeLib", com::GuidToString(LIBID_OrvexLib)));
    return hr;
}

}  // namespace

HRESULT RegisterClasses(const char16_t* module_path) {
    for (ClassEntry* e = ClassTableBegin(); e != ClassTableEnd(); ++e) {
        HRESULT hr = RunScript(*e, module_path, true);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterClasses() {
    HRESULT first = S_OK;
    for (ClassEntry* e = ClassTableBegin(); e != ClassTableEnd(); ++e) {
        HRESULT hr = RunScript(*e, u"", false);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

}  // namespace orvex::module
