// The order in which the program makes its files durable, for the tests that check it: each
// write, sync, replacement and removal the file routines make is told to a watcher, so that a
// test can see a spool synced before the note that owes it, and the note before the commit
// that relies on it. The program sets no watcher; then each step costs one test of an empty
// function.
#pragma once

#include <filesystem>
#include <functional>

namespace remoteccm {

enum class FileStep { kWrite, kSync, kSyncFolder, kReplace, kRemove };

using FileStepWatcher = std::function<void(FileStep step, const std::filesystem::path& path)>;

// Sets the watcher (an empty one: none). Set it before the threads that write start.
void WatchFileSteps(FileStepWatcher watcher);

// Called by the file routines once a step is done.
void TellFileStep(FileStep step, const std::filesystem::path& path);

}  // namespace remoteccm
