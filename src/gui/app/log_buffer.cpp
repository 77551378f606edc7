#include "gui/app/log_buffer.h"

namespace remoteccm::gui {

LogBuffer::LogBuffer() : lines_(1), used_(1), reset_(true) {}

bool LogBuffer::Append(std::string_view line) {
  // "\r\n" and a lone "\n" each start a new memo line.
  std::size_t at = 0;
  while (true) {
    const std::size_t end = line.find('\n', at);
    std::string_view part = line.substr(at, end == std::string_view::npos ? end : end - at);
    if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
    if (used_ < lines_.size()) {
      lines_[used_].assign(part);
    } else {
      lines_.emplace_back(part);
    }
    ++used_;
    ++line_count_;
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  const bool first = !notified_;
  notified_ = true;
  return first;
}

bool LogBuffer::Clear() {
  std::lock_guard lock(mutex_);
  reset_ = true;
  used_ = 0;
  line_count_ = 0;
  const bool first = !notified_;
  notified_ = true;
  return first;
}

bool LogBuffer::Add(std::string_view line) {
  std::lock_guard lock(mutex_);
  if (line_count_ > kMemoMaxLines) {
    reset_ = true;
    used_ = 0;
    line_count_ = 0;
  }
  return Append(line);
}

bool LogBuffer::AddDirect(std::string_view line) {
  std::lock_guard lock(mutex_);
  return Append(line);
}

LogBuffer::Changes LogBuffer::Take() {
  std::lock_guard lock(mutex_);
  Changes taken;
  taken.reset = reset_;
  taken.lines.assign(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(used_));
  reset_ = false;
  used_ = 0;
  notified_ = false;
  return taken;
}

int LogBuffer::LineCount() const {
  std::lock_guard lock(mutex_);
  return line_count_;
}

}  // namespace remoteccm::gui
