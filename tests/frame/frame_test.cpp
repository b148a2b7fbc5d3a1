#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "orvex/ids.h"
#include "test_frames.h"

namespace {

using namespace orvex::test;

// A frame's picture: its size and address (-1 and null when the call fails).
std::pair<LONG, const BYTE*> VideoOf(IOXFrame* f) {
    LONG cb = -1;
    LONGLONG video = 0;
    if (f->OXVideoBytesGet(&cb, &video) != S_OK) return {-1, nullptr};
    return {cb, Ptr(video)};
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                                   reinterpret_cast<void**>(&factory)),
                  S_OK);
    }
    CComPtr<IOXFrame> Make(const M_AV_PROPS& props, int samples) {
        CComPtr<IOXFrame> f;
        EXPECT_EQ(factory->OXFrameMake(&props, samples, &f), S_OK);
        return f;
    }
    CComPtr<IOXFactory> factory;
};

TEST_F(FrameTest, MadeFramesHaveBlackPicturesAndSilentAudioOfTheRightSize) {
    struct Case {
        eMFCC fcc;
        int width, height;
        LONG bytes;
        BYTE first[4];
    } cases[] = {
        {eMFCC_UYVY, 6, 2, 24, {0x80, 0x10, 0x80, 0x10}},
        {eMFCC_YUY2, 5, 2, 24, {0x10, 0x80, 0x10, 0x80}},
        {eMFCC_v210, 1920, 1, 5120, {0x00, 0x02, 0x01, 0x20}},
        {eMFCC_RGB32, 3, -2, 24, {0, 0, 0, 0}},
        {eMFCC_RGB24, 2, 1, 8, {0, 0, 0, 0}},
        {eMFCC_I420, 4, 3, 4 * 3 + 4 * 2, {0x10, 0x10, 0x10, 0x10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fcc);
        CComPtr<IOXFrame> f = Make(Props(c.fcc, c.width, c.height), 1920);
        CComQIPtr<IMFrame_I> fi(f);
        ASSERT_TRUE(fi);
        BYTE* video = nullptr;
        LONG cb = 0;
        ASSERT_EQ(fi->FrameVideoGet(&video, &cb), S_OK);
        EXPECT_EQ(cb, c.bytes);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(video) % 64, 0u);
        EXPECT_EQ(std::memcmp(video, c.first, 4), 0);
        if (c.fcc == eMFCC_I420) {
            EXPECT_EQ(video[cb - 1], 0x80);  // chroma planes
        }

        LONG cbAudio = 0;
        BYTE* audio = nullptr;
        ASSERT_EQ(fi->FrameAudioGet(&cbAudio, &audio), S_OK);
        EXPECT_EQ(cbAudio, 1920 * 2 * 2);
        EXPECT_EQ(std::count(audio, audio + cbAudio, 0), cbAudio);
        int samples = 0;
        EXPECT_EQ(fi->FrameAudioSamplesGet(&samples), S_OK);
        EXPECT_EQ(samples, 1920);
    }
}

TEST_F(FrameTest, FullReadAndOXAllGetDescribeTheSameBuffers) {
    M_AV_PROPS props = Props(eMFCC_UYVY, 4, 2);
    std::vector<BYTE> pixels(16);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<BYTE>(i);
    std::vector<BYTE> pcm(3 * 4, 7);
    CComPtr<IOXFrame> f;
    ASSERT_EQ(factory->OXFrameMakeFromMemory(&props, 16, Addr(pixels.data()), 3, 12,
                                             Addr(pcm.data()), &f),
              S_OK);
    M_TIME t{};
    t.eFFlags = eMFF_Live_Break;
    ASSERT_EQ(f->OXTimeSet(&t), S_OK);

    CComQIPtr<IMFrame_I> fi(f);
    M_TIME time{};
    M_AV_PROPS av{};
    int samples = 0;
    BYTE *audio = nullptr, *video = nullptr;
    LONG cbVideo = 0;
    ASSERT_EQ(fi->FrameAllGet(&time, &av, &samples, &audio, &cbVideo, &video), S_OK);
    EXPECT_EQ(time.eFFlags, eMFF_Live_Break);
    EXPECT_EQ(av.vidProps.nWidth, 4);
    EXPECT_EQ(samples, 3);
    EXPECT_EQ(cbVideo, 16);
    EXPECT_EQ(std::memcmp(video, pixels.data(), 16), 0);
    EXPECT_NE(video, pixels.data());  // copied, not borrowed

    OX_FRAME_INFO info{};
    ASSERT_EQ(f->OXAllGet(&info), S_OK);
    EXPECT_EQ(Ptr(info.lpVideo), video);
    EXPECT_EQ(Ptr(info.lpAudio), audio);
    EXPECT_EQ(info.cbVideo, 16u);
    EXPECT_EQ(info.cbAudio, 12u);
    DWORD pid = 0;
    EXPECT_EQ(fi->FrameProcessIDGet(&pid), S_OK);
    EXPECT_EQ(info.dwProcessID, pid);
    EXPECT_NE(pid, 0u);
}

TEST_F(FrameTest, BuffersShorterThanTheirLayoutAreRefused) {
    M_AV_PROPS props = Props(eMFCC_UYVY, 1920, 1080);
    std::vector<BYTE> small(100);
    CComPtr<IOXFrame> f;
    EXPECT_EQ(factory->OXFrameMakeFromMemory(&props, 100, Addr(small.data()), 0, 0, 0, &f),
              E_INVALIDARG);
    EXPECT_FALSE(f);
    f = Make(Props(eMFCC_UYVY, 2, 1), 0);
    EXPECT_EQ(f->OXAudioSet(&props.audProps, 100, 100, Addr(small.data())), E_INVALIDARG);
    EXPECT_EQ(f->OXVideoSet(&props.vidProps, -1, Addr(small.data())), E_INVALIDARG);
    EXPECT_EQ(f->OXVideoSet(&props.vidProps, 4, 0), E_POINTER);
    EXPECT_EQ(f->OXDataSet(kC708, -5, Addr(small.data())), E_INVALIDARG);
    f.Release();
    EXPECT_EQ(factory->OXFrameMake(nullptr, 0, &f), E_POINTER);
    EXPECT_EQ(factory->OXFrameMake(&props, 0, nullptr), E_POINTER);
}

// Oversized pictures are refused before any allocation; records without a layout get no video.
TEST_F(FrameTest, PictureGeometryDecidesWhatIsAllocated) {
    constexpr HRESULT kNoVideo = S_FALSE;  // made, but without a picture
    struct Case {
        eMFCC fcc;
        int width, height, row_bytes;
        HRESULT want;
        LONG bytes;
    } cases[] = {
        // One record of each kind: the geometry itself is tested with the formats.
        {eMFCC_RGB32, 0x40000001, 1, 0, E_INVALIDARG, 0},  // 4 × width wraps to 4 in 32 bits
        {eMFCC_RGB32, 32768, 32768, 0, E_INVALIDARG, 0},   // 4 GiB: no LONG can state it
        {eMFCC_UYVY, 1920, INT_MIN, 0, E_INVALIDARG, 0},
        {eMFCC_UYVY, 4, 2, 7, E_INVALIDARG, 0},  // stride below the row's 8 bytes
        {eMFCC_UYVY, 0, 1080, 0, kNoVideo, 0},
        {static_cast<eMFCC>(0x47504A4D), 1920, 1080, 0, kNoVideo, 0},  // MJPG: no layout
        {eMFCC_RGB32, 32768, 2, 0, S_OK, 32768 * 4 * 2},               // the widest picture
        {eMFCC_UYVY, 3, -1, 0, S_OK, 8},
        {eMFCC_I420, 5, 3, 0, S_OK, 15 + 2 * 3 * 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.fcc << std::dec << " " << c.width << "x"
                                        << c.height << " stride " << c.row_bytes);
        M_AV_PROPS props = Props(c.fcc, c.width, c.height);
        props.vidProps.nRowBytes = c.row_bytes;
        CComPtr<IOXFrame> f;
        const HRESULT made = factory->OXFrameMake(&props, 0, &f);
        EXPECT_EQ(made, c.want == kNoVideo ? S_OK : c.want);
        if (FAILED(c.want)) {
            EXPECT_FALSE(f);
            // Nor may a frame take such a picture later, black or with bytes of its own.
            CComPtr<IOXFrame> other = Make(Props(eMFCC_UYVY, 2, 1), 0);
            BYTE byte = 0;
            EXPECT_EQ(other->OXVideoAlloc(&props.vidProps), E_INVALIDARG);
            EXPECT_EQ(other->OXVideoSet(&props.vidProps, 1, Addr(&byte)), E_INVALIDARG);
            continue;
        }
        ASSERT_TRUE(f);
        const auto [cb, video] = VideoOf(f);
        EXPECT_EQ(cb, c.bytes);
        EXPECT_EQ(video == nullptr, c.bytes == 0);
    }
}

TEST_F(FrameTest, HandedOutBuffersSurviveReplacementWhileTheFrameLives) {
    CComPtr<IOXFrame> f = Make(Props(eMFCC_UYVY, 4, 1), 0);
    CComQIPtr<IMFrame_I> fi(f);
    BYTE* before = nullptr;
    LONG cb = 0;
    ASSERT_EQ(fi->FrameVideoGet(&before, &cb), S_OK);
    std::vector<BYTE> old(before, before + cb);

    std::vector<BYTE> fresh(8, 0xEE);
    M_VID_PROPS vp = Props(eMFCC_UYVY, 4, 1).vidProps;
    ASSERT_EQ(f->OXVideoSet(&vp, 8, Addr(fresh.data())), S_OK);
    BYTE* after = nullptr;
    ASSERT_EQ(fi->FrameVideoGet(&after, &cb), S_OK);
    EXPECT_NE(after, before);
    EXPECT_EQ(after[0], 0xEE);
    // The old block is still readable and unchanged (ASan would flag a freed one).
    EXPECT_EQ(std::memcmp(before, old.data(), old.size()), 0);
    EXPECT_EQ(f->OXVideoRemove(), S_OK);
    EXPECT_EQ(after[0], 0xEE);
    EXPECT_EQ(f->OXVideoRemove(), S_FALSE);
}

TEST_F(FrameTest, DataItemsAreKeyedByCodeAndWritableInPlace) {
    CComPtr<IOXFrame> f = Make(Props(eMFCC_UYVY, 2, 1), 0);
    CComQIPtr<IMFrame_I> fi(f);
    const BYTE cc[] = {1, 2, 3};
    ASSERT_EQ(fi->FrameDataSet(kC708, 3, cc), S_OK);
    ASSERT_EQ(f->OXDataSet(kVANC, 0, 0), S_OK);
    LONG cb = 0;
    BYTE* p = nullptr;
    ASSERT_EQ(fi->FrameDataGet(kC708, &cb, &p), S_OK);
    ASSERT_EQ(cb, 3);
    p[1] = 9;  // the contract lets the holder patch caption data in place
    LONGLONG lp = 0;
    ASSERT_EQ(f->OXDataGet(kC708, &cb, &lp), S_OK);
    EXPECT_EQ(Ptr(lp)[1], 9);
    EXPECT_EQ(fi->FrameDataGet(0x47413934 /* GA94 */, &cb, &p), E_NOT_FOUND);
    EXPECT_EQ(cb, 0);
    EXPECT_EQ(p, nullptr);

    int n = 0;
    ASSERT_EQ(fi->FrameDataGetCount(&n), S_OK);
    EXPECT_EQ(n, 2);
    DWORD fcc = 0;
    ASSERT_EQ(fi->FrameDataGetByIndex(1, &fcc, &cb, &p), S_OK);
    EXPECT_EQ(fcc, kVANC);
    EXPECT_EQ(cb, 0);
    EXPECT_EQ(fi->FrameDataGetByIndex(2, &fcc, &cb, &p), E_INVALID_INDEX);
    EXPECT_EQ(fi->FrameDataRemove(kVANC), S_OK);
    EXPECT_EQ(fi->FrameDataRemove(kVANC), S_FALSE);
}

// A second set replaces the first; a held object keeps one reference until removed.
TEST_F(FrameTest, NamedStringsAndObjects) {
    CComPtr<IOXFrame> f = Make(Props(eMFCC_UYVY, 2, 1), 0);
    CComBSTR name(OLESTR("source")), got;
    ASSERT_EQ(f->OXStrSet(name, CComBSTR(OLESTR("cam 1"))), S_OK);
    ASSERT_EQ(f->OXStrSet(name, CComBSTR(OLESTR("cam 2"))), S_OK);
    ASSERT_EQ(f->OXStrGet(name, &got), S_OK);
    EXPECT_EQ(got.View(), u"cam 2");
    int n = 0;
    EXPECT_EQ(f->OXStrGetCount(&n), S_OK);
    EXPECT_EQ(n, 1);
    CComBSTR none;
    EXPECT_EQ(f->OXStrGet(CComBSTR(OLESTR("nope")), &none), E_NOT_FOUND);
    EXPECT_EQ(none.m_str, nullptr);

    CComPtr<IOXFrame> held = Make(Props(eMFCC_UYVY, 2, 1), 0);
    const ULONG base = RefCount(held);
    ASSERT_EQ(f->OXObjSet(name, held), S_OK);
    EXPECT_EQ(RefCount(held), base + 1);
    CComPtr<IUnknown> back;
    ASSERT_EQ(f->OXObjGet(name, &back), S_OK);
    EXPECT_EQ(CComQIPtr<IOXFrame>(back).p, held.p);
    back.Release();
    ASSERT_EQ(f->OXObjRemove(name), S_OK);
    EXPECT_EQ(RefCount(held), base);
    EXPECT_EQ(f->OXObjRemove(name), S_FALSE);
}

TEST_F(FrameTest, ClonesCopyOrShareAsAsked) {
    CComPtr<IOXFrame> f = Make(Props(eMFCC_UYVY, 4, 2), 10);
    const BYTE cc[] = {5};
    f->OXDataSet(kC708, 1, Addr(cc));
    const auto [cb, video] = VideoOf(f);
    CComPtr<IOXFrame> ref, full, bare;
    ASSERT_EQ(f->OXClone(eMFC_Reference, &ref), S_OK);
    ASSERT_EQ(f->OXClone(eMFC_Full, &full), S_OK);
    ASSERT_EQ(f->OXClone(eMFC_Props, &bare), S_OK);
    EXPECT_EQ(VideoOf(ref).second, video);
    int n = 0;
    ref->OXDataGetCount(&n);
    EXPECT_EQ(n, 1);
    ASSERT_NE(VideoOf(full).second, video);
    EXPECT_EQ(std::memcmp(VideoOf(full).second, video, static_cast<std::size_t>(cb)), 0);
    EXPECT_EQ(VideoOf(bare), (std::pair<LONG, const BYTE*>{0, nullptr}));
    // The shared picture outlives the frame it came from.
    f.Release();
    EXPECT_EQ(VideoOf(ref).second[0], 0x80);
}

TEST_F(FrameTest, WaitAsyncReturnsOnceEveryOperationHasEnded) {
    CComPtr<IOXFrame> f = Make(Props(eMFCC_UYVY, 2, 1), 0);
    EXPECT_EQ(f->OXAsyncEnd(S_OK), E_UNEXPECTED);
    ASSERT_EQ(f->OXAsyncBegin(), S_OK);
    ASSERT_EQ(f->OXAsyncBegin(), S_OK);
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        f->OXWaitAsync();
        waited = true;
    });
    f->OXAsyncEnd(S_OK);
    EXPECT_FALSE(waited.load());
    f->OXAsyncEnd(E_ABORT);
    waiter.join();
    EXPECT_TRUE(waited.load());
    EXPECT_EQ(f->OXWaitAsync(), E_ABORT);
}

TEST_F(FrameTest, MakeLocalKeepsOwnFramesAndCopiesForeignOnes) {
    CComPtr<IOXFrame> own = Make(Props(eMFCC_UYVY, 2, 1), 0);
    CComPtr<IOXFrame> local;
    ASSERT_EQ(factory->OXFrameMakeLocal(own, &local, FALSE), S_OK);
    EXPECT_EQ(local.p, own.p);
    local.Release();
    ASSERT_EQ(factory->OXFrameMakeLocal(own, &local, TRUE), S_OK);
    EXPECT_NE(local.p, own.p);
    local.Release();

    CComPtr<HostFrame> host = New<HostFrame>();
    ASSERT_EQ(factory->OXFrameMakeLocal(static_cast<IOXFrame*>(host), &local, FALSE), S_OK);
    const auto [bytes, video] = VideoOf(local);
    ASSERT_EQ(bytes, 8);
    EXPECT_NE(video, host->video.data());
    EXPECT_EQ(video[7], 0x33);
    CComQIPtr<IMFrame_I> fi(local);
    ASSERT_TRUE(fi);
    LONG cb = 0;
    BYTE* item = nullptr;
    ASSERT_EQ(fi->FrameDataGet(kC708, &cb, &item), S_OK);
    EXPECT_EQ(item[0], 0xC8);
    M_TIME t{};
    fi->FrameTimeGet(&t);
    EXPECT_EQ(t.rtStartTime, 1234);
    // A host frame that claims more picture than it hands over is refused.
    host->video.resize(4);
    local.Release();
    EXPECT_EQ(factory->OXFrameMakeLocal(static_cast<IOXFrame*>(host), &local, FALSE), E_INVALIDARG);

    CComPtr<IMFactory_I> priv;
    ASSERT_EQ(CoCreateInstance(CLSID_MFactoryPriv, nullptr, CLSCTX_INPROC_SERVER, IID_IMFactory_I,
                               reinterpret_cast<void**>(&priv)),
              S_OK);
    CComPtr<PrivateSource> source = New<PrivateSource>();
    local.Release();
    ASSERT_EQ(priv->FrameMakeLocal(static_cast<IMFrameSource_I*>(source), &local, FALSE), S_OK);
    fi.Release();
    ASSERT_EQ(local->QueryInterface(&fi.p), S_OK);
    BYTE* audio = nullptr;
    ASSERT_EQ(fi->FrameAudioGet(&cb, &audio), S_OK);
    EXPECT_EQ(cb, 16);
    EXPECT_EQ(audio[15], 0x11);
    int items = 0;
    fi->FrameDataGetCount(&items);
    EXPECT_EQ(items, 1);

    local.Release();  // the factory itself is no frame
    EXPECT_EQ(factory->OXFrameMakeLocal(factory, &local, FALSE), E_NOINTERFACE);
    EXPECT_EQ(factory->OXFrameMakeLocal(nullptr, &local, FALSE), E_POINTER);
}

TEST_F(FrameTest, FramesTakeCallsFromManyThreads) {
    CComPtr<IOXFrame> f = Make(Props(eMFCC_UYVY, 64, 4), 0);
    CComQIPtr<IMFrame_I> fi(f);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            M_VID_PROPS vp = Props(eMFCC_UYVY, 64, 4).vidProps;
            std::vector<BYTE> bytes(512, static_cast<BYTE>(t));
            for (int i = 0; i < 200; ++i) {
                f->OXVideoSet(&vp, 512, Addr(bytes.data()));
                BYTE* p = nullptr;
                LONG cb = 0;
                fi->FrameVideoGet(&p, &cb);
                // Whoever set it last, a picture is never torn.
                EXPECT_EQ(std::count(p, p + cb, p[0]), cb);
                const BYTE item[] = {static_cast<BYTE>(i)};
                fi->FrameDataSet(kC708, 1, item);
            }
        });
    }
    for (auto& t : threads) t.join();
    LONGLONG total = 0;
    EXPECT_EQ(f->OXMemorySizeGet(&total), S_OK);
    EXPECT_EQ(total, 512 + 1);
}

}  // namespace
