// Small state files of the program (a spool's ready note, the memory of late arrivals): a
// header line, then "key value" lines, then "end", so that a file cut short is told from a
// whole one. Values that are paths or names are escaped to stay on their line.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace remoteccm {

// "\" and line breaks escaped, so that the value stays on one line.
std::string EscapeLineValue(std::string_view text);
std::string UnescapeLineValue(std::string_view text);

// Reads the lines after the header up to "end", handing each pair to `on_pair` (which returns
// false for a value it cannot take). False when a line has no blank, `on_pair` refuses, or
// "end" is missing (unless `end_optional`).
bool ReadKeyValueLines(
    std::string_view body, bool end_optional,
    const std::function<bool(std::string_view key, std::string_view value)>& on_pair);

// Splits off the first line (the header) of text; the rest goes to `body`.
std::string_view HeaderLine(std::string_view text, std::string_view& body);

}  // namespace remoteccm
