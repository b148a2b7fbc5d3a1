#include "formats/image_format.h"

#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

#include "formats/format_describe.h"
#include "formats/video_formats.h"

namespace orvex::formats {
namespace {

bool IsStereoPackingTaken(int packing, int base) {
    if (packing == 0) return true;
    if (base >= 6 && base <= 13) return true;
    if (base >= 14 && base <= 16) return packing != eM3D_TopAndBottom;
    if (base >= 17 && base <= 19) return packing == eM3D_SideBySide || packing == eM3D_TopAndBottom;
    return false;
}

bool RatesDiffer(double a, double b) {
    // NaN rates never compare equal to anything.
    return !(std::fabs(a - b) < 0.01);
}

bool AspectsDiffer(const M_VID_PROPS& a, const M_VID_PROPS& b) {
    if (!a.nAspectX || !a.nAspectY || !b.nAspectX || !b.nAspectY) return false;
    if (a.eScaleType == eMST_IgnoreAR || b.eScaleType == eMST_IgnoreAR) return false;
    // 16:9 and 32:18 are the same picture shape.
    return a.nAspectX * b.nAspectY != b.nAspectX * a.nAspectY;
}

// 1 << ((channels - 1) mod 32): one bit per track of the default split.
int DefaultTrackSplitBits(int channels) {
    return static_cast<int>(1u << ((static_cast<unsigned>(channels) - 1u) % 32u));
}

template <class Fn>
HRESULT NoThrow(Fn&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void OutBstrClear(BSTR* pbsName) {
    if (pbsName) *pbsName = nullptr;
}

}  // namespace

bool AudioPropsIsComplete(const M_AUD_PROPS& props) {
    return props.nChannels >= 1 && props.nSamplesPerSec > 0 && props.nBitsPerSample != 0;
}

int VideoOverrideApply(M_VID_PROPS& vid, const M_VID_PROPS& ovr) {
    int flags = 0;
    if (ovr.eInterlace == eMI_Inverse) {
        if (vid.eInterlace == eMI_Field1First || vid.eInterlace == eMI_Field2First) {
            vid.eInterlace = vid.eInterlace == eMI_Field1First ? eMI_Field2First : eMI_Field1First;
            flags |= kOverrideFieldOrder;
        }
    } else if (ovr.eInterlace == eMI_OneField) {
        vid.eInterlace = eMI_Field1First;
        flags |= kOverrideFieldOrder;
    } else if (ovr.eInterlace != eMI_Default) {
        vid.eInterlace = ovr.eInterlace;
        flags |= kOverrideFieldOrder;
    }
    if (ovr.nAspectX != 0 && ovr.nAspectY != 0) {
        vid.nAspectX = ovr.nAspectX;
        vid.nAspectY = ovr.nAspectY;
        flags |= kOverrideAspect;
    }
    if (ovr.eScaleType != eMST_Default) {
        vid.eScaleType = ovr.eScaleType;
        flags |= kOverrideScaleType;
    }
    if (ovr.dblRate != 0) {
        vid.dblRate = ovr.dblRate;
        flags |= kOverrideRate;
    }
    // Only the alpha flag may be overridden: the pixel layout is the same.
    const auto isRgb32 = [](eMFCC f) { return f == eMFCC_ARGB32 || f == eMFCC_RGB32; };
    if (isRgb32(ovr.fccType) && isRgb32(vid.fccType)) {
        vid.fccType = ovr.fccType;
        flags |= kOverridePixelFormat;
    }
    return flags;
}

M_VID_PROPS VideoPropsMerge(const M_VID_PROPS* record, const M_VID_PROPS& base) {
    if (!record) return base;
    M_VID_PROPS r = *record;
    if (r.fccType == eMFCC_Default) r.fccType = base.fccType;
    if (r.fccType == eMFCC_Default) r.fccType = eMFCC_UYVY;
    if (r.eScaleType == eMST_Default) r.eScaleType = base.eScaleType;
    if (r.eInterlace == eMI_Default) r.eInterlace = base.eInterlace;
    if (r.nWidth == 0 || r.nHeight == 0) {
        r.nWidth = base.nWidth;
        r.nHeight = base.nHeight;
        r.nRowBytes = r.fccType != eMFCC_Default ? RowBytesFor(r.fccType, r.nWidth) : 0;
    }
    if (r.nAspectX == 0 || r.nAspectY == 0) {
        r.nAspectX = base.nAspectX;
        r.nAspectY = base.nAspectY;
    }
    if (!(r.dblRate > 0)) r.dblRate = base.dblRate;
    if (r.nRowBytes == 0) r.nRowBytes = RowBytesMin(r);
    if (!PixelFormatIsRGB(r.fccType)) r.nWidth &= ~1;
    return r;
}

M_AUD_PROPS AudioPropsMerge(const M_AUD_PROPS* record, const M_AUD_PROPS& base) {
    if (!record) return base;
    M_AUD_PROPS r = *record;
    if (!AudioPropsIsComplete(base) || r.nChannels < 0) return r;
    if (r.nSamplesPerSec < 1) r.nSamplesPerSec = base.nSamplesPerSec;
    if (r.nBitsPerSample < 1) r.nBitsPerSample = base.nBitsPerSample;
    if (r.nChannels == 0) r.nChannels = base.nChannels;
    return r;
}

bool VideoPropsEqual(const M_VID_PROPS& a, const M_VID_PROPS& b, int level) {
    M_VID_PROPS ca = a;
    M_VID_PROPS cb = b;
    VideoPropsComplete(ca, false);
    VideoPropsComplete(cb, false);
    if (level >= 1) {
        if (ca.nWidth != cb.nWidth) return false;
        if (std::llabs(static_cast<long long>(ca.nHeight)) !=
            std::llabs(static_cast<long long>(cb.nHeight)))
            return false;
        if (level >= 2 && ca.fccType != cb.fccType) return false;
        if (level >= 3 && ca.nRowBytes != cb.nRowBytes) return false;
        return true;
    }
    const bool aspectsDiffer = AspectsDiffer(ca, cb);
    const bool samePicture = ca.fccType == cb.fccType && ca.nWidth == cb.nWidth &&
                             ca.nHeight == cb.nHeight && ca.eInterlace == cb.eInterlace;
    if (ca.eVideoFormat != eMVF_Custom && ca.eVideoFormat == cb.eVideoFormat && samePicture &&
        !aspectsDiffer)
        return true;
    if (RatesDiffer(ca.dblRate, cb.dblRate)) return false;
    return samePicture && ca.e3DFormat == cb.e3DFormat && ca.eScaleType == cb.eScaleType &&
           !aspectsDiffer;
}

bool AudioPropsEqual(const M_AUD_PROPS& a, const M_AUD_PROPS& b) {
    // A field given on one side only counts as a difference.
    return a.nChannels == b.nChannels && a.nBitsPerSample == b.nBitsPerSample &&
           a.nSamplesPerSec == b.nSamplesPerSec;
}

std::vector<M_VID_PROPS> StandardVideoList() {
    constexpr int kPackings[] = {0, eM3D_SideBySide, eM3D_TopAndBottom, eM3D_FullSideBySide,
                                 eM3D_FullTopAndBottom};
    std::vector<M_VID_PROPS> list;
    list.reserve(88);
    for (int packing : kPackings) {
        for (int base = packing ? 1 : 0; base < 40; ++base) {
            if (!IsStereoPackingTaken(packing, base)) continue;
            M_VID_PROPS props{};
            props.eVideoFormat = static_cast<eMVideoFormat>(base | packing);
            // Bases without table values (4K 50p and up) stay in the list with zero size.
            VideoPropsComplete(props, false);
            list.push_back(props);
        }
    }
    M_VID_PROPS disabled{};
    disabled.eVideoFormat = eMVF_Disabled;
    list.push_back(disabled);
    return list;
}

std::vector<M_AUD_PROPS> StandardAudioList() {
    constexpr int kBits[] = {16, 24, 32};
    constexpr int kRates[] = {48000, 44100, 32000, 22050, 16000, 11025, 8000};
    constexpr int kChannels[] = {2, 4, 6, 8, 10, 12, 14, 16, 1};
    std::vector<M_AUD_PROPS> list;
    list.reserve(191);
    list.push_back(M_AUD_PROPS{});
    for (int bits : kBits)
        for (int rate : kRates)
            for (int channels : kChannels) list.push_back(M_AUD_PROPS{channels, rate, bits, 0});
    list.push_back(M_AUD_PROPS{-1, 0, 0, 0});
    return list;
}

void MImageFormatEx::FormatVideoListFill(eMFormatType, std::vector<M_VID_PROPS>& list) {
    list = StandardVideoList();
}

void MImageFormatEx::FormatAudioListFill(eMFormatType, std::vector<M_AUD_PROPS>& list) {
    list = StandardAudioList();
}

int MImageFormatEx::VideoListBuild(eMFormatType type, bool onlyWhenEmpty) {
    return ListBuild(m_videoLists[type], onlyWhenEmpty,
                     [&](auto& list) { FormatVideoListFill(type, list); });
}

int MImageFormatEx::AudioListBuild(eMFormatType type, bool onlyWhenEmpty) {
    return ListBuild(m_audioLists[type], onlyWhenEmpty,
                     [&](auto& list) { FormatAudioListFill(type, list); });
}

template <class Props, class Fill>
int MImageFormatEx::ListBuild(std::vector<Props>& list, bool onlyWhenEmpty, Fill&& fill) {
    if (onlyWhenEmpty) {
        ReadGuard read = ReadLock();
        if (!list.empty()) return static_cast<int>(list.size());
    }
    WriteGuard write = WriteLock();
    if (!onlyWhenEmpty || list.empty()) {
        list.clear();
        fill(list);
    }
    return static_cast<int>(list.size());
}

template <class Props, class Equal>
int MImageFormatEx::ListIndexOf(std::vector<Props>& list, const Props& props, bool add,
                                Equal&& equal) {
    const auto find = [&] {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (equal(list[i], props)) return static_cast<int>(i);
        return -1;
    };
    {
        ReadGuard read = ReadLock();
        const int index = find();
        if (index >= 0 || !add) return index;
    }
    WriteGuard write = WriteLock();
    // Another thread may have added it meanwhile.
    const int index = find();
    if (index >= 0) return index;
    list.push_back(props);
    return static_cast<int>(list.size()) - 1;
}

M_VID_PROPS MImageFormatEx::ConvertVideoGet() const {
    ReadGuard read = ReadLock();
    return m_convert.vidProps;
}

int MImageFormatEx::VideoIndexOf(eMFormatType type, const M_VID_PROPS& props, bool add) {
    if (!FormatTypeIsValid(type)) return -1;
    VideoListBuild(type, true);
    return ListIndexOf(m_videoLists[type], props, add,
                       [](const auto& a, const auto& b) { return VideoPropsEqual(a, b, 0); });
}

int MImageFormatEx::AudioIndexOf(eMFormatType type, const M_AUD_PROPS& props, bool add) {
    if (!FormatTypeIsValid(type)) return -1;
    AudioListBuild(type, true);
    return ListIndexOf(m_audioLists[type], props, add, AudioPropsEqual);
}

HRESULT MImageFormatEx::OwnVideoGetCount(eMFormatType type, int* pnCount) {
    if (!FormatTypeIsValid(type)) return E_INVALIDARG;
    return NoThrow([&] {
        const int count = VideoListBuild(type, false);
        if (pnCount) *pnCount = count;
        return S_OK;
    });
}

HRESULT MImageFormatEx::OwnVideoGetByIndex(eMFormatType type, int nIndex, M_VID_PROPS* pVidProps,
                                           BSTR* pbsName) {
    OutBstrClear(pbsName);
    if (!FormatTypeIsValid(type)) return E_INVALIDARG;
    return NoThrow([&] {
        VideoListBuild(type, true);
        M_VID_PROPS entry{};
        {
            ReadGuard read = ReadLock();
            const auto& list = m_videoLists[type];
            if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= list.size()) return E_INVALIDARG;
            entry = list[static_cast<std::size_t>(nIndex)];
        }
        if (pVidProps) *pVidProps = entry;
        return pbsName ? DescriptionToBstr(VideoFormatDescribe(entry), pbsName) : S_OK;
    });
}

HRESULT MImageFormatEx::OwnVideoSet(eMFormatType type, const M_VID_PROPS* pVidProps) {
    if (type != eMFT_Input && type != eMFT_Convert && type != eMFT_Override) return E_INVALIDARG;
    M_VID_PROPS r = pVidProps ? *pVidProps : M_VID_PROPS{};
    if (type != eMFT_Override) {
        if (VideoPropsIsValid(r)) {
            if (type == eMFT_Convert && r.fccType == eMFCC_Default)
                r.fccType = ConvertVideoGet().fccType;
            VideoPropsComplete(r, false);
        } else if (r.fccType != eMFCC_Default || r.nWidth != 0 || r.nHeight != 0) {
            const M_VID_PROPS convert = ConvertVideoGet();
            r = VideoPropsMerge(&r, convert);
        }
    }
    {
        WriteGuard write = WriteLock();
        M_VID_PROPS& target = type == eMFT_Input     ? m_input.vidProps
                              : type == eMFT_Convert ? m_convert.vidProps
                                                     : m_override;
        if (VideoPropsIsValid(r) && r.eVideoFormat != eMVF_Disabled)
            r = VideoPropsMerge(&r, target);
        if (type != eMFT_Override && VideoPropsEqual(r, target, 0)) {
            target.eScaleType = r.eScaleType;
            return S_FALSE;
        }
        target = r;
    }
    if (!pVidProps) return S_OK;
    // A new format joins the type's list until the next count rebuilds it.
    return NoThrow([&] {
        VideoIndexOf(type, r, true);
        return S_OK;
    });
}

HRESULT MImageFormatEx::OwnVideoGet(eMFormatType type, M_VID_PROPS* pVidProps, int* pnIndex,
                                    BSTR* pbsName) {
    OutBstrClear(pbsName);
    if (!FormatTypeIsValid(type)) return E_INVALIDARG;
    M_VID_PROPS value{};
    if (type == eMFT_Output) {
        M_AV_PROPS out{};
        FormatOutputCompute(nullptr, &out);
        value = out.vidProps;
    } else {
        ReadGuard read = ReadLock();
        value = type == eMFT_Input     ? m_input.vidProps
                : type == eMFT_Convert ? m_convert.vidProps
                                       : m_override;
    }
    if (pVidProps) *pVidProps = value;
    return NoThrow([&] {
        if (pnIndex) *pnIndex = type == eMFT_Override ? -1 : VideoIndexOf(type, value, false);
        if (pbsName) {
            const HRESULT hr = DescriptionToBstr(VideoFormatDescribe(value), pbsName);
            if (FAILED(hr)) return hr;
        }
        return VideoPropsIsValid(value) ? S_OK : S_FALSE;
    });
}

HRESULT MImageFormatEx::OwnAudioGetCount(eMFormatType type, int* pnCount) {
    if (!FormatTypeIsValid(type)) return E_INVALIDARG;
    return NoThrow([&] {
        const int count = AudioListBuild(type, false);
        if (pnCount) *pnCount = count;
        return S_OK;
    });
}

HRESULT MImageFormatEx::OwnAudioGetByIndex(eMFormatType type, int nIndex, M_AUD_PROPS* pAudProps,
                                           BSTR* pbsName) {
    OutBstrClear(pbsName);
    if (!FormatTypeIsValid(type)) return E_INVALIDARG;
    return NoThrow([&] {
        AudioListBuild(type, true);
        M_AUD_PROPS entry{};
        {
            ReadGuard read = ReadLock();
            const auto& list = m_audioLists[type];
            if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= list.size()) return E_INVALIDARG;
            entry = list[static_cast<std::size_t>(nIndex)];
        }
        if (pAudProps) *pAudProps = entry;
        return pbsName ? DescriptionToBstr(AudioFormatDescribe(entry), pbsName) : S_OK;
    });
}

HRESULT MImageFormatEx::OwnAudioSet(eMFormatType type, const M_AUD_PROPS* pAudProps) {
    if (type != eMFT_Input && type != eMFT_Convert) return E_INVALIDARG;
    M_AUD_PROPS r = pAudProps ? *pAudProps : M_AUD_PROPS{};
    if (r.nTrackSplitBits == 0 && r.nChannels >= 1)
        r.nTrackSplitBits = DefaultTrackSplitBits(r.nChannels);
    {
        WriteGuard write = WriteLock();
        M_AUD_PROPS& target = type == eMFT_Input ? m_input.audProps : m_convert.audProps;
        const bool setsAnything = r.nChannels > 0 || r.nSamplesPerSec > 0 || r.nBitsPerSample != 0;
        if (setsAnything && r.nChannels >= 0) r = AudioPropsMerge(&r, target);
        if (AudioPropsEqual(target, r)) return S_FALSE;
        target = r;
    }
    if (!pAudProps) return S_OK;
    return NoThrow([&] {
        AudioIndexOf(type, r, true);
        return S_OK;
    });
}

HRESULT MImageFormatEx::OwnAudioGet(eMFormatType type, M_AUD_PROPS* pAudProps, int* pnIndex,
                                    BSTR* pbsName) {
    OutBstrClear(pbsName);
    if (!FormatTypeIsValid(type)) return E_INVALIDARG;
    // Audio has no Override setting: it reads as not specified.
    M_AUD_PROPS value{};
    if (type == eMFT_Output) {
        M_AV_PROPS out{};
        FormatOutputCompute(nullptr, &out);
        value = out.audProps;
    } else if (type != eMFT_Override) {
        ReadGuard read = ReadLock();
        value = type == eMFT_Input ? m_input.audProps : m_convert.audProps;
    }
    if (pAudProps) *pAudProps = value;
    return NoThrow([&] {
        if (pnIndex) *pnIndex = type == eMFT_Override ? -1 : AudioIndexOf(type, value, false);
        if (pbsName) {
            const HRESULT hr = DescriptionToBstr(AudioFormatDescribe(value), pbsName);
            if (FAILED(hr)) return hr;
        }
        return AudioPropsIsComplete(value) ? S_OK : S_FALSE;
    });
}

int MImageFormatEx::FormatOutputCompute(M_AV_PROPS* frameProps, M_AV_PROPS* outProps) {
    if (frameProps) {
        WriteGuard write = WriteLock();
        if (VideoPropsIsValid(frameProps->vidProps)) m_input.vidProps = frameProps->vidProps;
        if (AudioPropsIsComplete(frameProps->audProps)) m_input.audProps = frameProps->audProps;
    }

    ReadGuard read = ReadLock();
    M_AV_PROPS* in = frameProps;
    M_AV_PROPS local;
    if (!in) {
        local = m_input;
        in = &local;
    }
    VideoOverrideApply(in->vidProps, m_override);
    M_AV_PROPS out = *in;
    int flags = 0;

    const M_VID_PROPS& cv = m_convert.vidProps;
    if (VideoPropsIsValid(cv)) {
        out.vidProps = cv;
        flags |= kConvertVideo;
    } else {
        if (cv.fccType != eMFCC_Default) {
            out.vidProps.fccType = cv.fccType;
            out.vidProps.nRowBytes = RowBytesFor(cv.fccType, out.vidProps.nWidth);
            flags |= kConvertVideo;
        }
        if (cv.nAspectX != 0 && cv.nAspectY != 0) {
            out.vidProps.nAspectX = cv.nAspectX;
            out.vidProps.nAspectY = cv.nAspectY;
            flags |= kConvertVideo;
        }
    }
    if (m_override.eInterlace == eMI_OneField) {
        out.vidProps.eInterlace = eMI_Progressive;
        flags |= kConvertVideo;
    }
    if (VideoPropsEqual(out.vidProps, in->vidProps, 0)) flags &= ~kConvertVideo;

    const M_AUD_PROPS& ca = m_convert.audProps;
    M_AUD_PROPS& oa = out.audProps;
    if (ca.nChannels != 0) {
        oa.nChannels = ca.nChannels;
        flags |= kConvertAudio;
    }
    if (ca.nSamplesPerSec > 0) {
        oa.nSamplesPerSec = ca.nSamplesPerSec;
        flags |= kConvertAudio;
    }
    if (ca.nBitsPerSample != 0) {
        oa.nBitsPerSample = ca.nBitsPerSample;
        flags |= kConvertAudio;
    }
    if (ca.nTrackSplitBits > 0) {
        oa.nTrackSplitBits = ca.nTrackSplitBits;
        flags |= kConvertAudio;
    }
    const M_AUD_PROPS& ia = in->audProps;
    if (oa.nChannels == ia.nChannels && oa.nBitsPerSample == ia.nBitsPerSample &&
        oa.nSamplesPerSec == ia.nSamplesPerSec)
        flags &= ~kConvertAudio;

    out.bLocked = in->bLocked;
    if (outProps) *outProps = out;
    return flags;
}

}  // namespace orvex::formats
