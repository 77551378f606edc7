#include "util/text_routines.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "util/posix_file.h"

namespace remoteccm {
namespace {

constexpr std::size_t kParseWindow = 20;

// The characters of the first 20 that belong to a number (digits, "-", and "." if allowed).
std::string NumberCharacters(std::string_view text, bool keep_point) {
  std::string kept;
  const std::size_t n = text.size() < kParseWindow ? text.size() : kParseWindow;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if ((c >= '0' && c <= '9') || c == '-' || (keep_point && c == '.')) kept.push_back(c);
  }
  return kept;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

int ClampCount(int count) {
  if (count < 0) return 0;
  if (count > static_cast<int>(kShortTextMax)) return static_cast<int>(kShortTextMax);
  return count;
}

}  // namespace

std::int32_t ParseWhole(std::string_view text) {
  const std::string kept = NumberCharacters(text, false);
  if (kept.empty()) return 0;
  std::int32_t value = 0;
  const char* first = kept.data();
  const char* last = kept.data() + kept.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last) return 0;
  return value;
}

double ParseDecimal(std::string_view text) {
  const std::string kept = NumberCharacters(text, true);
  if (kept.empty()) return 0;
  // A sign only in front, at most one point, and at least one digit.
  std::size_t pos = kept[0] == '-' ? 1 : 0;
  bool digit = false;
  bool point = false;
  for (std::size_t i = pos; i < kept.size(); ++i) {
    if (kept[i] == '.') {
      if (point) return 0;
      point = true;
    } else if (kept[i] == '-') {
      return 0;
    } else {
      digit = true;
    }
  }
  if (!digit) return 0;
  double value = 0;
  const auto [end, error] =
      std::from_chars(kept.data(), kept.data() + kept.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != kept.data() + kept.size() || !std::isfinite(value)) return 0;
  return value;
}

std::string FormatWhole(double number) {
  if (!std::isfinite(number)) return "0";
  const double rounded = std::round(number);
  if (std::fabs(rounded) < 9.0e18) {
    return std::to_string(static_cast<long long>(rounded));
  }
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", rounded);
  return buffer;
}

std::string RepeatChar(char c, int count) {
  return std::string(static_cast<std::size_t>(ClampCount(count)), c);
}

std::string StripChar(std::string_view text, char c, char code) {
  switch (code) {
    case 'L':
    case 1: {
      const std::size_t first = text.find_first_not_of(c);
      return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
    }
    case 'A':
    case 2: {
      std::string result;
      result.reserve(text.size());
      for (const char ch : text) {
        if (ch != c) result.push_back(ch);
      }
      return result;
    }
    case 'R':
    case 'T':
    case 3: {
      const std::size_t last = text.find_last_not_of(c);
      return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
    }
    default:
      return std::string(text);
  }
}

std::string AddTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (result.empty() || kFolderSeparators.find(result.back()) == std::string_view::npos) {
    result.push_back(kFolderSeparators.front());
  }
  return result;
}

double MinFloat(double a, double b) { return b < a ? b : a; }

std::int32_t MaxWhole(std::int32_t a, std::int32_t b) { return a < b ? b : a; }

std::string_view TrimView(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of text, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;   // bounds of the second byte, ruling out overlong forms,
  unsigned char high = 0xBF;  // surrogates and code points above U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string AsUtf8(std::string_view text) {
  bool valid = true;
  for (std::size_t i = 0; i < text.size() && valid;) {
    const std::size_t length = Utf8SequenceLength(text.substr(i));
    valid = length > 0;
    i += length;
  }
  if (valid) return std::string(text);
  std::string result;
  result.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      result.push_back(c);
    } else {
      result.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      result.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return result;
}

std::string EscapedForLog(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  const auto escape = [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    escaped.append("\\x").push_back(kHex[byte >> 4]);
    escaped.push_back(kHex[byte & 0xf]);
  };
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    const std::size_t length = byte < 0x80 ? 1 : Utf8SequenceLength(text.substr(i));
    // U+0080..U+009F are controls too (U+009B starts a terminal's sequences, as ESC [ does).
    const bool c1_control =
        length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c == '\\') {
      escaped.append("\\\\");
    } else if (byte < 0x20 || byte == 0x7f || length == 0) {
      escape(c);
    } else if (c1_control) {
      escape(text[i]);
      escape(text[i + 1]);
    } else {
      escaped.append(text.substr(i, length));
    }
    i += std::max<std::size_t>(length, 1);
  }
  return escaped;
}

}  // namespace remoteccm
