// IOXFormat as a host sees it: lists, sets and gets, output computation, delegation.
#include <gtest/gtest.h>

#include <string>

#include "format_test_objects.h"
#include "formats/video_formats.h"
#include "renderer/co_ox_renderer.h"

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
};

}  // namespace

TEST(GenericRenderer, ServesTheStandardListsWithoutABackend) {
    CComObject<CCoOXRenderer>* raw = nullptr;
    ASSERT_EQ(CComObject<CCoOXRenderer>::CreateInstance(&raw), S_OK);
    CComPtr<IUnknown> holder(raw->GetUnknown());
    CComPtr<IOXFormat> fmt;
    ASSERT_EQ(holder.QueryInterface(&fmt), S_OK);

    int count = 0;
    ASSERT_EQ(fmt->FormatVideoGetCount(eMFT_Input, &count), S_OK);
    EXPECT_EQ(count, 88);
    BSTR name = nullptr;
    ASSERT_EQ(fmt->FormatVideoGetByIndex(eMFT_Input, 0, nullptr, &name), S_OK);
    EXPECT_EQ(Take(name), "<Auto/Not Specified>");
    M_VID_PROPS entry{};
    ASSERT_EQ(fmt->FormatVideoGetByIndex(eMFT_Input, 14, &entry, &name), S_OK);
    EXPECT_EQ(Take(name), "HD1080-50i HDYC 1920x1080@25.00iT 16:9");
    EXPECT_EQ(entry.nRowBytes, 3840);
    ASSERT_EQ(fmt->FormatVideoGetByIndex(eMFT_Input, 87, nullptr, &name), S_OK);
    EXPECT_EQ(Take(name), "<No Video>");

    ASSERT_EQ(fmt->FormatAudioGetCount(eMFT_Output, &count), S_OK);
    EXPECT_EQ(count, 191);
    ASSERT_EQ(fmt->FormatAudioGetByIndex(eMFT_Output, 1, nullptr, &name), S_OK);
    EXPECT_EQ(Take(name), "48000 Hz, 2 Ch, 16-bit");
    ASSERT_EQ(fmt->FormatAudioGetByIndex(eMFT_Output, 190, nullptr, &name), S_OK);
    EXPECT_EQ(Take(name), "<No Audio>");
}

TEST_F(FormatIface, BadTypesAndIndexesAreRefused) {
    int count = -5;
    const auto bad = static_cast<eMFormatType>(4);
    EXPECT_EQ(fmt->FormatVideoGetCount(bad, &count), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioGetCount(static_cast<eMFormatType>(-1), &count), E_INVALIDARG);
    EXPECT_EQ(count, -5);
    EXPECT_EQ(fmt->FormatVideoGetCount(eMFT_Convert, nullptr), S_OK);

    BSTR name = reinterpret_cast<BSTR>(0x1);  // a caller's uninitialised out-pointer
    EXPECT_EQ(fmt->FormatVideoGetByIndex(eMFT_Input, 88, nullptr, &name), E_INVALIDARG);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(fmt->FormatVideoGetByIndex(eMFT_Input, -1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioGetByIndex(eMFT_Input, 191, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatVideoGetByIndex(bad, 0, nullptr, nullptr), E_INVALIDARG);

    M_VID_PROPS vid = Named(eMVF_HD720_50p);
    M_AUD_PROPS aud{2, 48000, 16, 0};
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Output, &vid), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatVideoSet(bad, &vid), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Override, &aud), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Output, &aud), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatVideoGet(bad, &vid, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(fmt->FormatAudioGet(bad, &aud, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(FormatIface, SettingTheSameFormatTwiceChangesOnlyTheScaling) {
    M_VID_PROPS vid = Named(eMVF_HD720_50p);
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_OK);
    vid = Named(eMVF_HD720_50p);
    vid.eScaleType = eMST_LetterBox;
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_FALSE);

    M_VID_PROPS got{};
    int index = -2;
    BSTR name = nullptr;
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Convert, &got, &index, &name), S_OK);
    EXPECT_EQ(got.nWidth, 1280);
    EXPECT_EQ(got.fccType, eMFCC_HDYC);
    EXPECT_EQ(got.eScaleType, eMST_LetterBox);
    EXPECT_EQ(index, 6);
    EXPECT_EQ(Take(name), "HD720-50p HDYC 1280x720@50.00p 16:9");

    // A null record clears the setting.
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, nullptr), S_OK);
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Convert, &got, &index, &name), S_FALSE);
    EXPECT_EQ(got.nWidth, 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(Take(name), "<Auto/Not Specified>");
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, nullptr), S_FALSE);
}

TEST_F(FormatIface, PartialConvertRecordsMergeFromTheCurrentConvertSetting) {
    M_VID_PROPS sizeOnly{};
    sizeOnly.nWidth = 1280;
    sizeOnly.nHeight = 720;
    M_VID_PROPS copy = sizeOnly;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &copy), S_OK);
    M_VID_PROPS got{};
    fmt->FormatVideoGet(eMFT_Convert, &got, nullptr, nullptr);
    EXPECT_EQ(got.fccType, eMFCC_UYVY);
    EXPECT_EQ(got.nRowBytes, 2560);

    // With a 1080i v210 setting in force the size-only record keeps v210, rate and order.
    M_VID_PROPS v210 = Named(eMVF_HD1080_50i);
    v210.fccType = eMFCC_v210;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &v210), S_OK);
    int count = 0;
    fmt->FormatVideoGetCount(eMFT_Convert, &count);
    EXPECT_EQ(count, 88);
    copy = sizeOnly;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &copy), S_OK);
    int index = -2;
    fmt->FormatVideoGet(eMFT_Convert, &got, &index, nullptr);
    EXPECT_EQ(got.fccType, eMFCC_v210);
    EXPECT_EQ(got.nWidth, 1280);
    EXPECT_EQ(got.nRowBytes, 3456);
    EXPECT_DOUBLE_EQ(got.dblRate, 25.0);
    EXPECT_EQ(got.eInterlace, eMI_Field1First);

    // The new format joined the list, until the next count rebuilds it.
    EXPECT_EQ(index, 88);
    M_VID_PROPS listed{};
    EXPECT_EQ(fmt->FormatVideoGetByIndex(eMFT_Convert, 88, &listed, nullptr), S_OK);
    EXPECT_EQ(listed.fccType, eMFCC_v210);
    fmt->FormatVideoGetCount(eMFT_Convert, &count);
    EXPECT_EQ(count, 88);
    fmt->FormatVideoGet(eMFT_Convert, nullptr, &index, nullptr);
    EXPECT_EQ(index, -1);

    // A named Convert format without pixel format keeps the one in force.
    M_VID_PROPS pal = Named(eMVF_PAL);
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &pal), S_OK);
    fmt->FormatVideoGet(eMFT_Convert, &got, nullptr, nullptr);
    EXPECT_EQ(got.fccType, eMFCC_v210);
    EXPECT_EQ(got.nHeight, 576);
}

TEST_F(FormatIface, OutputAppliesOverrideAndConvert) {
    M_VID_PROPS input = Named(eMVF_HD1080_50i);
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Input, &input), S_OK);
    M_VID_PROPS ovr{};
    ovr.eInterlace = eMI_Inverse;
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Override, &ovr), S_OK);

    M_VID_PROPS out{};
    BSTR name = nullptr;
    int index = -2;
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Output, &out, &index, &name), S_OK);
    EXPECT_EQ(out.eInterlace, eMI_Field2First);
    EXPECT_EQ(out.nWidth, 1920);
    // No named format has 1080 lines at 25 frames bottom field first.
    EXPECT_EQ(Take(name), "HDYC 1920x1080@25.00iB 16:9");
    EXPECT_EQ(index, -1);
    // Overrides have no list index.
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Override, &ovr, &index, nullptr), S_FALSE);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(ovr.eInterlace, eMI_Inverse);

    // Only the override differs from the input: nothing to convert.
    M_AV_PROPS result{};
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &result), 0);

    // A pixel format alone converts and recomputes rows; a full Convert replaces everything.
    M_VID_PROPS fccOnly{};
    fccOnly.fccType = eMFCC_v210;
    obj->m_convert.vidProps = fccOnly;
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &result), kConvertVideo);
    EXPECT_EQ(result.vidProps.fccType, eMFCC_v210);
    EXPECT_EQ(result.vidProps.nRowBytes, 5120);
    EXPECT_EQ(result.vidProps.eInterlace, eMI_Field2First);

    M_VID_PROPS convert = Named(eMVF_HD720_50p);
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &convert), S_OK);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &result), kConvertVideo);
    EXPECT_EQ(result.vidProps.nWidth, 1280);
    EXPECT_EQ(result.vidProps.eInterlace, eMI_Progressive);

    // Convert equal to the (overridden) input needs no conversion.
    ovr = {};
    fmt->FormatVideoSet(eMFT_Override, &ovr);
    fmt->FormatVideoSet(eMFT_Convert, nullptr);  // else the v210 in force stays
    convert = Named(eMVF_HD1080_50i);
    ASSERT_EQ(fmt->FormatVideoSet(eMFT_Convert, &convert), S_OK);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &result), 0);

    // One field of an interlaced input goes out progressive.
    ovr.eInterlace = eMI_OneField;
    fmt->FormatVideoSet(eMFT_Override, &ovr);
    fmt->FormatVideoSet(eMFT_Convert, nullptr);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &result), kConvertVideo);
    EXPECT_EQ(result.vidProps.eInterlace, eMI_Progressive);
}

TEST_F(FormatIface, FrameRecordsBecomeInputAndTakeTheOverride) {
    M_VID_PROPS ovr{};
    ovr.dblRate = 24.0;
    ovr.fccType = eMFCC_ARGB32;
    fmt->FormatVideoSet(eMFT_Override, &ovr);

    M_AV_PROPS frame{};
    frame.vidProps = VideoFormatDefaults(eMVF_HD1080_25p, eMFCC_RGB32);
    frame.audProps = {2, 48000, 16, 2};
    frame.bLocked = TRUE;
    M_AV_PROPS out{};
    EXPECT_EQ(obj->FormatOutputCompute(&frame, &out), 0);
    // The caller's own record carries the override afterwards.
    EXPECT_DOUBLE_EQ(frame.vidProps.dblRate, 24.0);
    EXPECT_EQ(frame.vidProps.fccType, eMFCC_ARGB32);
    EXPECT_EQ(out.bLocked, TRUE);
    EXPECT_DOUBLE_EQ(out.vidProps.dblRate, 24.0);

    // The Input settings hold the frame as it came, before the override.
    M_VID_PROPS input{};
    EXPECT_EQ(fmt->FormatVideoGet(eMFT_Input, &input, nullptr, nullptr), S_OK);
    EXPECT_DOUBLE_EQ(input.dblRate, 25.0);
    M_AUD_PROPS aud{};
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Input, &aud, nullptr, nullptr), S_OK);
    EXPECT_EQ(aud.nChannels, 2);

    // Incomplete frame records leave the Input settings alone.
    M_AV_PROPS empty{};
    obj->FormatOutputCompute(&empty, nullptr);
    fmt->FormatVideoGet(eMFT_Input, &input, nullptr, nullptr);
    EXPECT_EQ(input.nWidth, 1920);
    fmt->FormatAudioGet(eMFT_Input, &aud, nullptr, nullptr);
    EXPECT_EQ(aud.nSamplesPerSec, 48000);

    // Audio: Convert fields replace the output's; equal values need no conversion.
    M_AUD_PROPS convert{8, 0, 0, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Convert, &convert), S_OK);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &out), kConvertAudio);
    EXPECT_EQ(out.audProps.nChannels, 8);
    EXPECT_EQ(out.audProps.nTrackSplitBits, 128);
    EXPECT_EQ(out.audProps.nSamplesPerSec, 48000);
    convert = {2, 48000, 16, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Convert, &convert), S_OK);
    EXPECT_EQ(obj->FormatOutputCompute(nullptr, &out), 0);
    aud = {};
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Output, &aud, nullptr, nullptr), S_OK);
    EXPECT_EQ(aud.nChannels, 2);
}

TEST_F(FormatIface, AudioSetsDeriveTrackSplitAndMerge) {
    M_AUD_PROPS aud{2, 48000, 16, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    EXPECT_EQ(aud.nTrackSplitBits, 0);  // the caller's record stays as it was
    M_AUD_PROPS got{};
    int index = -2;
    BSTR name = nullptr;
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Input, &got, &index, &name), S_OK);
    EXPECT_EQ(got.nTrackSplitBits, 2);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(Take(name), "48000 Hz, 2 Ch, 16-bit");
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_FALSE);

    aud = {8, 0, 0, 0};  // rate and bits come from the setting in force
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    fmt->FormatAudioGet(eMFT_Input, &got, &index, nullptr);
    EXPECT_EQ(got.nTrackSplitBits, 128);
    EXPECT_EQ(got.nSamplesPerSec, 48000);
    EXPECT_EQ(index, 4);

    aud = {-1, 0, 0, 0};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Input, &got, &index, &name), S_FALSE);
    EXPECT_EQ(got.nChannels, -1);
    EXPECT_EQ(index, 190);
    EXPECT_EQ(Take(name), "<No Audio>");

    // An unlisted layout joins the list until the next count.
    aud = {3, 96000, 24, 7};
    ASSERT_EQ(fmt->FormatAudioSet(eMFT_Convert, &aud), S_OK);
    fmt->FormatAudioGet(eMFT_Convert, &got, &index, nullptr);
    EXPECT_EQ(index, 191);
    EXPECT_EQ(got.nTrackSplitBits, 7);
    EXPECT_EQ(fmt->FormatAudioGet(eMFT_Override, &got, &index, nullptr), S_FALSE);
    EXPECT_EQ(index, -1);
}

TEST(Delegation, EveryCallGoesToTheDelegate) {
    auto front = MakeObject<CForwarder>();
    auto back = MakeObject<CFormatOnly>();
    front->delegate = back->GetUnknown();
    IOXFormat* fmt = front;

    M_VID_PROPS vid = Named(eMVF_PAL);
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Convert, &vid), S_OK);
    EXPECT_EQ(back->m_convert.vidProps.nHeight, 576);
    M_VID_PROPS own{};
    EXPECT_EQ(front->OwnVideoGet(eMFT_Convert, &own, nullptr, nullptr), S_FALSE);
    M_AUD_PROPS aud{4, 44100, 24, 0};
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Input, &aud), S_OK);
    EXPECT_EQ(back->m_input.audProps.nChannels, 4);
    EXPECT_EQ(fmt->FormatAudioSet(eMFT_Override, &aud), E_INVALIDARG);

    // An object known only under the private identifier is reached through it.
    auto priv = MakeObject<CPrivateFormatOnly>();
    front->delegate = priv->GetUnknown();
    EXPECT_EQ(fmt->FormatVideoSet(eMFT_Input, &vid), S_OK);
    M_VID_PROPS got{};
    EXPECT_EQ(priv->FormatVideoGet(eMFT_Input, &got, nullptr, nullptr), S_OK);
    EXPECT_EQ(got.nHeight, 576);

    // Without a delegate the object answers from its own lists.
    front->delegate = nullptr;
    int count = 0;
    EXPECT_EQ(fmt->FormatAudioGetCount(eMFT_Input, &count), S_OK);
    EXPECT_EQ(count, 191);
}
