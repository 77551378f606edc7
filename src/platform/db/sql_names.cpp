#include "platform/db/sql_names.h"

#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr int kMaxParts = 3;  // database.schema.table

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Bytes of 8-bit code pages (accented letters) are letters of a name too.
bool IsNameStart(char c) {
  return IsLetter(c) || c == '_' || c == '#' || c == '@' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c) || c == '$'; }

// Reads a part quoted by text[at] ("name" or [name]); false when it is no name. Leaves `at` after
// it.
bool ReadQuotedPart(std::string_view text, std::size_t& at) {
  const char closing = text[at] == '"' ? '"' : ']';
  std::size_t i = at + 1;
  for (; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7f) return false;
    if (text[i] != closing) continue;
    if (i + 1 >= text.size() || text[i + 1] != closing) break;
    ++i;  // a doubled closing character stands for itself
  }
  if (i >= text.size() || i == at + 1) return false;  // not closed, or empty
  at = i + 1;
  return true;
}

// Reads one part from `at`; false when it is not a name. Leaves `at` after it.
bool ReadPart(std::string_view text, std::size_t& at) {
  if (at >= text.size()) return false;
  if (text[at] == '"' || text[at] == '[') return ReadQuotedPart(text, at);
  if (!IsNameStart(text[at])) return false;
  while (at < text.size() && IsNameChar(text[at])) ++at;
  return true;
}

}  // namespace

std::string SqlNameProblem(std::string_view what, std::string_view name) {
  // Only blanks are trimmed: a control character (a NUL ends the statement the driver sees,
  // cutting off its WHERE) is never part of a name.
  std::string_view text = name;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  const std::string shown = "\"" + EscapedForLog(text) + "\"";
  if (text.empty()) return std::string(what) + " is empty.";
  std::size_t at = 0;
  for (int part = 1;; ++part) {
    if (part > kMaxParts || !ReadPart(text, at)) break;
    if (at == text.size()) return {};
    if (text[at] != '.') break;
    ++at;
  }
  return std::string(what) + " " + shown +
         " is not a name of the database (letters, digits and _ , up to three parts joined by "
         "dots, or a name in double quotes or brackets): it is not used in a statement.";
}

}  // namespace remoteccm
