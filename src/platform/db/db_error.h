// The one exception type of the database layer: every failed connect, statement, fetch or
// catalog call, with the driver's diagnostic records in the message.
#pragma once

#include <stdexcept>
#include <string>

namespace remoteccm {

class DbError : public std::runtime_error {
 public:
  // sql_state and native_code are the first diagnostic record's ("" and 0 when the layer itself
  // refused).
  explicit DbError(const std::string& message, std::string sql_state = {}, long native_code = 0)
      : std::runtime_error(message), sql_state_(std::move(sql_state)), native_code_(native_code) {}

  const std::string& SqlState() const { return sql_state_; }
  long NativeCode() const { return native_code_; }

 private:
  std::string sql_state_;
  long native_code_;
};

}  // namespace remoteccm
