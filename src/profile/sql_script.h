// Sample SQL script files (.ssq): the selection and deletion statements of the "By SQL Query"
// mode, one line per key (ConnectSQL0, ConnectSQL1 ... in section CONNECT_SQL, DisconnectSQL0
// ... in DISCONNECT_SQL), read the way the properties dialog loads them into its two memos.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace remoteccm {

struct SqlScript {
  // The lines of each section; none when the section is missing or has no entries, so that
  // its memo keeps what it holds.
  std::optional<std::vector<std::string>> connect_sql;
  std::optional<std::vector<std::string>> disconnect_sql;
};

// With N entries of non-empty value in a section, the keys stem0 ... stemN are looked at, in
// that order: numbering may start at 0 or 1, and a gap hides what follows it. A value that is
// exactly "<end>" or blank gives no line (and does not stop the reading); any other is taken as
// it stands after the "=", blanks included, at most 2047 characters. A file that cannot be read
// has no sections.
SqlScript ReadSqlScript(const std::filesystem::path& file);

}  // namespace remoteccm
