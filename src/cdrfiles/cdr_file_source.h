// A profile whose records come from a CDR file folder (CdrFileFolder): its embedded CDR
// database beside the profile file (NAME.cdr.sqlite), the connection a run makes to it in
// place of the profile's own, the import at the start of a run, and what the folder holds for
// a dialog to show.
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

// Points the settings at the embedded database through the SQLite ODBC driver (the profile's
// login is not used); a profile without a folder is left as it is.
void UseCdrDatabase(ProfileSettings& settings);

// Imports the complete files of the profile's folder into its embedded database.
CdrImportOutcome ImportProfileCdrFiles(const ProfileSettings& settings, double now,
                                       const std::function<void(CdrImportPoint)>& at_point,
                                       const std::function<void(std::string_view)>& log);

// What waits in the folder: the complete files and the newest one's time, the files still
// settling (changed within the settle time) and the newest of those, and how many files the
// profile's database notes as imported (0 while it has none, unknown when it cannot be read).
struct CdrFolderSummary {
  std::string error;  // why the folder cannot be read; empty when it can
  int complete_files = 0;
  std::optional<double> newest;  // seconds since 1970
  int settling_files = 0;
  std::optional<double> newest_settling;  // seconds since 1970
  std::optional<int> imported_files;
};
CdrFolderSummary SummarizeCdrFolder(const ProfileSettings& settings, double now);

// The fields of the newest complete cdr_ file's header, with their types; when none waits, the
// columns the embedded database's CDR table has. Only reads: a database that is not there yet
// is not made.
std::vector<CdrFileField> CdrFileFields(const ProfileSettings& settings, double now);

}  // namespace remoteccm
