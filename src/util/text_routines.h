// Lenient text and number routines shared by the profile files, the statements and the
// output lines. Texts are 8-bit strings; "short texts" hold at most 255 characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace remoteccm {

inline constexpr std::size_t kShortTextMax = 255;

// Reads a signed 32-bit number from the digits and "-" among the first 20 characters; 0 when
// nothing usable remains, the rest is no number, or the number is out of range.
std::int32_t ParseWhole(std::string_view text);

// As ParseWhole, but "." is kept too and the text is read as a decimal fraction.
double ParseDecimal(std::string_view text);

// The number rounded to a whole number (halves away from zero), no blanks, no grouping, no
// exponent. Not-a-number and infinities give "0".
std::string FormatWhole(double number);

// count (0..255) copies of c.
std::string RepeatChar(char c, int count);

// Removal codes of StripChar: 'L' or 1 leading, 'A' or 2 all, 'R', 'T' or 3 trailing.
std::string StripChar(std::string_view text, char c, char code);

// The path ending in the folder separator "/" ("/" for an empty path).
std::string AddTrailingBackslash(std::string_view path);

double MinFloat(double a, double b);
std::int32_t MaxWhole(std::int32_t a, std::int32_t b);

// Blanks and control characters removed from both ends, as the profile rules trim.
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);

// ASCII upper case; other bytes unchanged.
std::string UpperCase(std::string_view text);

// Equality without regard to ASCII case.
bool SameText(std::string_view a, std::string_view b);

// 8-bit text for formats that must be UTF-8 (JSON, metrics): valid UTF-8 unchanged, any other
// text read as Latin-1, so that no byte is lost or makes the whole file unreadable.
std::string AsUtf8(std::string_view text);

// The text with every control character (C0, DEL and C1) and every byte that is not part of
// well-formed UTF-8 written as \xNN, and the backslash doubled, so that a name read from a file
// can neither break a line of the log, move a terminal's cursor, nor make the line unreadable
// as text.
std::string EscapedForLog(std::string_view text);

}  // namespace remoteccm
