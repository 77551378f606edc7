// The note beside the embedded CDR database of which database it is and how many imports it
// has had (NAME.cdr.sqlite.note). The database alone cannot tell that it was deleted, emptied
// or put back from an older copy: a new or older one would import again every file the
// Repository sends again. The note, written after the imports of each run, tells.
#pragma once

#include <filesystem>
#include <string>

#include "cdrfiles/cdr_store.h"

namespace remoteccm {

struct StoreNoteReading {
  enum class State { kMissing, kRead, kDamaged } state = State::kMissing;
  CdrStoreIdentity identity;
};

StoreNoteReading ReadStoreNote(const std::filesystem::path& path);

// Replaces the note (atomically, synced). Throws FileError.
void WriteStoreNote(const std::filesystem::path& path, const CdrStoreIdentity& identity);

// Why the database does not match the note (empty when it does, or when there is no note):
// it was missing (database_existed false) or emptied (`is_new`: none of the program's tables),
// it is another database, or it holds fewer imports than the note counts.
std::string StoreNoteMismatch(const StoreNoteReading& note, bool database_existed, bool is_new,
                              const CdrStoreIdentity& database);

}  // namespace remoteccm
