#include "util/file_steps.h"

#include <utility>

namespace remoteccm {
namespace {

FileStepWatcher& Watcher() {
  static FileStepWatcher watcher;
  return watcher;
}

}  // namespace

void WatchFileSteps(FileStepWatcher watcher) { Watcher() = std::move(watcher); }

void TellFileStep(FileStep step, const std::filesystem::path& path) {
  if (const FileStepWatcher& watcher = Watcher()) watcher(step, path);
}

}  // namespace remoteccm
