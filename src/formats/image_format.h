// The state behind IOXFormat: offered format lists per format type, the Input, Convert and
// Override settings, and the output format a frame must be brought to.
#pragma once

#include <vector>

#include "com/types.h"
#include "orvex/types.h"
#include "platform/rw_lock.h"

namespace orvex::formats {

// Bits returned by FormatOutputCompute.
inline constexpr int kConvertVideo = 1;
inline constexpr int kConvertAudio = 2;

// Bits returned by VideoOverrideApply: what the override changed.
inline constexpr int kOverrideFieldOrder = 1;
inline constexpr int kOverrideAspect = 2;
inline constexpr int kOverrideScaleType = 4;
inline constexpr int kOverrideRate = 8;
inline constexpr int kOverridePixelFormat = 16;

// At least one channel, a positive rate and non-zero bits.
bool AudioPropsIsComplete(const M_AUD_PROPS& props);

// Applies an Override record to video properties; returns the kOverride... bits.
int VideoOverrideApply(M_VID_PROPS& vid, const M_VID_PROPS& ovr);
// A copy of `record` whose unset fields come from `base`; null `record` gives `base`.
M_VID_PROPS VideoPropsMerge(const M_VID_PROPS* record, const M_VID_PROPS& base);
M_AUD_PROPS AudioPropsMerge(const M_AUD_PROPS* record, const M_AUD_PROPS& base);
// Level 0: same picture (size, pixel format, field order, rate, aspect, packing, scaling);
// 1: same size; 2: same size and pixel format; 3: also the same row bytes.
bool VideoPropsEqual(const M_VID_PROPS& a, const M_VID_PROPS& b, int level);
// Channels, bits and rate, each only when either side gives it; track split ignored.
bool AudioPropsEqual(const M_AUD_PROPS& a, const M_AUD_PROPS& b);

// The lists every format type offers on the generic renderer.
std::vector<M_VID_PROPS> StandardVideoList();
std::vector<M_AUD_PROPS> StandardAudioList();

inline bool FormatTypeIsValid(eMFormatType type) {
    return type >= eMFT_Input && type <= eMFT_Output;
}

class MImageFormatEx {
public:
    MImageFormatEx() = default;
    MImageFormatEx(const MImageFormatEx&) = delete;
    MImageFormatEx& operator=(const MImageFormatEx&) = delete;
    virtual ~MImageFormatEx() = default;

    // For the frame in `frameProps` (which takes the Override, and whose valid video and
    // complete audio become the Input settings), fills `outProps` with the format to put
    // out; returns kConvertVideo / kConvertAudio. Both pointers may be null.
    int FormatOutputCompute(M_AV_PROPS* frameProps, M_AV_PROPS* outProps);

    // The IOXFormat behaviour without delegation.
    HRESULT OwnVideoGetCount(eMFormatType type, int* pnCount);
    HRESULT OwnVideoGetByIndex(eMFormatType type, int nIndex, M_VID_PROPS* pVidProps,
                               BSTR* pbsName);
    HRESULT OwnVideoSet(eMFormatType type, const M_VID_PROPS* pVidProps);
    HRESULT OwnVideoGet(eMFormatType type, M_VID_PROPS* pVidProps, int* pnIndex, BSTR* pbsName);
    HRESULT OwnAudioGetCount(eMFormatType type, int* pnCount);
    HRESULT OwnAudioGetByIndex(eMFormatType type, int nIndex, M_AUD_PROPS* pAudProps,
                               BSTR* pbsName);
    HRESULT OwnAudioSet(eMFormatType type, const M_AUD_PROPS* pAudProps);
    HRESULT OwnAudioGet(eMFormatType type, M_AUD_PROPS* pAudProps, int* pnIndex, BSTR* pbsName);

    // Index of the first list entry equal to `props`, or -1; `add` appends it when missing.
    int VideoIndexOf(eMFormatType type, const M_VID_PROPS& props, bool add);
    int AudioIndexOf(eMFormatType type, const M_AUD_PROPS& props, bool add);

protected:
    // Sources of the offered formats, asked under the write lock each time a list is
    // (re)built. They must not call back into the format interface of this object.
    virtual void FormatVideoListFill(eMFormatType type, std::vector<M_VID_PROPS>& list);
    virtual void FormatAudioListFill(eMFormatType type, std::vector<M_AUD_PROPS>& list);

    using ReadGuard = orvex::platform::CRWSynchroLiteGuard;
    using WriteGuard = orvex::platform::CRWSynchroLiteGuard;
    ReadGuard ReadLock() const { return ReadGuard(m_lock, orvex::platform::LockMode::kRead); }
    WriteGuard WriteLock() const { return WriteGuard(m_lock, orvex::platform::LockMode::kWrite); }

    // Guarded by the format lock.
    std::vector<M_VID_PROPS> m_videoLists[4];
    std::vector<M_AUD_PROPS> m_audioLists[4];
    M_AV_PROPS m_input{};
    M_AV_PROPS m_convert{};
    M_VID_PROPS m_override{};

private:
    // (Re)builds a list, or only an empty one; returns its length.
    int VideoListBuild(eMFormatType type, bool onlyWhenEmpty);
    int AudioListBuild(eMFormatType type, bool onlyWhenEmpty);
    template <class Props, class Fill>
    int ListBuild(std::vector<Props>& list, bool onlyWhenEmpty, Fill&& fill);
    template <class Props, class Equal>
    int ListIndexOf(std::vector<Props>& list, const Props& props, bool add, Equal&& equal);
    M_VID_PROPS ConvertVideoGet() const;

    // Nested reads allowed: a deriving class may read settings inside its own read section.
    mutable orvex::platform::CRWSynchroLiteRW m_lock{1024, true};
};

}  // namespace orvex::formats
