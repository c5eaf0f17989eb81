#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The acceptance rule of the numeric edit field and the number texts the pages show. Numbers
// always use "." as decimal separator, whatever the locale.
namespace NumEditRule {

enum Mode : int { kInteger = 0, kReal = 1 }; // any other value: no checking

struct Check {
    enum Outcome { Accept, Undo, Unchecked };
    Outcome outcome = Unchecked;
    std::string goodText; // Accept: the text with trailing white space removed ("0" if empty)
    bool replaceWithZero = false; // Accept: nothing but white space was left
    std::int64_t intValue = 0;
    double realValue = 0.0;
};

// Judges the text after a change: one complete number (leading white space and a sign allowed,
// trailing white space ignored) is accepted, anything else is undone.
Check Judge(int mode, std::string_view text);

// Parses a whole text as the rule would; false when the rule would undo it.
bool ParseInt(std::string_view text, std::int64_t& value);
bool ParseReal(std::string_view text, double& value);

std::string FormatInt(std::int64_t v);  // "%d"
std::string FormatFixed6(double x);     // "%f": 2.5 -> "2.500000"
std::string FormatShortest(double x);   // "%.15g": up to 15 significant digits, no trailing zeros
std::string FormatOneDecimal(double x); // "%.1f"

} // namespace NumEditRule
