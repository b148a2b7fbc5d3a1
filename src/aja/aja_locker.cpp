#include "aja/aja_locker.h"

#include "aja/ntv2/ntv2utils.h"

namespace orvex::aja {
namespace {
constexpr ULWord kBoardMarker = 7777;

std::string FormatLockName(const std::string& board, ULWord number) {
    return "_AJALock_" + board + "-FmtOrRate" + std::to_string(number);
}
}  // namespace

std::string ChannelLockName(const std::string& board, int channel) {
    return "_AJALock_" + board + "-Ch" + std::to_string(channel);
}

NTV2FrameRate RateFamily(NTV2FrameRate rate) {
    switch (rate) {
        case NTV2_FRAMERATE_6000:
            return NTV2_FRAMERATE_3000;
        case NTV2_FRAMERATE_5994:
            return NTV2_FRAMERATE_2997;
        case NTV2_FRAMERATE_5000:
            return NTV2_FRAMERATE_2500;
        default:
            return rate;
    }
}

ULWord FormatLockNumber(NTV2VideoFormat format, bool byRate) {
    if (!byRate) return format;
    return RateFamily(GetNTV2FrameRateFromVideoFormat(format));
}

std::unique_ptr<AJALocker> ClaimChannel(const std::string& board, int channel) {
    auto locker = std::make_unique<AJALocker>();
    bool existed = false;
    if (!locker->first.Create(ChannelLockName(board, channel), &existed) || existed)
        return nullptr;  // the claim closes with the locker
    return locker;
}

bool ChannelBusy(const std::string& board, int channel) {
    return platform::NamedClaim::Exists(ChannelLockName(board, channel));
}

std::unique_ptr<AJALocker> ClaimFormat(const std::string& board, ULWord number) {
    auto locker = std::make_unique<AJALocker>();
    bool existed = false;
    if (!locker->first.Create(FormatLockName(board, kBoardMarker), &existed)) return nullptr;
    if (existed) {
        if (!locker->second.Open(FormatLockName(board, number))) return nullptr;
    } else if (!locker->second.Create(FormatLockName(board, number), nullptr)) {
        return nullptr;
    }
    return locker;
}

}  // namespace orvex::aja
