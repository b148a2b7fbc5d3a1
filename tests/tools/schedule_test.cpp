// Which source picture each output period shows (by time stamps), the sound each period
// carries, and how the handed picture is put together.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "tools/oxplay/compose.h"
#include "tools/oxplay/output_format.h"
#include "tools/oxplay/schedule.h"

namespace {

using namespace oxplay;

constexpr std::int64_t kSecond = kTicksPerSecond;

// Pictures at given times (each a 2x2 image whose first byte is its number), and a count of
// 16-bit mono samples numbered 1, 2, 3... A picture more than three seconds past `now` is
// "not yet", as the media reader's bounded read-ahead says.
class FakeSource final : public Source {
public:
    FakeSource(std::vector<std::int64_t> starts, std::int64_t end, int audio_samples = 0,
               eMInterlace order = eMI_Progressive, double rate = 25)
        : starts_(std::move(starts)), end_(end), audio_samples_(audio_samples) {
        video.present = !starts_.empty();
        video.interlace = order;
        RateFraction(rate, &video.rate_num, &video.rate_den);
        if (audio_samples > 0) {
            audio.channels = 1;
            audio.rate = 48000;
            audio.bits = 16;
        }
    }
    Fetch NextPicture(std::int64_t now, TimedImage* out, std::string*) override {
        if (next_ >= starts_.size()) return Fetch::kEnd;
        if (starts_[next_] > now + 3 * kSecond) return Fetch::kNotYet;
        auto image = std::make_shared<Image>();
        image->width = 2;
        image->height = 2;
        image->row_bytes = 4;
        image->bytes.assign(8, 0);
        image->bytes[0] = static_cast<std::uint8_t>(next_);
        out->image = image;
        out->start = starts_[next_];
        out->duration = (next_ + 1 < starts_.size() ? starts_[next_ + 1] : end_) - out->start;
        out->number = static_cast<std::int64_t>(next_++);
        return Fetch::kPicture;
    }
    bool ReadAudio(int count, std::uint8_t* out, bool* ended, std::string*) override {
        for (int i = 0; i < count; ++i) {
            const auto v = static_cast<std::int16_t>(++read_ <= audio_samples_ ? read_ : 0);
            std::memcpy(out + i * 2, &v, 2);
        }
        *ended = read_ >= audio_samples_;
        return true;
    }
    bool Rewind(std::string*) override {
        next_ = 0;
        read_ = 0;
        return true;
    }

private:
    std::vector<std::int64_t> starts_;
    std::int64_t end_;
    std::int64_t audio_samples_;
    std::size_t next_ = 0;
    std::int64_t read_ = 0;
};

std::vector<std::int64_t> Regular(int count, double rate, std::int64_t offset = 0) {
    int num, den;
    RateFraction(rate, &num, &den);
    std::vector<std::int64_t> v;
    for (int i = 0; i < count; ++i) v.push_back(offset + PeriodStart(i, num, den));
    return v;
}

OutputClock Out(double rate, eMInterlace order = eMI_Progressive) {
    OutputClock c;
    RateFraction(rate, &c.rate_num, &c.rate_den);
    c.order = order;
    return c;
}

// Runs a schedule to its end: the picture number of each period (-1 for none). Only the
// final period is marked last.
std::vector<int> Shown(Schedule& s, std::vector<PeriodPlan>* plans = nullptr) {
    std::vector<int> numbers;
    std::vector<PeriodPlan> all;
    PeriodPlan plan;
    std::string error;
    while (s.Next(&plan, &error)) {
        numbers.push_back(plan.picture ? plan.picture->bytes[0] : -1);
        all.push_back(plan);
    }
    EXPECT_EQ(error, "");
    for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].last, i + 1 == all.size()) << i;
    if (plans) *plans = std::move(all);
    return numbers;
}

TEST(Schedule, PicturesFollowTheirTimesAtAnyOutputRate) {
    const struct {
        const char* what;
        std::vector<std::int64_t> starts;
        std::int64_t end;
        double out;
        std::vector<int> first;  // the first periods' pictures
        std::size_t periods;
        PictureCounts counts;
    } cases[] = {
        // clang-format off
        {"30 on 25: one in six dropped", Regular(30, 30), kSecond, 25, {0, 1, 3, 4, 5, 6, 7, 9},
         25, {25, 0, 5}},
        {"25 on 50: each twice", Regular(25, 25), kSecond, 50, {0, 0, 1, 1, 2, 2}, 50, {25, 25, 0}},
        {"24 on 25: one repeated", Regular(24, 24), kSecond, 25, {0, 1, 2, 3, 4, 5}, 25,
         {24, 1, 0}},
        {"29.97 on 29.97", Regular(30, 30000.0 / 1001), PeriodStart(30, 30000, 1001),
         30000.0 / 1001, {0, 1, 2, 3}, 30, {30, 0, 0}},
        {"variable rate in real time", {0, 200000, 600000, 800000, 1400000}, 2000000, 50,
         {0, 1, 1, 2, 3, 3, 3, 4, 4, 4}, 10, {5, 5, 0}},
        {"late start: black first", Regular(2, 25, 4 * kSecond / 10), 5 * kSecond / 10, 25,
         {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1}, 13, {2, 1, 0}},
        {"a gap beyond the read-ahead: the picture held", {0, 5 * kSecond},
         5 * kSecond + 400000, 25, {0, 0, 0}, 126, {2, 124, 0}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSource source(c.starts, c.end);
        Schedule schedule(&source, Out(c.out), -1, false);
        const auto shown = Shown(schedule);
        EXPECT_EQ(shown.size(), c.periods);
        ASSERT_GE(shown.size(), c.first.size());
        EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + c.first.size()), c.first);
        const PictureCounts& n = schedule.counts();
        EXPECT_EQ(std::tie(n.shown, n.repeated, n.dropped),
                  std::tie(c.counts.shown, c.counts.repeated, c.counts.dropped));
    }
}

TEST(Schedule, SoundIsCutByTheExactRatioAndOutlastsThePictures) {
    // 29.97 periods hold 1601 or 1602 samples at 48 kHz: five hold exactly 8008.
    FakeSource source(Regular(5, 30000.0 / 1001), PeriodStart(5, 30000, 1001), 12000);
    Schedule schedule(&source, Out(30000.0 / 1001), -1, false);
    std::vector<PeriodPlan> plans;
    const auto shown = Shown(schedule, &plans);
    std::int64_t samples = 0, next = 1;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        if (i < 5) samples += plans[i].samples;
        for (int k = 0; k < plans[i].samples; ++k) {
            std::int16_t v;
            std::memcpy(&v, plans[i].audio.data() + k * 2, 2);
            if (next <= 12000) {
                EXPECT_EQ(v, next++) << "period " << i;  // nothing lost or doubled
            }
        }
    }
    EXPECT_EQ(samples, 8008);
    // The sound lasts 0.25 s: the last picture stays up until it ends (8 periods).
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4, 4, 4, 4}));
    EXPECT_EQ(next, 12001);

    // A limit ends it early, looping starts it again.
    FakeSource three(Regular(3, 25), 3 * kSecond / 25);
    Schedule looped(&three, Out(25), 7, true);
    EXPECT_EQ(Shown(looped), (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
}

TEST(Schedule, FieldsComeFromTheirOwnTimes) {
    // Interlaced 25 onto 50p: each field a frame, in time order (bottom first: the odd lines'
    // field comes first).
    for (const eMInterlace order : {eMI_Field1First, eMI_Field2First}) {
        FakeSource fields(Regular(3, 25), 3 * kSecond / 25, 0, order);
        Schedule bob(&fields, Out(50), -1, false);
        EXPECT_EQ(bob.scan(), Scan::kBob);
        std::vector<PeriodPlan> plans;
        EXPECT_EQ(Shown(bob, &plans), (std::vector<int>{0, 0, 1, 1, 2, 2}));
        for (std::size_t i = 0; i < plans.size(); ++i) EXPECT_EQ(plans[i].field, int(i % 2));
        EXPECT_EQ(bob.counts().repeated, 0);  // a field is not a repeat
    }
    // 50p onto 25i: each frame's fields from two pictures.
    FakeSource frames(Regular(6, 50), 6 * kSecond / 50, 0, eMI_Progressive, 50);
    Schedule weave(&frames, Out(25, eMI_Field1First), -1, false);
    EXPECT_EQ(weave.scan(), Scan::kWeave);
    std::vector<PeriodPlan> plans;
    EXPECT_EQ(Shown(weave, &plans), (std::vector<int>{0, 2, 4}));
    for (std::size_t i = 0; i < plans.size(); ++i) EXPECT_EQ(plans[i].second->bytes[0], 2 * i + 1);
    EXPECT_EQ(weave.counts().shown, 6);

    const struct {
        double source;
        bool fields;
        double out;
        eMInterlace order;
        Scan scan;
    } choices[] = {{25, false, 25, eMI_Field1First, Scan::kWhole},  // 25p on 50i: both fields
                   {50, false, 25, eMI_Field1First, Scan::kWeave},
                   {25, true, 25, eMI_Progressive, Scan::kWhole},  // 50i on 25p: as it is
                   {25, true, 50, eMI_Progressive, Scan::kBob},
                   {25, true, 25, eMI_Field2First, Scan::kWhole}};
    for (const auto& c : choices) {
        VideoInfo v;
        v.present = true;
        RateFraction(c.source, &v.rate_num, &v.rate_den);
        v.interlace = c.fields ? eMI_Field1First : eMI_Progressive;
        EXPECT_EQ(ChooseScan(v, Out(c.out, c.order)), c.scan) << c.source << " on " << c.out;
    }
}

// A 4x4 UYVY picture whose every row is filled with its row number + 100.
std::shared_ptr<Image> Striped(int base = 100, eMInterlace order = eMI_Progressive,
                               int aspect = 1) {
    auto image = std::make_shared<Image>();
    image->width = 4;
    image->height = 4;
    image->row_bytes = 8;
    image->interlace = order;
    image->aspect_num = aspect;
    for (int y = 0; y < 4; ++y) image->bytes.insert(image->bytes.end(), 8, base + y);
    return image;
}

// The first byte of each canvas row, after composing onto a zeroed canvas.
std::vector<int> Compose(const PeriodPlan& plan, Scan scan, const FitSettings& fit,
                         FrameShape* shape = nullptr) {
    FrameShape s;
    std::string error;
    EXPECT_TRUE(ShapeFor(plan, scan, fit, &s, &error)) << error;
    std::vector<std::uint8_t> canvas(static_cast<std::size_t>(s.row_bytes) * s.Height(), 0);
    oxplay::Compose(plan, scan, s, canvas.data());
    std::vector<int> firsts;
    for (int y = 0; y < s.Height(); ++y)
        firsts.push_back(canvas[static_cast<std::size_t>(y) * s.row_bytes + s.placement.dst_x * 2]);
    if (shape) *shape = s;
    return firsts;
}

TEST(Compose, RowsLandWhereTheShapeAndTheFieldsSay) {
    PeriodPlan plan;
    plan.picture = Striped();
    // 4x4 (square) on a 2:1 output: bars beside, every row in place.
    FrameShape shape;
    EXPECT_EQ(Compose(plan, Scan::kWhole, {Fit::kLetterbox, 8, 4, 1.0, eMI_Progressive}, &shape),
              (std::vector<int>{100, 101, 102, 103}));
    EXPECT_EQ(std::tie(shape.placement.canvas_w, shape.placement.dst_x), std::make_tuple(8, 2));
    EXPECT_FALSE(shape.copy_as_is);
    // The same shape as the output: the picture's own bytes go.
    Compose(plan, Scan::kWhole, {Fit::kLetterbox, 8, 8, 1.0, eMI_Progressive}, &shape);
    EXPECT_TRUE(shape.copy_as_is);
    // Crop to 2:1: the middle two rows.
    EXPECT_EQ(Compose(plan, Scan::kWhole, {Fit::kCrop, 8, 4, 1.0, eMI_Progressive}),
              (std::vector<int>{101, 102}));
    // Bottom field first onto top field first: one line down, the last line falls off.
    plan.picture = Striped(100, eMI_Field2First);
    EXPECT_EQ(Compose(plan, Scan::kWhole, {Fit::kStretch, 4, 4, 1.0, eMI_Field1First}, &shape),
              (std::vector<int>{0, 100, 101, 102}));
    EXPECT_EQ(std::tie(shape.shift, shape.interlace), std::make_tuple(1, eMI_Field1First));
    // Bob: the rows of one field, the earlier first (the odd rows when bottom first).
    plan.field = 0;
    EXPECT_EQ(Compose(plan, Scan::kBob, {Fit::kStretch, 4, 4, 1.0, eMI_Progressive}),
              (std::vector<int>{101, 103}));
    plan.field = 1;
    EXPECT_EQ(Compose(plan, Scan::kBob, {Fit::kStretch, 4, 4, 1.0, eMI_Progressive}),
              (std::vector<int>{100, 102}));
    // Weave: the first field's lines from the first picture, the second's from the next.
    plan.picture = Striped(100);
    plan.second = Striped(200);
    EXPECT_EQ(Compose(plan, Scan::kWeave, {Fit::kStretch, 4, 4, 1.0, eMI_Field1First}),
              (std::vector<int>{100, 201, 102, 203}));
    EXPECT_EQ(Compose(plan, Scan::kWeave, {Fit::kStretch, 4, 4, 1.0, eMI_Field2First}),
              (std::vector<int>{200, 101, 202, 103}));
}

}  // namespace
