// Destinations that only POSIX systems can make unwritable: a dangling link, a FIFO (in place
// of the destination or of its backup file), a read-only file system.
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine_faults_fixture.h"

namespace remoteccm::testing {
namespace {

namespace fs = std::filesystem;

TEST_P(EngineFaultsTest, APosixDestinationThatCannotBeWrittenIsRefusedBeforeDeleting) {
  const auto fifo = [](const fs::path& path) { return ::mkfifo(path.c_str(), 0644) == 0; };
  ExpectRefusedBeforeDeleting({
      {"a link to nothing", out_ / "link",
       [&] {
         fs::create_symlink(out_ / "nowhere" / "CDR.TXT", out_ / "link");
         return true;
       }},
      {"a pipe", out_ / "pipe", [&] { return fifo(out_ / "pipe"); }},
      {"a pipe, to be overwritten", out_ / "pipe2", [&] { return fifo(out_ / "pipe2"); }, "Y"},
      {"its backup file a pipe", out_ / "piped" / "CDR.TXT",
       [&] {
         fs::create_directory(out_ / "piped");
         return fifo(out_ / "piped" / "CDR.BAK");
       }},
      {"a read-only file system", out_ / "ro" / "CDR.TXT",
       [&] {
         fs::create_directory(out_ / "ro");
         return ::mount("tmpfs", (out_ / "ro").c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
       }},
  });
  ::umount((out_ / "ro").c_str());
}

}  // namespace
}  // namespace remoteccm::testing
