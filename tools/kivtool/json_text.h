// Text for JSON and for people: numbers in their shortest exact form and
// strings that are always valid UTF-8.
#pragma once

#include <string>

namespace kivtool {

// The fewest decimal digits that read back as the same float: 29.97f gives
// "29.97", 25.0f gives "25". Plain notation for the magnitudes a frame rate
// or a duration has; exponent notation far outside them.
std::string ShortestDecimal(float value);
// The same for a double (durations).
std::string ShortestDecimal(double value);

// The bytes as UTF-8, every byte that is not part of a well-formed sequence
// (overlong, surrogate, beyond U+10FFFF, cut short) replaced by U+FFFD.
std::string SanitisedUtf8(const std::string& bytes);

// A JSON string literal of the sanitised text, quotes included.
std::string JsonString(const std::string& bytes);

}  // namespace kivtool
