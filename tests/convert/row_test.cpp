#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/cpu_level.h"
#include "convert/planes.h"
#include "convert/row.h"
#include "test_buffers.h"

namespace orvex::convert {
namespace {

using testing::PageEndBuffer;

constexpr Row kAllRows[] = {
    Row::kSwap422,     Row::kRgb32ToRgb24, Row::kRgb24ToRgb32, Row::kRgb32ToUyvy, Row::kRgb32ToYuy2,
    Row::kRgb24ToUyvy, Row::kRgb24ToYuy2,  Row::kUyvyToRgb32,  Row::kYuy2ToRgb32, Row::kUyvyToRgb24,
    Row::kYuy2ToRgb24, Row::kUyvyToV210,   Row::kYuy2ToV210,   Row::kV210ToUyvy,
};

std::vector<int> SimdLevels() {
    std::vector<int> levels;
    for (int level : {kLevelSsse3, kLevelAvx2, kLevelAvx512}) {
        if (level <= ProcessorLevelSupported()) levels.push_back(level);
    }
    return levels;
}

struct Case {
    Row row;
    int level;
};

class RowVariants : public ::testing::TestWithParam<Case> {};

// Every SIMD variant on whole blocks, at every alignment, against the portable form.
TEST_P(RowVariants, MatchPortableOnWholeBlocks) {
    const auto [row, level] = GetParam();
    // Plain variants first, then the streaming ones (whose destination stays 16-byte aligned).
    RowFn variants[4];
    const int plain = RowVariantsOfLevel(row, level, variants);
    const int count = plain + RowStreamingVariantsOfLevel(row, level, variants + plain);
    if (count == 0) GTEST_SKIP() << "no variant of its own at this level";
    const RowParams params = MakeRowParams(YuvMatrix::kBt601, 200);
    const int block = RowBlockPixels(row, level);
    for (int v = 0; v < count; ++v) {
        const RowFn simd = variants[v];
        for (int blocks : {1, 2, 5}) {
            const int width = block * blocks;
            for (int misalign = 0; misalign < 4; ++misalign) {
                const std::size_t dst_bytes = RowDestBytes(row, width);
                const std::size_t dst_misalign = v < plain ? misalign : 0;
                PageEndBuffer src(RowSourceBytes(row, width) + misalign);
                src.Fill(static_cast<std::uint32_t>(width + misalign + int(row)));
                PageEndBuffer want(dst_bytes), got((dst_bytes + 15) / 16 * 16 + dst_misalign);
                std::uint8_t* out = got.data() + dst_misalign;
                ASSERT_TRUE(v < plain || reinterpret_cast<std::uintptr_t>(out) % 16 == 0);
                RowVariant(row, kLevelPortable)(src.data() + misalign, want.data(), width, &params);
                simd(src.data() + misalign, out, width, &params);
                ASSERT_EQ(0, std::memcmp(want.data(), out, want.size()))
                    << "row " << int(row) << " level " << level << " variant " << v << " width "
                    << width << " misalign " << misalign;
            }
        }
    }
}

// The selected runner on widths ending mid-block, through a flipped image.
TEST_P(RowVariants, SelectedRunnerMatchesOnTailsAndFlippedImages) {
    const auto [row, level] = GetParam();
    const RowParams params = MakeRowParams(YuvMatrix::kBt709);
    const int block = RowBlockPixels(row, level);
    const bool even = RowIsSubsampled(row);
    for (int width :
         {block + (even ? 2 : 1), 3 * block - (even ? 2 : 1), block * 2 + 6, even ? 2 : 1, 1922}) {
        const int height = 3;
        const std::size_t sb = RowSourceBytes(row, width) + 3, db = RowDestBytes(row, width) + 1;
        PageEndBuffer src(sb * height);
        src.Fill(static_cast<std::uint32_t>(width + int(row)));
        PageEndBuffer want(db * height), got(db * height);
        want.Set(0x5A);
        got.Set(0x5A);
        const auto last = [](PageEndBuffer& b, std::size_t stride) {
            return b.data() + (b.size() - stride);
        };
        ASSERT_EQ(0, ConvertRows(row, last(src, sb), -std::ptrdiff_t(sb), want.data(),
                                 std::ptrdiff_t(db), width, height, params, kLevelPortable));
        ASSERT_EQ(0, ConvertRows(row, last(src, sb), -std::ptrdiff_t(sb), got.data(),
                                 std::ptrdiff_t(db), width, height, params, level));
        ASSERT_EQ(0, std::memcmp(want.data(), got.data(), want.size()))
            << "row " << int(row) << " level " << level << " width " << width;
    }
}

// Rows without gaps run as one long row, with the bytes of the rows one by one.
TEST_P(RowVariants, DenseRowsMatchRowByRow) {
    const auto [row, level] = GetParam();
    const RowParams params = MakeRowParams(YuvMatrix::kBt601);
    const bool even = RowIsSubsampled(row);
    for (int width : {RowBlockPixels(row, level), 1920, 1922, 10, even ? 4 : 7}) {
        const int height = 4;
        const std::size_t sb = RowSourceBytes(row, width), db = RowDestBytes(row, width);
        PageEndBuffer src(sb * height), padded(sb * height + 16 * height);
        src.Fill(static_cast<std::uint32_t>(width + int(row)));
        for (int y = 0; y < height; ++y)
            std::memcpy(padded.data() + y * (sb + 16), src.data() + y * sb, sb);
        for (const bool bottom_up : {false, true}) {
            PageEndBuffer want(db * height), got(db * height);
            const std::ptrdiff_t dir = bottom_up ? -1 : 1;
            const std::size_t first = bottom_up ? height - 1 : 0;
            for (int y = 0; y < height; ++y) {
                ASSERT_EQ(
                    0, ConvertRows(row, padded.data() + y * (sb + 16), 0, want.data() + y * db, 0,
                                   width, 1, params, kLevelPortable));
            }
            ASSERT_EQ(0, ConvertRows(row, src.data() + first * sb, dir * std::ptrdiff_t(sb),
                                     got.data() + first * db, dir * std::ptrdiff_t(db), width,
                                     height, params, level));
            ASSERT_EQ(0, std::memcmp(want.data(), got.data(), want.size()))
                << "row " << int(row) << " level " << level << " width " << width
                << (bottom_up ? " bottom-up" : "");
        }
    }
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (Row row : kAllRows) {
        for (int level : SimdLevels()) cases.push_back({row, level});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(All, RowVariants, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return "row" + std::to_string(int(info.param.row)) + "_level" +
                                    std::to_string(info.param.level);
                         });

// v210 words as a reference decoder reads them: three 10-bit samples per 32-bit word.
std::vector<int> V210Samples(const std::uint8_t* p, int groups) {
    std::vector<int> out;
    for (int i = 0; i < groups * 4; ++i) {
        const std::uint32_t w = p[4 * i] | (p[4 * i + 1] << 8) | (p[4 * i + 2] << 16) |
                                (std::uint32_t(p[4 * i + 3]) << 24);
        for (int k = 0; k < 3; ++k) out.push_back(int((w >> (10 * k)) & 0x3FF));
        EXPECT_EQ(0u, w >> 30);
    }
    return out;
}

// UYVY as YUY2: each byte pair the other way round.
void SwapPairs(const std::uint8_t* from, std::uint8_t* to, int width) {
    for (int i = 0; i < width * 2; i += 2) {
        to[i] = from[i + 1];
        to[i + 1] = from[i];
    }
}

TEST(V210, UnpackDropsTheTwoLowBits) {
    std::uint8_t group[16];
    // Samples 0x3FF, 0x001, 0x202 in each word.
    const std::uint32_t w = 0x3FFu | (0x001u << 10) | (0x202u << 20);
    for (int k = 0; k < 4; ++k) std::memcpy(group + 4 * k, &w, 4);
    std::uint8_t out[12];
    const RowParams p = MakeRowParams(YuvMatrix::kBt709);
    SelectRow(Row::kV210ToUyvy, kLevelPortable)(group, out, 6, &p);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(0xFF, out[3 * k]);
        EXPECT_EQ(0x00, out[3 * k + 1]);
        EXPECT_EQ(0x80, out[3 * k + 2]);
    }
}

// Samples pack as 10-bit values four times the 8-bit ones; a partial last group is padded
// from the row's last pair, and nothing past the row is read.
TEST(V210, PacksSamplesTimesFourAndStaysInsideTheRow) {
    for (int width : {2, 4, 8, 10, 48, 1922}) {
        for (int level : {int(kLevelPortable), ProcessorLevel()}) {
            PageEndBuffer src(width * 2);
            src.Fill(static_cast<std::uint32_t>(width));
            const std::size_t bytes = RowDestBytes(Row::kUyvyToV210, width);
            EXPECT_EQ(std::size_t((width + 5) / 6 * 16), bytes);
            PageEndBuffer dst(bytes);
            const RowParams p = MakeRowParams(YuvMatrix::kBt709);
            SelectRow(Row::kUyvyToV210, level)(src.data(), dst.data(), width, &p);
            const std::vector<int> s = V210Samples(dst.data(), int(bytes / 16));
            const std::uint8_t* lastPair = src.data() + width * 2 - 4;
            for (std::size_t i = 0; i < s.size(); ++i) {
                const bool padding = i >= std::size_t(width) * 2;
                ASSERT_EQ((padding ? lastPair[i % 4] : src.data()[i]) * 4, s[i])
                    << width << " " << i;
            }
            // YUY2 packs to the same groups, padding included.
            PageEndBuffer yuy2(width * 2), packed2(bytes);
            SwapPairs(src.data(), yuy2.data(), width);
            SelectRow(Row::kYuy2ToV210, level)(yuy2.data(), packed2.data(), width, &p);
            EXPECT_EQ(0, std::memcmp(dst.data(), packed2.data(), bytes)) << width;
            // Unpacking writes whole pairs of the width only.
            PageEndBuffer back(width * 2);
            SelectRow(Row::kV210ToUyvy, level)(dst.data(), back.data(), width, &p);
            EXPECT_EQ(0, std::memcmp(src.data(), back.data(), width * 2)) << width;
        }
    }
}

// Studio-range anchors of both matrices, and a grey ramp that survives a round trip.
TEST(Colour, StudioRangeAnchorsAndRoundTrip) {
    for (YuvMatrix m : {YuvMatrix::kBt601, YuvMatrix::kBt709}) {
        const RowParams p = MakeRowParams(m);
        const std::uint8_t rgb[16] = {0,   0,   0,   0, 255, 255, 255, 0,
                                      128, 128, 128, 0, 128, 128, 128, 0};
        std::uint8_t uyvy[8];
        SelectRow(Row::kRgb32ToUyvy, kLevelPortable)(rgb, uyvy, 4, &p);
        EXPECT_EQ(16, uyvy[1]);
        EXPECT_EQ(235, uyvy[3]);
        EXPECT_EQ(128, uyvy[0]);
        EXPECT_EQ(128, uyvy[2]);
        EXPECT_EQ(uyvy[5], uyvy[7]);
        EXPECT_EQ(128, uyvy[4]);
        EXPECT_EQ(128, uyvy[6]);

        const std::uint8_t black_white[4] = {128, 16, 128, 235};
        std::uint8_t out[8];
        SelectRow(Row::kUyvyToRgb32, kLevelPortable)(black_white, out, 2, &p);
        const std::uint8_t want[8] = {0, 0, 0, 255, 255, 255, 255, 255};
        EXPECT_EQ(0, std::memcmp(want, out, 8));

        // Saturated primaries come back within a step of two.
        const std::uint8_t prim[24] = {0, 0,   255, 0, 0,   0, 255, 0, 0,   255, 0, 0,
                                       0, 255, 0,   0, 255, 0, 0,   0, 255, 0,   0, 0};
        std::uint8_t yuv[12], again[24];
        SelectRow(Row::kRgb32ToUyvy, kLevelPortable)(prim, yuv, 6, &p);
        SelectRow(Row::kUyvyToRgb32, kLevelPortable)(yuv, again, 6, &p);
        for (int i = 0; i < 24; ++i) {
            if (i % 4 != 3) {
                EXPECT_NEAR(prim[i], again[i], 2) << i;
            }
        }
    }
}

TEST(CpuLevel, NamesAndForcedLevel) {
    EXPECT_EQ(kLevelPortable, ProcessorLevelFromName("c"));
    EXPECT_EQ(kLevelAvx2, ProcessorLevelFromName("avx2"));
    EXPECT_EQ(kLevelAvx512, ProcessorLevelFromName("avx512"));
    EXPECT_EQ(kLevelNone, ProcessorLevelFromName("AVX9"));
    EXPECT_LE(ProcessorLevel(), ProcessorLevelSupported());
    // Levels without a variant of their own take the best lower one.
    for (int level = 0; level < kLevelCount; ++level) {
        for (Row row : kAllRows) ASSERT_NE(nullptr, SelectRow(row, level));
    }
    EXPECT_EQ(nullptr, RowVariant(Row::kSwap422, kLevelSse41));
}

TEST(Planes, StatusCodes) {
    const RowParams p = MakeRowParams(YuvMatrix::kBt601);
    std::uint8_t buf[64] = {};
    EXPECT_EQ(kNullPointer, ConvertRows(Row::kSwap422, nullptr, 0, buf, 0, 2, 1, p));
    EXPECT_EQ(kNullPointer, ConvertRows(Row::kSwap422, buf, 0, nullptr, 0, 2, 1, p));
    EXPECT_EQ(kBadSize, ConvertRows(Row::kSwap422, buf, 0, buf, 0, 1, 1, p));
    EXPECT_EQ(kBadSize, ConvertRows(Row::kSwap422, buf, 0, buf, 0, 2, 0, p));
    EXPECT_EQ(0, ConvertRows(Row::kRgb32ToRgb24, buf, 4, buf + 32, 3, 1, 1, p));
    EXPECT_EQ(kBadSize, CopyRows(buf, 0, buf, 0, 0, 1));
}

}  // namespace
}  // namespace orvex::convert
