// The ready note of a spool, as anyone who may write the destination's folder can leave it: no
// crash, and a note that reads as whole is written back to the very same text, with every value
// within what the program itself writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "retrieval/spool/pass_spool.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const NoteReading reading = ParseReadyNote(text);
  if (reading.state != NoteReading::State::kRead) return 0;
  const ReadyNote& note = reading.note;
  if (note.profile_name.empty() || note.profile_name.find('/') != std::string::npos ||
      note.profile_name == "." || note.profile_name == ".." || note.destination.empty() ||
      note.destination.front() != '/' || note.spool_sha256.size() != 64 ||
      (note.has_keys && note.keys_sha256.size() != 64)) {
    std::abort();
  }
  const NoteReading again = ParseReadyNote(NoteText(note));
  if (again.state != NoteReading::State::kRead || NoteText(again.note) != NoteText(note)) {
    std::abort();
  }
  return 0;
}
