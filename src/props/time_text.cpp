#include <algorithm>
#include <cmath>
#include <cstdio>

#include "props/text_scan.h"
#include "props/value_text.h"

namespace orvex::props {
namespace {

constexpr std::uint64_t kSecondsPerDay = 86400;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Position a unit letter gives the number to its left: 3 hours, 2 minutes, 1 seconds.
int UnitPosition(char16_t c) {
    switch (c) {
        case u'H':
        case u'h':
            return 3;
        case u'M':
        case u'm':
            return 2;
        case u'S':
        case u's':
            return 1;
        default:
            return -1;
    }
}

// Only the time of day matters, so every sum is kept modulo one day.
class TimeScanner {
public:
    explicit TimeScanner(std::u16string_view text) : text_(text) {}

    // Scans right to left; returns the index of the white space it stopped at, or npos.
    std::size_t Scan() {
        for (std::size_t i = text_.size(); i-- > 0;) {
            const char16_t c = text_[i];
            if (detail::IsDigit(c)) {
                value_ = (value_ + (c - u'0') * scale_) % kSecondsPerDay;
                scale_ = scale_ * 10 % kSecondsPerDay;
                start_ = i;
                ++digits_;
                continue;
            }
            if (digits_ > 0) {
                Close(c);
            } else if (const int unit = UnitPosition(c); unit >= 0) {
                SetUnit(unit);
            }
            if (IsBlank(c)) return i;
        }
        if (digits_ > 0) Close(u'\0');
        return std::u16string_view::npos;
    }

    SystemTime Result() const {
        std::uint64_t total = total_;
        // Without a seconds mark, "12:34" is hours and minutes and "90" is minutes.
        if (!seconds_) total = total % 1440 * 60;
        long milliseconds = std::lround(fraction_ * 1000);
        if (milliseconds >= 1000) {
            milliseconds -= 1000;
            total = (total + 1) % kSecondsPerDay;
        }
        SystemTime time;
        time.hour = static_cast<std::uint16_t>(total / 3600);
        time.minute = static_cast<std::uint16_t>(total % 3600 / 60);
        time.second = static_cast<std::uint16_t>(total % 60);
        time.millisecond = static_cast<std::uint16_t>(milliseconds);
        return time;
    }

private:
    // An explicit unit says what the numbers mean, and which position the next one takes.
    void SetUnit(int unit) {
        position_ = unit;
        seconds_ = true;
        second_unit_ = unit == 1;
    }

    void Close(char16_t closer) {
        bool whole = true;
        // "3.5" and "3.5s" both end in half a second: a seconds letter leaves room for a
        // fraction just as the end of the text does.
        if ((position_ == 0 || second_unit_) && closer == u'.') {
            // Fraction of a second: the leading digits are enough for milliseconds.
            const std::size_t used = std::min<std::size_t>(digits_, 9);
            double numerator = 0, denominator = 1;
            for (std::size_t k = 0; k < used; ++k) {
                numerator = numerator * 10 + (text_[start_ + k] - u'0');
                denominator *= 10;
            }
            fraction_ = numerator / denominator;
            seconds_ = true;
            whole = false;
        } else if (position_ <= 1) {
            total_ += value_;
        } else if (position_ == 2) {
            total_ += value_ % 1440 * 60;
        } else if (position_ == 3) {
            total_ += value_ % 24 * 3600;
            seconds_ = true;
        }
        total_ %= kSecondsPerDay;

        second_unit_ = false;
        if (const int unit = UnitPosition(closer); unit >= 0) {
            SetUnit(unit);
        } else if (!whole) {
            position_ = 1;  // the whole seconds stand left of their fraction
        } else {
            position_ = position_ == 0 ? 2 : std::min(position_ + 1, 4);
        }
        digits_ = 0;
        value_ = 0;
        scale_ = 1;
    }

    std::u16string_view text_;
    std::uint64_t total_ = 0;
    double fraction_ = 0;
    bool seconds_ = false;
    bool second_unit_ = false;  // position 1 was set by a seconds letter
    int position_ = 0;
    std::size_t digits_ = 0;
    std::size_t start_ = 0;
    std::uint64_t value_ = 0;
    std::uint64_t scale_ = 1;
};

std::uint16_t ClampToWord(std::int32_t value) {
    return static_cast<std::uint16_t>(std::clamp<std::int32_t>(value, 0, 0xFFFF));
}

// Like scanf("%d<sep>%d<sep>%d"): the count of numbers read before the first mismatch.
int ReadThree(std::u16string_view text, char16_t separator, std::int32_t (&numbers)[3]) {
    std::size_t at = 0;
    for (int n = 0; n < 3; ++n) {
        if (n > 0) {
            if (at >= text.size() || text[at] != separator) return n;
            ++at;
        }
        const detail::IntegerScan scan = detail::ScanInteger(text.substr(at), 10);
        if (!scan.read) return n;
        numbers[n] = detail::ToInt32(scan);
        at += scan.end;
    }
    return 3;
}

}  // namespace

std::u16string PrintTime(const SystemTime& t, bool time_only) {
    char buffer[64];
    if (t.year != 0 && !time_only) {
        if (t.millisecond != 0)
            std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year,
                          t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
        else
            std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
                          t.day, t.hour, t.minute, t.second);
    } else if (t.millisecond != 0) {
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                      t.millisecond);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    }
    return detail::Widen(buffer);
}

SystemTime ParseTime(std::u16string_view text, bool want_date) {
    TimeScanner scanner(text);
    const std::size_t blank = scanner.Scan();
    SystemTime time = scanner.Result();
    if (blank == std::u16string_view::npos || !want_date) return time;

    const std::u16string_view date = text.substr(0, blank);
    std::int32_t n[3] = {};
    if (ReadThree(date, u'-', n) == 3) {
        time.year = ClampToWord(n[0]);
        time.month = ClampToWord(n[1]);
        time.day = ClampToWord(n[2]);
    } else if (ReadThree(date, u'/', n) == 3 || ReadThree(date, u'.', n) == 3) {
        time.day = ClampToWord(n[0]);
        time.month = ClampToWord(n[1]);
        time.year = ClampToWord(n[2]);
    }
    return time;
}

}  // namespace orvex::props
