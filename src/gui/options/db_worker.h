// Database work of the properties dialog (the column query, the connection test) on a thread
// of its own, so that the window stays responsive however slowly the server answers: the
// result comes back on the user-interface thread, and a newer request or Cancel makes an older
// one stop as soon as the driver allows and be forgotten.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace remoteccm {
class DbConnection;
}

namespace remoteccm::gui {

class DbWorker : public QObject {
  Q_OBJECT

 public:
  // What a piece of work hands back to be run on the user-interface thread.
  using Delivery = std::function<void()>;
  // Runs on the worker thread with a fresh connection; catches its own DbError.
  using Work = std::function<Delivery(DbConnection&)>;

  explicit DbWorker(QObject* parent = nullptr);
  // Cancels what still runs and waits for it (a connect the driver cannot interrupt ends
  // within the login time-out).
  ~DbWorker() override;

  // Cancels the request still running, then starts work; its delivery runs unless a newer
  // Start or Cancel comes first. An exception other than the work's own ends it with failed.
  void Start(Work work, std::function<void(const std::string&)> failed);
  void Cancel();
  bool Busy() const { return current_ != nullptr; }

  // Tests: called on the worker thread before each piece of work (a server that answers late).
  static void SetBeforeWork(std::function<void()> hook);

 private:
  struct Job;
  void Finish(const std::shared_ptr<Job>& job, const Delivery& delivery);

  std::shared_ptr<Job> current_;
  std::vector<std::shared_ptr<Job>> jobs_;  // every job whose thread is not joined yet
};

}  // namespace remoteccm::gui
