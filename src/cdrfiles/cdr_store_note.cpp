#include "cdrfiles/cdr_store_note.h"

#include <charconv>

#include "util/posix_file.h"

namespace remoteccm {
namespace {

constexpr std::string_view kNoteMagic = "remoteccm-cdr-store 1";
constexpr std::size_t kNoteMax = 1024;

bool HexWord(std::string_view text) {
  if (text.empty() || text.size() > 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

StoreNoteReading ReadStoreNote(const std::filesystem::path& path) {
  StoreNoteReading reading;
  if (FileSize(path) < 0 && FileReadError(path).empty()) return reading;
  reading.state = StoreNoteReading::State::kDamaged;
  if (FileSize(path) > static_cast<std::int64_t>(kNoteMax)) return reading;
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return reading;
  // "remoteccm-cdr-store 1\nstore HEX\ngeneration N\n"
  const std::string prefix = std::string(kNoteMagic) + "\nstore ";
  if (!text->starts_with(prefix)) return reading;
  const std::size_t id_end = text->find('\n', prefix.size());
  if (id_end == std::string::npos) return reading;
  const std::string_view id(text->data() + prefix.size(), id_end - prefix.size());
  const std::string_view rest(text->data() + id_end + 1, text->size() - id_end - 1);
  constexpr std::string_view kGeneration = "generation ";
  if (!HexWord(id) || !rest.starts_with(kGeneration) || !rest.ends_with('\n')) return reading;
  const std::string_view digits =
      rest.substr(kGeneration.size(), rest.size() - kGeneration.size() - 1);
  std::int64_t generation = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), generation);
  if (error != std::errc() || end != digits.data() + digits.size() || generation < 0) {
    return reading;
  }
  reading.state = StoreNoteReading::State::kRead;
  reading.identity = {std::string(id), generation};
  return reading;
}

void WriteStoreNote(const std::filesystem::path& path, const CdrStoreIdentity& identity) {
  ReplaceFileContent(path,
                     std::string(kNoteMagic) + "\nstore " + identity.store_id + "\ngeneration " +
                         std::to_string(identity.generation) + "\n",
                     0600);
}

std::string StoreNoteMismatch(const StoreNoteReading& note, bool database_existed, bool is_new,
                              const CdrStoreIdentity& database) {
  switch (note.state) {
    case StoreNoteReading::State::kMissing:
      return {};
    case StoreNoteReading::State::kDamaged:
      return "its note is damaged";
    case StoreNoteReading::State::kRead:
      break;
  }
  const std::string imports = std::to_string(note.identity.generation) + " imports";
  if (!database_existed) return "it is missing, and its note counts " + imports + " into it";
  if (is_new) return "it is empty (truncated?), and its note counts " + imports + " into it";
  if (database.store_id != note.identity.store_id) {
    return "it is another database than the one its note names";
  }
  if (database.generation < note.identity.generation) {
    return "it holds " + std::to_string(database.generation) + " imports, its note counts " +
           imports + ": it was put back from an older copy";
  }
  return {};
}

}  // namespace remoteccm
