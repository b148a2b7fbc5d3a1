#include "props/value_check.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex::props {
namespace {

TEST(ValueCheck, TypesBoundsAndOptions) {
    const ValueRule queue{u"int", u"0", u"1000", {}};
    const ValueRule offset{u"double", u"-10", u"10", {}};
    const ValueRule flag{u"bool", {}, {}, {}};
    const ValueRule mode{u"option_fixed", {}, {}, {u"auto", u"rp188-ltc"}};
    const ValueRule text{u"string", {}, {}, {}};
    const ValueRule untyped_bounds{{}, u"1", u"9", {}};
    const struct {
        const ValueRule* rule;
        std::u16string_view value;
        const char* refusal;  // empty: taken
    } cases[] = {
        {&queue, u"0", ""},
        {&queue, u" +1000 ", ""},
        {&queue, u"1001", "above the greatest value 1000"},
        {&queue, u"-1", "below the least value 0"},
        {&queue, u"1000000", "above the greatest value 1000"},
        {&queue, u"99999999999", "not a 32-bit number"},
        {&queue, u"abc", "not a whole number"},
        {&queue, u"2.5", "not a whole number"},
        {&queue, u"0x10", "not a whole number"},
        {&queue, u"", "not a whole number"},
        {&offset, u"-2.5e0", ""},
        {&offset, u"inf", "not a number"},
        {&offset, u"11", "above the greatest value 10"},
        {&untyped_bounds, u"4.5", ""},
        {&untyped_bounds, u"many", "not a number"},
        {&flag, u"TRUE", ""},
        {&flag, u"off", ""},
        {&flag, u"maybe", "not true or false"},
        {&mode, u"rp188-ltc", ""},
        {&mode, u"RP188-LTC", "not one of: auto, rp188-ltc"},
        {&text, u"anything at all", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValueRefusal(*c.rule, c.value), c.refusal)
            << std::string(c.value.begin(), c.value.end());
    }
}

}  // namespace
}  // namespace orvex::props
