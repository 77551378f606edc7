// The look-back of "New Records Only": CallManager inserts records late (a node that was cut
// off, the CDR service catching up), so each pass also selects the minutes before its start.
// Those minutes were partly collected already (and, with deletion, runs without it may have left
// them in the table); the memory file beside the profile (NAME.late) keeps the key of every
// record written inside the look-back, so that a record is written once however often it is
// selected, and the start this program stored last, so that an old copy of the profile saved
// over it does not set the start back. Without deletion the look-back never reaches before the
// moment from which the memory is complete, nor, in any case, before a start a user set on
// purpose.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace remoteccm {

inline constexpr int kDefaultLateArrivalMinutes = 60;
inline constexpr int kMaxLateArrivalMinutes = 1440;

struct LateArrivalMemory {
  std::string profile_path;  // the profile it belongs to
  std::string table;         // the CDR table its keys come from
  double floor = 0;          // the look-back never reaches before this moment (CDR seconds)
  double complete_from = 0;  // every record written from this moment on is in `seen`
  double stored_start = 0;   // the start this program last stored in the profile
  // Key of each record written with its date at or after the look-back of the stored start,
  // with that date.
  std::unordered_map<std::string, double> seen;
  // For a table without pkid: the columns, in their order, whose values the keys are hashes of
  // (empty until the first such pass), so that a column added to the table later does not
  // change the key of a record already written.
  std::vector<std::string> key_columns;
};

struct LateArrivalReading {
  enum class State { kMissing, kRead, kDamaged, kOtherProfile } state = State::kMissing;
  LateArrivalMemory memory;
};

// NAME.late beside NAME.CCM.
std::filesystem::path LateArrivalPath(const std::filesystem::path& profile_path);

LateArrivalReading ReadLateArrivals(const std::filesystem::path& path,
                                    std::string_view profile_path, std::string_view table);

// The memory held by a file's text (the state says whether the text holds one, for this profile
// and table).
LateArrivalReading ParseLateArrivals(std::string_view text, std::string_view profile_path,
                                     std::string_view table);
// The text of the memory's file.
std::string LateArrivalText(const LateArrivalMemory& memory);

// Writes the memory in one step (atomically, synced). Throws FileError.
void WriteLateArrivals(const std::filesystem::path& path, const LateArrivalMemory& memory);

// A fresh memory: it knows nothing, so nothing before `start` is looked at.
LateArrivalMemory FreshLateArrivals(std::string profile_path, std::string table, double start);

struct WrittenRecord {
  std::string key;
  double date = 0;
};

// Once a pass's lines are in and its start is about to be stored: their keys remembered, what
// the next look-back cannot reach forgotten, the stored start noted. `keys_known`: false when
// some lines had no usable key, so that the memory forgets everything rather than miss them.
void AfterLinesAreIn(LateArrivalMemory& memory, const std::vector<WrittenRecord>& written,
                     double stored_start, double look_back_seconds, bool keys_known);

// Where a pass's selection starts: `look_back_seconds` before its start, but never before the
// floor, nor, without deletion, before the moment from which the memory is complete (with
// deletion, a record the memory does not know was never collected: it is still in the table
// only because nobody took it).
double LookBackFrom(const LateArrivalMemory& memory, double start, double look_back_seconds,
                    bool deleting);

// Gives the memory of one profile to another (a profile renamed while it owed lines), unless
// the other has one already. Failures leave both as they are.
void MoveLateArrivals(const std::filesystem::path& from_profile,
                      const std::filesystem::path& to_profile, std::string_view table);

// A key for a record of a table without pkid: a hash of the whole row's text.
std::string RowHashKey(std::string_view row_text);

}  // namespace remoteccm
