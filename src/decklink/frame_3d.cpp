#include "decklink/frame_3d.h"

#include <cstdint>

namespace orvex::decklink {
namespace {

CComPtr<IDeckLinkVideoFrame> MakeEye(IDeckLinkVideoFrame* full, int eye) {
    CComObject<CCoDLFrame3D_Eye>* object = nullptr;
    if (FAILED(CComObject<CCoDLFrame3D_Eye>::CreateInstance(&object))) return {};
    object->full = full;
    object->eye = eye;
    return CComPtr<IDeckLinkVideoFrame>(static_cast<IDeckLinkVideoFrame*>(object));
}

}  // namespace

STDMETHODIMP CCoDLFrame3D::GetFrameForRightEye(IDeckLinkVideoFrame** rightEyeFrame) {
    if (!rightEyeFrame) return E_POINTER;
    *rightEyeFrame = right;
    if (right) right->AddRef();
    return S_OK;
}

STDMETHODIMP CCoDLFrame3D_Eye::GetBytes(void** buffer) {
    if (!buffer) return E_POINTER;
    HRESULT hr = full->GetBytes(buffer);
    if (FAILED(hr) || !*buffer || eye == 0) return hr;
    const std::int64_t offset =
        static_cast<std::int64_t>(full->GetRowBytes()) * full->GetHeight() / 2;
    *buffer = static_cast<std::uint8_t*>(*buffer) + offset;
    return hr;
}

HRESULT Create3DFrame(IDeckLinkVideoFrame** out, IDeckLinkVideoFrame* first,
                      IDeckLinkVideoFrame* second) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!first) return E_INVALIDARG;
    CComObject<CCoDLFrame3D>* object = nullptr;
    if (FAILED(CComObject<CCoDLFrame3D>::CreateInstance(&object))) return E_OUTOFMEMORY;
    CComPtr<IDeckLinkVideoFrame> frame(static_cast<IDeckLinkVideoFrame*>(object));
    if (second) {
        object->left = first;
        object->right = second;
    } else {
        object->left = MakeEye(first, 0);
        object->right = MakeEye(first, 1);
        if (!object->left || !object->right) return E_OUTOFMEMORY;
    }
    *out = frame.Detach();
    return S_OK;
}

}  // namespace orvex::decklink
