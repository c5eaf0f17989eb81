#include "pages/NumEditRule.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace NumEditRule {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Leading white space and one sign, as strtol/strtod take them. Returns the position of the
// number proper; `negative` reports a minus sign.
std::size_t SkipLead(std::string_view t, bool& negative) {
    std::size_t i = 0;
    while (i < t.size() && IsSpace(t[i]))
        ++i;
    negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    return i;
}

bool OnlySpaceFrom(std::string_view t, std::size_t i) {
    for (; i < t.size(); ++i)
        if (!IsSpace(t[i]))
            return false;
    return true;
}

// Result: 1 number read and nothing but white space after it, 0 nothing at all but white space,
// -1 refused (characters left, incomplete number, out of range).
int ParseIntImpl(std::string_view t, std::int64_t& value) {
    bool negative = false;
    const std::size_t start = SkipLead(t, negative);
    if (start == t.size())
        return OnlySpaceFrom(t, 0) ? 0 : -1;
    const char* first = t.data() + start;
    const char* last = t.data() + t.size();
    if (*first == '+' || *first == '-')
        return -1;
    std::uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(first, last, magnitude, 10);
    if (ec == std::errc::invalid_argument)
        return OnlySpaceFrom(t, 0) ? 0 : -1;
    if (ec == std::errc::result_out_of_range)
        return -1;
    if (!OnlySpaceFrom(t, static_cast<std::size_t>(ptr - t.data())))
        return -1;
    constexpr std::uint64_t kMaxPos = static_cast<std::uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > kMaxPos + 1)
            return -1;
        value = magnitude == kMaxPos + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    } else {
        if (magnitude > kMaxPos)
            return -1;
        value = static_cast<std::int64_t>(magnitude);
    }
    return 1;
}

int ParseRealImpl(std::string_view t, double& value) {
    bool negative = false;
    const std::size_t start = SkipLead(t, negative);
    if (start == t.size())
        return OnlySpaceFrom(t, 0) ? 0 : -1;
    const char* first = t.data() + start;
    const char* last = t.data() + t.size();
    // Only digits and a point may begin the number: no second sign, no inf/nan, no hex.
    if (!((*first >= '0' && *first <= '9') || *first == '.'))
        return -1;
    double x = 0.0;
    auto [ptr, ec] = std::from_chars(first, last, x, std::chars_format::general);
    if (ec != std::errc())
        return -1;
    if (!std::isfinite(x))
        return -1;
    if (!OnlySpaceFrom(t, static_cast<std::size_t>(ptr - t.data())))
        return -1;
    value = negative ? -x : x;
    return 1;
}

std::string Trimmed(std::string_view t) {
    std::size_t n = t.size();
    while (n > 0 && IsSpace(t[n - 1]))
        --n;
    return std::string(t.substr(0, n));
}

// Room for any double in fixed notation; fallback should the conversion fail all the same.
std::string FormatDouble(double x, std::chars_format format, int precision, const char* fallback) {
    char buf[512];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, x, format, precision);
    if (ec != std::errc())
        return fallback;
    return std::string(buf, p);
}

} // namespace

Check Judge(int mode, std::string_view text) {
    Check c;
    if (mode != kInteger && mode != kReal)
        return c;
    int r = 0;
    if (mode == kInteger) {
        r = ParseIntImpl(text, c.intValue);
        c.realValue = static_cast<double>(c.intValue);
    } else {
        r = ParseRealImpl(text, c.realValue);
        c.intValue = static_cast<std::int64_t>(c.realValue);
    }
    if (r < 0) {
        c.outcome = Check::Undo;
        return c;
    }
    c.outcome = Check::Accept;
    c.goodText = Trimmed(text);
    if (c.goodText.empty()) {
        c.goodText.assign(1, '0');
        c.replaceWithZero = true;
        c.intValue = 0;
        c.realValue = 0.0;
    }
    return c;
}

bool ParseInt(std::string_view text, std::int64_t& value) {
    value = 0;
    return ParseIntImpl(text, value) >= 0;
}

bool ParseReal(std::string_view text, double& value) {
    value = 0.0;
    return ParseRealImpl(text, value) >= 0;
}

std::string FormatInt(std::int64_t v) {
    char buf[32];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, p);
}

std::string FormatFixed6(double x) {
    return FormatDouble(x, std::chars_format::fixed, 6, "0.000000");
}

std::string FormatShortest(double x) {
    return FormatDouble(x, std::chars_format::general, 15, "0");
}

std::string FormatOneDecimal(double x) {
    return FormatDouble(x, std::chars_format::fixed, 1, "0.0");
}

} // namespace NumEditRule
