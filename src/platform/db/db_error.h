// The one exception type of the database layer: every failed connect, statement, fetch or
// catalog call, with the driver's diagnostic records in the message.
#pragma once

#include <stdexcept>
#include <string>

namespace remoteccm {

class DbError : public std::runtime_error {
 public:
  // sql_state is the first diagnostic record's SQLSTATE ("" when the layer itself refused).
  explicit DbError(const std::string& message, std::string sql_state = {})
      : std::runtime_error(message), sql_state_(std::move(sql_state)) {}

  const std::string& SqlState() const { return sql_state_; }

 private:
  std::string sql_state_;
};

}  // namespace remoteccm
