// The names a profile pastes into the statements it builds (the CDR table, its date/time
// column): only names that are names, so that nothing but a name reaches the statement.
#pragma once

#include <string>
#include <string_view>

namespace remoteccm {

// Empty when `name` (blanks and tabs around it aside) is one to three dot-separated parts, each a
// plain identifier (letters, digits, _ $ # @, not starting with a digit or $) or a quoted one
// ("..." or [...], the closing character doubled inside, no control characters); else why not,
// in words that name `what` ("The table name").
std::string SqlNameProblem(std::string_view what, std::string_view name);

}  // namespace remoteccm
