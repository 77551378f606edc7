#include "util/key_value_lines.h"

namespace remoteccm {

std::string EscapeLineValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '\n' || c == '\r') {
      out += '\\';
      out += c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeLineValue(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string_view HeaderLine(std::string_view text, std::string_view& body) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    body = {};
    return text;
  }
  body = text.substr(end + 1);
  return text.substr(0, end);
}

bool ReadKeyValueLines(
    std::string_view body, bool end_optional,
    const std::function<bool(std::string_view key, std::string_view value)>& on_pair) {
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    const std::string_view line = body.substr(0, end);
    body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    if (line == "end") return true;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return false;
    if (!on_pair(line.substr(0, blank), line.substr(blank + 1))) return false;
  }
  return end_optional;
}

}  // namespace remoteccm
