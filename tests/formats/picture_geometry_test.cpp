#include "formats/picture_geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "formats/format_table.h"
#include "formats/video_formats.h"

namespace orvex::formats {
namespace {

// Sides and strides at the edges: empty, smallest, odd, a width whose bits end inside a byte
// (9-bit YVU9 at 4), the ceiling and past it, int's ends.
constexpr int kWidths[] = {0,       1,  3,      4, 721, 1920, kMaxPictureSide, kMaxPictureSide + 1,
                           INT_MAX, -1, INT_MIN};
constexpr int kHeights[] = {
    0, 1, -1, 3, -1081, kMaxPictureSide, -kMaxPictureSide, kMaxPictureSide + 1, INT_MAX, INT_MIN};
constexpr int kStrides[] = {0, 1, 4096, 1 << 20, INT_MAX, -4, INT_MIN};

// What holds for any answer: the status follows the ceilings, sizes cover the rows, fit a LONG.
TEST(PictureGeometry, EveryPixelFormatAtTheExtremes) {
    std::uint32_t codes[std::size(kPixelFormats) + 2];
    std::size_t n = 0;
    for (const auto& info : kPixelFormats) codes[n++] = info.code;
    codes[n++] = kFccMJPG;  // no row layout
    codes[n++] = 0x12345678;
    for (std::uint32_t code : codes) {
        const auto fcc = static_cast<eMFCC>(code);
        const bool has_layout = PixelFormatBits(fcc) > 0;
        for (int w : kWidths) {
            for (int h : kHeights) {
                for (int stride : kStrides) {
                    SCOPED_TRACE(testing::Message() << std::hex << code << std::dec << " " << w
                                                    << "x" << h << " stride " << stride);
                    PictureGeometry g;
                    g.total_bytes = -1;
                    const HRESULT hr = PictureGeometryOf(fcc, w, h, stride, &g);
                    const std::int64_t rows = h < 0 ? -std::int64_t{h} : h;
                    const bool out_of_range = w < 0 || w > kMaxPictureSide ||
                                              rows > kMaxPictureSide || stride < 0 ||
                                              stride > kMaxRowBytes;
                    if (out_of_range) {
                        ASSERT_EQ(hr, E_INVALIDARG);
                    } else if (w == 0 || h == 0 || !has_layout) {
                        ASSERT_EQ(hr, S_FALSE);
                    } else {
                        ASSERT_TRUE(hr == S_OK || hr == E_INVALIDARG);
                    }
                    if (hr != S_OK) {
                        ASSERT_EQ(g.total_bytes, 0);  // nothing half-filled to act on
                        ASSERT_EQ(g.planes, 0);
                        continue;
                    }
                    ASSERT_EQ(g.rows, rows);
                    // A planar row is its 8-bit luma; a packed one holds all its bits.
                    const std::int64_t least =
                        PixelFormatIsPlanar(fcc) ? w
                                                 : (PixelFormatBits(fcc) * std::int64_t{w} + 7) / 8;
                    ASSERT_GE(g.pixel_bytes, least);
                    ASSERT_GE(g.row_bytes, g.pixel_bytes);
                    if (stride != 0) {
                        ASSERT_EQ(g.row_bytes, stride);
                    }
                    ASSERT_GE(g.plane_bytes[0], g.row_bytes * rows);
                    ASSERT_EQ(g.total_bytes,
                              g.plane_bytes[0] + g.plane_bytes[1] + g.plane_bytes[2]);
                    ASSERT_LE(g.total_bytes, kMaxPictureBytes);
                    ASSERT_EQ(g.planes > 1, PixelFormatIsPlanar(fcc));
                }
            }
        }
    }
    EXPECT_EQ(PictureGeometryOf(eMFCC_UYVY, 2, 2, 0, nullptr), E_POINTER);
}

// Exact sizes where the layout is known by heart, and the boundaries of the ceilings.
TEST(PictureGeometry, SizesOfKnownLayouts) {
    struct Case {
        std::uint32_t fcc;
        int width, height, stride;
        HRESULT want;
        std::int64_t row_bytes, pixel_bytes, total;
        int planes;
    } cases[] = {
        {eMFCC_v210, 1920, 1080, 0, S_OK, 5120, 5120, 5120 * 1080, 1},
        {eMFCC_v210, 1, 1, 0, S_OK, 128, 128, 128, 1},
        {eMFCC_r210, 65, 2, 0, S_OK, 512, 512, 1024, 1},
        {eMFCC_UYVY, 721, 1, 0, S_OK, 1444, 1444, 1444, 1},  // odd widths end in a whole pair
        {eMFCC_YUY2, 3, -2, 0, S_OK, 8, 8, 16, 1},
        {eMFCC_RGB24, 2, -3, 0, S_OK, 8, 6, 24, 1},
        {eMFCC_RGB24, 2, 3, 6, S_OK, 6, 6, 18, 1},  // tightly packed rows
        {eMFCC_RGB24, 2, 3, 5, E_INVALIDARG, 0, 0, 0, 0},
        {eMFCC_RGB32, 0x40000001, 1, 0, E_INVALIDARG, 0, 0, 0, 0},
        {eMFCC_I420, 5, 3, 0, S_OK, 5, 5, 15 + 2 * (3 * 2), 3},
        {eMFCC_YV12, 4, 4, 8, S_OK, 8, 4, 32 + 2 * (4 * 2), 3},
        {eMFCC_NV12, 5, 3, 0, S_OK, 5, 5, 15 + 6 * 2, 2},
        {kFccY422, 4, 2, 0, S_OK, 4, 4, 8 + 2 * (2 * 2), 3},
        {kFccY444, 4, 2, 0, S_OK, 4, 4, 3 * 8, 3},
        // The largest sides pass while the picture fits; one more row of RGB32 does not.
        {eMFCC_RGB8, kMaxPictureSide, kMaxPictureSide, 0, S_OK, 32768, 32768, 1LL << 30, 1},
        {eMFCC_UYVY, kMaxPictureSide, kMaxPictureSide, 0, E_INVALIDARG, 0, 0, 0, 0},  // 2^31
        {eMFCC_UYVY, kMaxPictureSide, 32767, 0, S_OK, 65536, 65536, 65536LL * 32767, 1},
        {eMFCC_RGB32, kMaxPictureSide, 16383, 0, S_OK, 131072, 131072, 131072LL * 16383, 1},
        {eMFCC_RGB32, kMaxPictureSide, 16384, 0, E_INVALIDARG, 0, 0, 0, 0},
        {eMFCC_RGB8, 1, 1, static_cast<int>(kMaxRowBytes), S_OK, kMaxRowBytes, 1, kMaxRowBytes, 1},
        {eMFCC_RGB8, 1, 1, static_cast<int>(kMaxRowBytes) + 1, E_INVALIDARG, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.fcc << std::dec << " " << c.width << "x"
                                        << c.height << " stride " << c.stride);
        PictureGeometry g;
        ASSERT_EQ(PictureGeometryOf(static_cast<eMFCC>(c.fcc), c.width, c.height, c.stride, &g),
                  c.want);
        EXPECT_EQ(g.row_bytes, c.row_bytes);
        EXPECT_EQ(g.pixel_bytes, c.pixel_bytes);
        EXPECT_EQ(g.total_bytes, c.total);
        EXPECT_EQ(g.planes, c.planes);
    }
}

}  // namespace
}  // namespace orvex::formats
