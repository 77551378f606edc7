#include "retrieval/run/run_services.h"

namespace remoteccm {

void AbortPath::Request() {
  requested_.store(true);
  std::lock_guard lock(mutex_);
  for (DbConnection* connection : reached_) connection->Cancel();
}

AbortPath::Reach::Reach(AbortPath& path, DbConnection& connection)
    : path_(path), connection_(connection) {
  std::lock_guard lock(path_.mutex_);
  path_.reached_.push_back(&connection_);
  if (path_.Requested()) connection_.Cancel();
}

AbortPath::Reach::~Reach() {
  std::lock_guard lock(path_.mutex_);
  std::erase(path_.reached_, &connection_);
}

}  // namespace remoteccm
