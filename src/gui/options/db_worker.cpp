#include "gui/options/db_worker.h"

#include <exception>
#include <mutex>
#include <thread>

#include "platform/db/database.h"

namespace remoteccm::gui {
namespace {

// Written by a test's thread, read by the worker threads.
std::mutex before_work_mutex;
std::function<void()> before_work;

std::function<void()> BeforeWork() {
  std::lock_guard lock(before_work_mutex);
  return before_work;
}

}  // namespace

struct DbWorker::Job {
  DbConnection db;
  std::thread thread;
};

DbWorker::DbWorker(QObject* parent) : QObject(parent) {}

DbWorker::~DbWorker() {
  for (const std::shared_ptr<Job>& job : jobs_) job->db.Cancel();
  for (const std::shared_ptr<Job>& job : jobs_) {
    if (job->thread.joinable()) job->thread.join();
  }
}

void DbWorker::SetBeforeWork(std::function<void()> hook) {
  std::lock_guard lock(before_work_mutex);
  before_work = std::move(hook);
}

void DbWorker::Start(Work work, std::function<void(const std::string&)> failed) {
  Cancel();
  auto job = std::make_shared<Job>();
  current_ = job;
  jobs_.push_back(job);
  job->thread = std::thread([this, job, work = std::move(work), failed = std::move(failed)] {
    Delivery delivery;
    try {
      if (const std::function<void()> hook = BeforeWork()) hook();
      delivery = work(job->db);
    } catch (const std::exception& e) {
      delivery = [failed, message = std::string(e.what())] { failed(message); };
    }
    job->db.Disconnect();
    // The destructor joins this thread before the object goes, so `this` is alive here.
    QMetaObject::invokeMethod(
        this, [this, job, delivery] { Finish(job, delivery); }, Qt::QueuedConnection);
  });
}

void DbWorker::Cancel() {
  if (!current_) return;
  current_->db.Cancel();
  current_.reset();
}

void DbWorker::Finish(const std::shared_ptr<Job>& job, const Delivery& delivery) {
  if (job->thread.joinable()) job->thread.join();
  std::erase(jobs_, job);
  if (job != current_) return;
  current_.reset();
  if (delivery) delivery();
}

}  // namespace remoteccm::gui
