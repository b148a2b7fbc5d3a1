// IOXReceiver for the backend renderers: frames pass from the host's thread through the
// active frame queue to the owner's ProcessFrame(IMFrame_I*). The owner derives from this
// mix-in and from IOXProps, through which the queue's capacity "input.buffers" is read,
// refusals are counted in "stat::buffer_overlow" and frame handler calls that ended in an
// exception in "stat::handler_exceptions". Every frame that never reaches air, whatever the
// reason (refused by a full queue, or lost by the backend, which calls FrameLost), is counted
// in "stat::frames_lost".
#pragma once

#include <atomic>
#include <charconv>
#include <mutex>
#include <string>
#include <string_view>

#include "com/ptr.h"
#include "formats/frame_contract.h"
#include "orvex/interfaces.h"
#include "pipeline/deq_active.h"

namespace orvex::pipeline {

// Wait for room for a frame that is not live: 1 s.
inline constexpr LONGLONG kPutWait = 10'000'000;

// A decimal integer property value (surrounding blanks allowed); `fallback` for anything else.
inline int ParseIntProperty(std::u16string_view text, int fallback) {
    std::string narrow;
    for (char16_t c : text) {
        if (c > 0x7F) return fallback;
        narrow += static_cast<char>(c);
    }
    const auto first = narrow.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return fallback;
    const auto last = narrow.find_last_not_of(" \t\r\n");
    const char* begin = narrow.data() + first;
    const char* end = narrow.data() + last + 1;
    if (*begin == '+') ++begin;
    int value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end ? value : fallback;
}

template <class Owner>
class IOXReceiverImpl : public IOXReceiver, public CDeqActive<Owner, CComPtr<IMFrame_I>> {
public:
    // rtMaxWait and bsProps are accepted for the interface's sake; the wait depends only on
    // whether the frame is live.
    STDMETHOD(ReceiverFramePut)(IOXFrame* pFrame, LONGLONG, BSTR) override {
        if (!pFrame) return E_POINTER;
        pFrame->OXWaitAsync();
        CComPtr<IMFrame_I> frame;
        HRESULT hr = formats::FrameInternalGet(pFrame, &frame);
        if (FAILED(hr)) return hr;
        M_TIME time{};
        frame->FrameTimeGet(&time);

        const int buffers = ReadInt(OLESTR("input.buffers"), 0);
        this->SetLimits(0, buffers, false);
        if (buffers <= 0) return this->CallHandler(frame);

        const LONGLONG wait = (time.eFFlags & eMFF_Live) ? 0 : kPutWait;
        if (this->Put(frame, wait) >= 0) return S_OK;
        CountStat(OLESTR("stat::buffer_overlow"));
        FrameLost();
        return E_OUTOFMEMORY;
    }

    // Counts a frame that will not reach air. Any thread, any lock held: it writes through a
    // node call of the "stat" node, a leaf lock.
    void FrameLost() {
        const int lost = framesLost_.fetch_add(1, std::memory_order_relaxed) + 1;
        CComPtr<IMNode> stat;
        if (SUCCEEDED(static_cast<Owner*>(this)->PropsRoot()->NodeChildGet(CComBSTR(u"stat"), 1,
                                                                           &stat)) &&
            stat)
            stat->AttributesSetInt(CComBSTR(u"frames_lost"), lost & 0x7FFFFFFF);
    }

    // The handler until the backend brings its own (the owner's ProcessFrame hides it).
    HRESULT ProcessFrame(IMFrame_I*) { return E_NOTIMPL; }

    // The queue reports a frame handler that threw (on the worker or the caller's thread).
    void FrameHandlerFault() { CountStat(OLESTR("stat::handler_exceptions")); }

private:
    IOXProps* Props() { return static_cast<IOXProps*>(static_cast<Owner*>(this)); }

    int ReadInt(const OLECHAR* name, int fallback) {
        CComBSTR bsName(name), value;
        if (Props()->PropsGet(bsName, &value) != S_OK || !value) return fallback;
        return ParseIntProperty(value.View(), fallback);
    }

    // Adds one to an integer statistic. Several threads may count at once; the read and the
    // write are one step. Lock order: statLock_, then the property tree's lock (taken inside
    // PropsGet and PropsSet). Nothing that holds the property lock ever takes statLock_.
    void CountStat(const OLECHAR* name) {
        std::lock_guard lock(statLock_);
        const int count = ReadInt(name, 0);
        CComBSTR bsName(name);
        const std::string digits = std::to_string(count + 1);
        const std::u16string text(digits.begin(), digits.end());
        CComBSTR bsValue{std::u16string_view(text)};
        Props()->PropsSet(bsName, bsValue);
    }

    std::mutex statLock_;
    std::atomic<int> framesLost_{0};
};

}  // namespace orvex::pipeline
