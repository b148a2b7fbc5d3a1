// Which output a file chooses, and where its picture lands on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/oxplay/output_format.h"

namespace {

using namespace oxplay;

constexpr double k2398 = 24000.0 / 1001, k2997 = 30000.0 / 1001, k5994 = 60000.0 / 1001;

FormatEntry Entry(const char* name, int w, int h, double rate, eMInterlace order, int ax, int ay,
                  int stereo = 0) {
    FormatEntry e;
    e.name = name;
    e.props.eVideoFormat = static_cast<eMVideoFormat>(1 | stereo);
    e.props.nWidth = w;
    e.props.nHeight = h;
    e.props.dblRate = rate;
    e.props.eInterlace = order;
    e.props.nAspectX = static_cast<short>(ax);
    e.props.nAspectY = static_cast<short>(ay);
    return e;
}

// The virtual 4K card's list, as the renderer gives it (3D entries included).
std::vector<FormatEntry> CardFormats() {
    const eMInterlace p = eMI_Progressive, t = eMI_Field1First, b = eMI_Field2First;
    return {Entry("NTSC", 720, 486, k2997, b, 4, 3),
            Entry("NTSC-23p", 720, 486, k2398, p, 4, 3),
            Entry("PAL", 720, 576, 25, t, 4, 3),
            Entry("3D-HSbS HD720-50p", 1280, 720, 50, p, 16, 9, 0x200),
            Entry("HD720-50p", 1280, 720, 50, p, 16, 9),
            Entry("HD720-59p", 1280, 720, k5994, p, 16, 9),
            Entry("HD720-60p", 1280, 720, 60, p, 16, 9),
            Entry("HD1080-23p", 1920, 1080, k2398, p, 16, 9),
            Entry("HD1080-24p", 1920, 1080, 24, p, 16, 9),
            Entry("HD1080-25p", 1920, 1080, 25, p, 16, 9),
            Entry("HD1080-29p", 1920, 1080, k2997, p, 16, 9),
            Entry("HD1080-30p", 1920, 1080, 30, p, 16, 9),
            Entry("HD1080-50i", 1920, 1080, 25, t, 16, 9),
            Entry("HD1080-59i", 1920, 1080, k2997, t, 16, 9),
            Entry("HD1080-50p", 1920, 1080, 50, p, 16, 9),
            Entry("HD1080-59p", 1920, 1080, k5994, p, 16, 9),
            Entry("2K-23p", 2048, 1556, k2398, p, 239, 100),
            Entry("2K-25p", 2048, 1556, 25, p, 239, 100),
            Entry("4K-UHD-5994i", 3840, 2160, k2997, t, 16, 9),
            Entry("4K-UHD-25p", 3840, 2160, 25, p, 16, 9),
            Entry("4K-UHD-29p", 3840, 2160, k2997, p, 16, 9),
            Entry("4K-DCI-25p", 4096, 2160, 25, p, 256, 135)};
}

TEST(OutputChoice, FamilyThenTheSmallestFrameThatHoldsThenScanThenRate) {
    const auto formats = CardFormats();
    const struct {
        PictureShape shape;
        const char* chosen;
    } cases[] = {
        {{1280, 720, 1, 30, false}, "HD720-60p"},    // 30 doubled: the only 720 line 30/60
        {{1280, 720, 1, 25, false}, "HD720-50p"},    // 25 doubled
        {{1920, 1080, 1, 25, false}, "HD1080-25p"},  // its own rate before its double
        {{1920, 1080, 1, 50, false}, "HD1080-50p"},
        {{1920, 1080, 1, 25, true}, "HD1080-50i"},   // fields for fields
        {{1920, 1080, 1, 27, false}, "HD1080-25p"},  // 27 is nearest the 25 family
        {{1920, 1080, 1, 24, false}, "HD1080-24p"},
        {{1920, 1080, 1, k2398, false}, "HD1080-23p"},
        {{1080, 1920, 1, k2997, false}, "4K-UHD-29p"},  // a phone held upright needs 1920 lines
        {{2048, 858, 1, k2398, false}, "2K-23p"},
        {{3840, 2160, 1, k5994, false}, "4K-UHD-29p"},  // no UHD 59.94: its family's largest
        {{7680, 4320, 1, 25, false}, "4K-DCI-25p"},     // nothing holds it: the largest
        {{640, 480, 1, k2997, false}, "NTSC"},          // 640 square pixels fit NTSC's 720
        {{720, 480, 0.9, k2398, false}, "NTSC-23p"},
        {{640, 480, 1, 12.5, false}, "PAL"},      // half of 25
        {{768, 576, 1, 25, false}, "PAL"},        // PAL's square-pixel width
        {{800, 576, 1, 25, false}, "HD720-50p"},  // wider than PAL shows
    };
    for (const auto& c : cases) {
        const int i = ChooseFormat(formats, c.shape);
        ASSERT_GE(i, 0) << c.chosen;
        EXPECT_EQ(formats[i].name, c.chosen)
            << c.shape.width << "x" << c.shape.height << " at " << c.shape.rate;
    }
    EXPECT_EQ(ChooseFormat({formats[3]}, {1280, 720, 1, 50, false}), -1);  // 3D only
}

TEST(OutputChoice, RatesFallIntoTheirFamilies) {
    const struct {
        double rate;
        RateFamily family;
    } cases[] = {{k2398, RateFamily::k24},   {24, RateFamily::k24},      {25, RateFamily::k25},
                 {50, RateFamily::k25},      {100, RateFamily::k25},     {27, RateFamily::k25},
                 {k2997, RateFamily::k2997}, {k5994, RateFamily::k2997}, {15, RateFamily::k30},
                 {60, RateFamily::k30},      {0, RateFamily::k25},       {-1, RateFamily::k25}};
    for (const auto& c : cases) EXPECT_EQ(FamilyOf(c.rate), c.family) << c.rate;
}

TEST(OutputChoice, PixelsAreSquareFrom720LinesAndShapedBelow) {
    EXPECT_EQ(OutputPixelAspect(CardFormats()[16].props), 1.0);  // 2K, whatever its aspect says
    EXPECT_NEAR(OutputPixelAspect(CardFormats()[0].props), 0.9, 1e-9);        // NTSC 4:3
    EXPECT_NEAR(OutputPixelAspect(CardFormats()[2].props), 16.0 / 15, 1e-9);  // PAL 4:3
}

TEST(Placement, KeepsThePictureShapeOnTheOutput) {
    struct Case {
        const char* what;
        PlaceRequest request;
        Placement want;
    };
    auto req = [](Fit fit, int w, int h, double par, int ow, int oh, double opar = 1.0,
                  int step = 2, bool parity = false) {
        return PlaceRequest{fit, w, h, par, ow, oh, opar, step, parity};
    };
    // clang-format off
    const Case cases[] = {
        {"same shape", req(Fit::kLetterbox, 1280, 720, 1, 1920, 1080),
         {1280, 720, 0, 0, 1280, 720, 0, 0}},
        {"upright phone: bars beside", req(Fit::kLetterbox, 1080, 1920, 1, 1920, 1080),
         {3414, 1920, 0, 0, 1080, 1920, 1166, 0}},
        {"scope film: bars above and below", req(Fit::kLetterbox, 2048, 858, 1, 1920, 1080),
         {2048, 1152, 0, 0, 2048, 858, 0, 147}},
        {"fields keep their lines", req(Fit::kLetterbox, 2048, 858, 1, 1920, 1080, 1, 2, true),
         {2048, 1152, 0, 0, 2048, 858, 0, 146}},
        {"4:3 on 16:9", req(Fit::kLetterbox, 640, 480, 1, 1280, 720),
         {854, 480, 0, 0, 640, 480, 106, 0}},
        {"v210 groups of six", req(Fit::kLetterbox, 640, 480, 1, 1280, 720, 1, 6),
         {854, 480, 0, 0, 640, 480, 102, 0}},
        {"PAL 16:9 pixels", req(Fit::kLetterbox, 720, 576, 64.0 / 45, 1920, 1080),
         {720, 576, 0, 0, 720, 576, 0, 0}},
        {"square onto NTSC", req(Fit::kLetterbox, 640, 480, 1, 720, 486, 0.9),
         {640, 480, 0, 0, 640, 480, 0, 0}},
        {"under 1% adds no bar", req(Fit::kLetterbox, 1920, 1088, 1, 1920, 1080),
         {1920, 1088, 0, 0, 1920, 1088, 0, 0}},
        {"crop above and below", req(Fit::kCrop, 1440, 1080, 1, 1280, 720),
         {1440, 810, 0, 135, 1440, 810, 0, 0}},
        {"crop the sides", req(Fit::kCrop, 2048, 858, 1, 1920, 1080),
         {1524, 858, 262, 0, 1524, 858, 0, 0}},
        {"stretch", req(Fit::kStretch, 1080, 1920, 1, 1920, 1080),
         {1080, 1920, 0, 0, 1080, 1920, 0, 0}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Placement p;
        std::string error;
        ASSERT_TRUE(Place(c.request, &p, &error)) << error;
        EXPECT_EQ(
            std::tie(p.canvas_w, p.canvas_h, p.src_x, p.src_y, p.src_w, p.src_h, p.dst_x, p.dst_y),
            std::tie(c.want.canvas_w, c.want.canvas_h, c.want.src_x, c.want.src_y, c.want.src_w,
                     c.want.src_h, c.want.dst_x, c.want.dst_y));
    }
    Placement p;
    std::string error;
    EXPECT_FALSE(Place(req(Fit::kLetterbox, 1920, 1080, 1000, 1920, 1080), &p, &error));
    EXPECT_NE(error.find("pixel aspect"), std::string::npos) << error;
}

}  // namespace
