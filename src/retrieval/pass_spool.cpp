#include "retrieval/pass_spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "util/ini_file.h"

namespace remoteccm {
namespace {

constexpr std::size_t kCopyBlock = 1 << 20;
constexpr const char* kNoteHeader = "remoteccm spool 1";

std::int64_t SizeOf(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

// The ready note: what the destination looked like before the append, and the start point
// the pass stores once its lines are in.
struct ReadyNote {
  std::int64_t destination_size = -1;
  std::uint64_t spool_bytes = 0;
  std::uint64_t spool_lines = 0;
  std::optional<PendingStart> start;
};

std::string NoteText(const ReadyNote& note) {
  std::ostringstream out;
  out << kNoteHeader << '\n'
      << "destination-size " << note.destination_size << '\n'
      << "spool-bytes " << note.spool_bytes << '\n'
      << "spool-lines " << note.spool_lines << '\n';
  if (note.start) {
    out << "profile " << note.start->profile_path << '\n' << "start " << note.start->value << '\n';
  }
  return out.str();
}

std::optional<ReadyNote> ReadNote(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  ReadyNote note;
  std::string line;
  if (!std::getline(in, line) || line != kNoteHeader) return note;
  PendingStart start;
  bool has_profile = false;
  bool has_start = false;
  while (std::getline(in, line)) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::string key = line.substr(0, blank);
    const std::string value = line.substr(blank + 1);
    try {
      if (key == "destination-size") note.destination_size = std::stoll(value);
      if (key == "spool-bytes") note.spool_bytes = std::stoull(value);
      if (key == "spool-lines") note.spool_lines = std::stoull(value);
    } catch (const std::exception&) {
      // An unreadable number keeps its default, which makes the recovery append.
    }
    if (key == "profile") {
      start.profile_path = value;
      has_profile = true;
    } else if (key == "start") {
      start.value = value;
      has_start = true;
    }
  }
  if (has_profile && has_start) note.start = start;
  return note;
}

void WriteNoteAtomically(const std::filesystem::path& path, const ReadyNote& note) {
  const std::filesystem::path temp = path.string() + ".new";
  {
    BufferedAppendFile file;
    file.Open(temp, true, true);
    std::string text = NoteText(note);
    text.pop_back();  // WriteLine ends the last line
    file.WriteLine(text);
    file.Sync();
    file.Close();
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    ThrowFileError("Cannot rename", temp, error);
  }
  SyncFolderOf(path);
}

// Appends the spool to the destination and syncs it; cuts the destination back to its former
// size when that fails part-way, so that a later append starts clean.
void AppendSpoolTo(const std::filesystem::path& spool, const std::filesystem::path& destination) {
  const int in = ::open(spool.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) ThrowFileError("Cannot open", spool, errno);
  const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    ThrowFileError("Cannot open", destination, error);
  }
  struct stat st {};
  const off_t before = ::fstat(out, &st) == 0 ? st.st_size : -1;
  std::string block(kCopyBlock, '\0');
  try {
    for (;;) {
      const ssize_t n = ::read(in, block.data(), block.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowFileError("Cannot read", spool, errno);
      }
      if (n == 0) break;
      WriteAll(out, std::string_view(block.data(), static_cast<std::size_t>(n)), destination);
    }
    if (::fsync(out) != 0) ThrowFileError("Cannot sync", destination, errno);
  } catch (...) {
    if (before >= 0 && ::ftruncate(out, before) == 0) ::fsync(out);
    ::close(in);
    ::close(out);
    throw;
  }
  ::close(in);
  if (::close(out) != 0) ThrowFileError("Cannot close", destination, errno);
}

void StoreStart(const PendingStart& start) {
  try {
    WriteProfileValue(start.profile_path, "Options", "SQLNewRecDate", start.value);
  } catch (const IniWriteError& e) {
    throw FileError(e.what(), 0);
  }
}

void RemoveSpoolFiles(const std::filesystem::path& destination) {
  ::unlink(PassSpool::ReadyPath(destination).c_str());
  ::unlink(PassSpool::SpoolPath(destination).c_str());
  SyncFolderOf(destination);
}

}  // namespace

PassSpool::PassSpool(std::filesystem::path destination) : destination_(std::move(destination)) {}

std::filesystem::path PassSpool::SpoolPath(const std::filesystem::path& destination) {
  return destination.string() + ".spool";
}

std::filesystem::path PassSpool::ReadyPath(const std::filesystem::path& destination) {
  return destination.string() + ".spool-ready";
}

void PassSpool::Open() {
  file_.Open(SpoolPath(destination_), true, true);
  line_count_ = 0;
  bytes_ = 0;
}

void PassSpool::AddLine(std::string_view line) {
  file_.WriteLine(line);
  bytes_ += line.size() + 2;
  ++line_count_;
}

void PassSpool::MakeDurable() {
  file_.Sync();
  file_.Close();
  SyncFolderOf(destination_);
}

void PassSpool::MarkReady(const std::optional<PendingStart>& start) {
  ReadyNote note;
  note.destination_size = SizeOf(destination_);
  note.spool_bytes = bytes_;
  note.spool_lines = line_count_;
  note.start = start;
  WriteNoteAtomically(ReadyPath(destination_), note);
}

void PassSpool::AppendToDestination() { AppendSpoolTo(SpoolPath(destination_), destination_); }

void PassSpool::Finish() { RemoveSpoolFiles(destination_); }

void PassSpool::Discard() {
  try {
    file_.Close();
  } catch (const FileError&) {
    // The spool is dropped anyway.
  }
  RemoveSpoolFiles(destination_);
}

SpoolRecovery RecoverSpool(const std::filesystem::path& destination, bool force_append) {
  SpoolRecovery result;
  const std::filesystem::path spool = PassSpool::SpoolPath(destination);
  const std::optional<ReadyNote> note = ReadNote(PassSpool::ReadyPath(destination));
  const std::int64_t spool_size = SizeOf(spool);
  if (!note) {
    if (spool_size < 0) return result;
    // Never marked: the pass deleted nothing, its records are still on the server.
    RemoveSpoolFiles(destination);
    result.kind = SpoolRecovery::Kind::kDiscarded;
    return result;
  }
  result.line_count = note->spool_lines;
  result.start = note->start;
  result.kind = SpoolRecovery::Kind::kAlreadyAppended;
  if (spool_size >= 0) {
    const bool done = !force_append && note->destination_size >= 0 &&
                      SizeOf(destination) == note->destination_size + spool_size;
    if (!done) {
      AppendSpoolTo(spool, destination);
      result.kind = SpoolRecovery::Kind::kAppended;
    }
  }
  if (note->start) StoreStart(*note->start);
  RemoveSpoolFiles(destination);
  return result;
}

}  // namespace remoteccm
