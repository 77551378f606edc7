// A profile whose records come from a CDR file folder (CdrFileFolder): its embedded CDR
// database beside the profile file (NAME.cdr.sqlite) and the collector's folders beside it
// (NAME.collected for the files imported, NAME.rejected for damaged ones), the connection a run
// makes to the database in place of the profile's own, which kinds of file the profile reads,
// the import at the start of a run, and what the folder holds for a dialog to show.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cdrfiles/cdr_file_import.h"
#include "cdrfiles/cdr_file_reader.h"
#include "profile/profile_settings.h"

namespace remoteccm {

inline constexpr std::string_view kCdrDatabaseExtension = ".cdr.sqlite";

bool UsesCdrFiles(const ProfileSettings& settings);

// NAME.cdr.sqlite beside the profile file NAME.CCM.
std::filesystem::path CdrDatabasePath(const ProfileSettings& settings);
// NAME.collected and NAME.rejected beside it.
std::filesystem::path CdrCollectedFolder(const ProfileSettings& settings);
std::filesystem::path CdrRejectedFolder(const ProfileSettings& settings);

// The kinds of file a profile reads, from the tables it names: SQLTableName for the modes that
// build their statements, the tables its statements name for "By SQL Query" (CallDetailRecord,
// CallManagementRecord, without regard to case, quoted or not). A profile that names neither
// reads CDR files.
CdrKinds CdrKindsOf(const ProfileSettings& settings);

// Points the settings at the embedded database through the SQLite ODBC driver (the profile's
// login is not used); a profile without a folder is left as it is.
void UseCdrDatabase(ProfileSettings& settings);

// What the run adds to an import: its stop, its fault points, its log, and the start of a
// "New Records Only" selection (records dated before it are counted as late).
struct CdrImportHooks {
  std::function<bool()> stop;
  std::function<void(CdrImportPoint)> at_point;
  std::function<void(std::string_view, ImportLogLevel)> log;
  std::optional<double> selects_from;  // CDR seconds
  double look_back_seconds = 0;        // how far its look-back may reach before it
};

// Imports the complete files of the kinds the profile reads into its embedded database.
CdrImportOutcome ImportProfileCdrFiles(const ProfileSettings& settings, double now,
                                       const CdrImportHooks& hooks);

// What waits in the folder for the profile (files of the kinds it reads): the complete files
// and the newest one's time, the files still settling (changed within the settle time, by the
// system's change time) and the last change among them, and how many files the profile's
// database notes as imported (0 while it has none, unknown when it cannot be read).
struct CdrFolderSummary {
  std::string error;  // why the folder cannot be read; empty when it can
  int complete_files = 0;
  std::optional<double> newest;  // seconds since 1970
  int settling_files = 0;
  std::optional<double> newest_settling;  // seconds since 1970
  std::optional<int> imported_files;
};
CdrFolderSummary SummarizeCdrFolder(const ProfileSettings& settings, double now);

// The fields of the newest complete file of the profile's kind, with their types; when none
// waits, the columns of its table in the embedded database. Only reads: a database that is not
// there yet is not made.
std::vector<CdrFileField> CdrFileFields(const ProfileSettings& settings, double now);

}  // namespace remoteccm
