// Claims of AJA channels and board formats between processes, on named claims: a claim lasts
// as long as its AJALocker (or the process holding it).
//
// Channel claim "_AJALock_<board>-Ch<n>": one holder at a time. Format claim: the first user
// of a board creates the marker "_AJALock_<board>-FmtOrRate7777" and the claim of its format
// (or rate family) "_AJALock_<board>-FmtOrRate<n>"; later users join only when that claim
// exists, that is when they run the same format or family.
#pragma once

#include <memory>
#include <string>

#include "aja/ntv2/ntv2enums.h"
#include "platform/named_claim.h"

namespace orvex::aja {

class AJALocker {
public:
    platform::NamedClaim first;
    platform::NamedClaim second;
};

std::string ChannelLockName(const std::string& board, int channel);
// The family of a frame rate: 60 as 30, 59.94 as 29.97, 50 as 25, any other as itself.
NTV2FrameRate RateFamily(NTV2FrameRate rate);
// The number a format claim carries: the format, or with `byRate` its rate family (60 as
// 30, 59.94 as 29.97, 50 as 25; 0 for a format outside the table).
ULWord FormatLockNumber(NTV2VideoFormat format, bool byRate);

// Null when another object or process holds the channel.
std::unique_ptr<AJALocker> ClaimChannel(const std::string& board, int channel);
bool ChannelBusy(const std::string& board, int channel);
// Null when another user runs the board in another format (or rate family).
std::unique_ptr<AJALocker> ClaimFormat(const std::string& board, ULWord number);

}  // namespace orvex::aja
