#include "decklink/cdp.h"

#include <cmath>

#include "formats/format_table.h"

namespace orvex::decklink {
namespace {

struct RateRow {
    double fps;
    CdpRate rate;
};

constexpr RateRow kRates[] = {
    {formats::kRate2398, {1, 25}}, {24, {2, 25}}, {25, {3, 24}},
    {formats::kRate2997, {4, 20}}, {30, {5, 20}}, {50, {6, 12}},
    {formats::kRate5994, {7, 10}}, {60, {8, 10}},
};

constexpr std::size_t kGa94Header = 7;  // identifier, type, cc_count, em_data
constexpr std::size_t kMinItem = 11;
constexpr std::size_t kC708Prefix = 4;

}  // namespace

std::optional<CdpRate> CdpRateFor(double fps) {
    for (const RateRow& row : kRates)
        if (std::fabs(fps - row.fps) < 0.005) return row.rate;
    return std::nullopt;
}

double OutputFrameRate(const M_VID_PROPS& props) {
    const int base = props.eVideoFormat & 0xFF;
    switch (base) {  // named without geometry in the format table
        case eMVF_4K_UHD_50p:
        case eMVF_4K_DCI_50p:
            return 50;
        case eMVF_4K_UHD_5994p:
        case eMVF_4K_DCI_5994p:
            return formats::kRate5994;
        case eMVF_4K_UHD_60p:
        case eMVF_4K_DCI_60p:
            return 60;
        default:
            break;
    }
    if (base > eMVF_Custom && base < eMVF_Disabled && formats::kBaseFormats[base].rate > 0)
        return formats::kBaseFormats[base].rate;
    return props.dblRate;
}

std::uint8_t CdpChecksum(const std::uint8_t* cdp, std::size_t size) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < size; ++i) sum += cdp[i];
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::optional<std::vector<std::uint8_t>> BuildCdpFromGa94(const std::uint8_t* item,
                                                          std::size_t size, CdpRate rate,
                                                          std::uint16_t sequence) {
    if (!item || size < kMinItem) return std::nullopt;
    const std::size_t declared = item[5] & 0x1F;
    const std::size_t present = std::min(declared, (size - kGa94Header) / 3);
    const std::uint8_t seq_hi = static_cast<std::uint8_t>(sequence >> 8);
    const std::uint8_t seq_lo = static_cast<std::uint8_t>(sequence);

    std::vector<std::uint8_t> cdp{0x96,
                                  0x69,
                                  static_cast<std::uint8_t>(rate.cc_count * 3 + 13),
                                  static_cast<std::uint8_t>((rate.code << 4) | 0x0F),
                                  0x41,
                                  seq_hi,
                                  seq_lo,
                                  0x72,
                                  static_cast<std::uint8_t>(0xE0 | rate.cc_count)};
    std::size_t taken = 0;
    for (std::size_t i = 0; i < present && taken < rate.cc_count; ++i) {
        const std::uint8_t* t = item + kGa94Header + 3 * i;
        if ((t[0] & 0xFC) != 0xFC) continue;  // marker bits 11111 and cc_valid
        cdp.insert(cdp.end(), t, t + 3);
        ++taken;
    }
    for (; taken < rate.cc_count; ++taken) cdp.insert(cdp.end(), {0xFA, 0x00, 0x00});
    cdp.insert(cdp.end(), {0x74, seq_hi, seq_lo, 0x00});
    cdp.back() = CdpChecksum(cdp.data(), cdp.size());
    return cdp;
}

std::optional<std::vector<std::uint8_t>> CdpFromC708(const std::uint8_t* item, std::size_t size) {
    if (!item || size < kMinItem) return std::nullopt;
    const std::uint8_t* cdp = item + kC708Prefix;
    const std::size_t length = cdp[2];
    if (length == 0 || length > size - kC708Prefix) return std::nullopt;
    std::vector<std::uint8_t> copy(cdp, cdp + length);
    copy.back() = CdpChecksum(copy.data(), copy.size());
    return copy;
}

}  // namespace orvex::decklink
