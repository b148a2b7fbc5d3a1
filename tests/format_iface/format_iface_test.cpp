// IOXFormat as a host sees it: lists, sets and gets, output computation, delegation.
#include <gtest/gtest.h>

#include <string>

#include "format_test_objects.h"
#include "formats/video_formats.h"

using namespace orvex::formats;

namespace {

std::string Take(BSTR b) {
    const std::u16string_view v = orvex::com::View(b);
    std::string s(v.begin(), v.end());
    SysFreeString(b);
    return s;
}

M_VID_PROPS Named(eMVideoFormat format) {
    M_VID_PROPS p{};
    p.eVideoFormat = format;
    return p;
}

class FormatIface : public ::testing::Test {
protected:
    CComPtr<CComObject<CFormatOnly>> obj = MakeObject<CFormatOnly>();
    IOXFormat* fmt = obj;
    M_VID_PROPS vid{};
    M_AUD_PROPS aud{};
    int index = -2;
    BSTR name = nullptr;
};

}  // namespace

TEST_F(FormatIface, BadTypesAndIndexesAreRefused) {
    const auto bad = static_cast<eMFormatType>(4);
    EXPECT_EQ(fmt->FormatVideoGetCount(bad, nullptr), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioGet(static_cast<eMFormatType>(-1), &aud, nullptr, nullptr),
              E_INVALIDARG);
    name = reinterpret_cast<BSTR>(0x1);  // a caller's uninitialised out-pointer
    EXPECT_EQ(fmt->FormatVideoGetByIndex(eMFT_Input, 88, nullptr, &name), E_INVALIDARG);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(fmt->FormatAudioGetByIndex(eMFT_Input, -1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Output, &vid), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Override, &aud), E_INVALIDARG);
}

TEST_F(FormatIface, VideoSetsCompareMergeAndJoinTheList) {
    vid = Named(eMVF_HD720_50p);
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_OK);
    vid.eScaleType = eMST_LetterBox;
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_FALSE);
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Convert, &vid, &index, &name), S_OK);
    EXPECT_EQ(vid.eScaleType, eMST_LetterBox);  // the one field a repeated set takes
    EXPECT_EQ(index, 6);
    EXPECT_EQ(Take(name), "HD720-50p HDYC 1280x720@50.00p 16:9");

    // A size-only record takes pixel format, rate and order from the Convert setting.
    vid = Named(eMVF_HD1080_50i);
    vid.fccType = eMFCC_v210;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_OK);
    fmt->FormatVideoGetCount(eMFT_Convert, nullptr);  // drops the formats sets added
    vid = {};
    vid.nWidth = 1280;
    vid.nHeight = 720;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_OK);
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Convert, &vid, &index, nullptr), S_OK);
    EXPECT_EQ(vid.fccType, eMFCC_v210);
    EXPECT_EQ(vid.nRowBytes, 3456);
    EXPECT_EQ(vid.eInterlace, eMI_Field1First);
    EXPECT_EQ(index, 88);
    fmt->FormatVideoGetCount(eMFT_Convert, nullptr);
    fmt->FormatVideoGet(eMFT_Convert, nullptr, &index, nullptr);
    EXPECT_EQ(index, -1);
}

TEST_F(FormatIface, OutputTakesOverrideAndConvert) {
    vid = Named(eMVF_HD1080_50i);
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Input, &vid), S_OK);
    M_VID_PROPS ovr{};
    ovr.eInterlace = eMI_Inverse;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Override, &ovr), S_OK);
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Output, &vid, &index, &name), S_OK);
    EXPECT_EQ(vid.eInterlace, eMI_Field2First);
    EXPECT_EQ(Take(name), "HDYC 1920x1080@25.00iB 16:9");  // no named format is 25i iB
    EXPECT_EQ(index, -1);
    M_AV_PROPS out{};
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &out), 0);  // reinterpreted, not converted

    vid = {};
    vid.fccType = eMFCC_v210;
    vid.nAspectX = 4;
    vid.nAspectY = 3;
    obj->FormatVideoSet(eMFT_Convert, &vid);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &out), kConvertVideo);
    EXPECT_EQ(out.vidProps.nRowBytes, 5120);
    EXPECT_EQ(out.vidProps.nAspectX, 4);

    // A frame becomes the Input as it came; the caller's record takes the override.
    ovr.eInterlace = eMI_OneField;
    fmt->FormatVideoSet(eMFT_Override, &ovr);
    fmt->FormatVideoSet(eMFT_Convert, nullptr);
    M_AV_PROPS frame{};
    frame.vidProps = VideoFormatDefaults(eMVF_PAL, eMFCC_Default);
    frame.audProps = {2, 48000, 16, 2};
    frame.bLocked = TRUE;
    EXPECT_EQ(obj->FormatOutputCompute(&frame, &out), kConvertVideo);
    EXPECT_EQ(frame.vidProps.eInterlace, eMI_Field1First);
    EXPECT_EQ(out.vidProps.eInterlace, eMI_Progressive);
    EXPECT_EQ(out.bLocked, TRUE);
    fmt->FormatVideoGet(eMFT_Input, &vid, nullptr, nullptr);
    EXPECT_EQ(vid.nHeight, 576);

    aud = {8, 0, 0, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Convert, &aud), S_OK);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &out) & kConvertAudio, kConvertAudio);
    EXPECT_EQ(out.audProps.nChannels, 8);
    EXPECT_EQ(out.audProps.nSamplesPerSec, 48000);
    aud = {2, 0, 0, 0};
    fmt->FormatAudioSet(eMFT_Convert, &aud);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &out) & kConvertAudio, 0);
}

TEST_F(FormatIface, AudioSetsDeriveTrackSplitBits) {
    aud = {2, 48000, 16, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_FALSE);
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Input, &aud, &index, &name), S_OK);
    EXPECT_EQ(aud.nTrackSplitBits, 2);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(Take(name), "48000 Hz, 2 Ch, 16-bit");

    aud = {8, 0, 0, 0};  // rate and bits come from the setting in force
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    fmt->FormatAudioGet(eMFT_Input, &aud, &index, nullptr);
    EXPECT_EQ(aud.nTrackSplitBits, 128);
    EXPECT_EQ(aud.nSamplesPerSec, 48000);
    EXPECT_EQ(index, 4);

    aud = {-1, 0, 0, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Input, &aud, &index, nullptr), S_FALSE);
    EXPECT_EQ(index, 190);
}

TEST(Delegation, CallsGoToTheDelegateByEitherIdentifier) {
    auto front = MakeObject<CFormatOnly>();
    auto back = MakeObject<CFormatOnly>();
    auto priv = MakeObject<CFormatObject<true>>();
    M_VID_PROPS pal = Named(eMVF_PAL);
    M_VID_PROPS got{};
    for (IUnknown* delegate : {back->GetUnknown(), priv->GetUnknown()}) {
        front->delegate = delegate;
        EXPECT_EQ(front->FormatVideoSet(eMFT_Convert, &pal), S_OK);
        front->delegate = nullptr;
        EXPECT_EQ(front->FormatVideoGet(eMFT_Convert, &got, nullptr, nullptr), S_FALSE);
    }
    EXPECT_EQ(back->FormatVideoGet(eMFT_Convert, &got, nullptr, nullptr), S_OK);
    EXPECT_EQ(priv->FormatVideoGet(eMFT_Convert, &got, nullptr, nullptr), S_OK);
    EXPECT_EQ(got.nHeight, 576);
}
