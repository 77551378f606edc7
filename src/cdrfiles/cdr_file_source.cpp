#include "cdrfiles/cdr_file_source.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>

#include "cdrfiles/cdr_file_reader.h"
#include "cdrfiles/cdr_folder.h"
#include "cdrfiles/cdr_store.h"
#include "platform/db/driver_file_path.h"
#include "profile/profile_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

std::filesystem::path BesideProfile(const ProfileSettings& settings, std::string_view extension) {
  std::filesystem::path path = settings.profile_path;
  path.replace_extension();
  path += std::string(extension);
  return path;
}

// Whether the text names the table as a word of its own: not a part of a longer name.
bool NamesTable(std::string_view text, std::string_view table) {
  const std::string upper = UpperCase(std::string(text));
  const std::string wanted = UpperCase(std::string(table));
  const auto name_char = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  for (std::size_t at = upper.find(wanted); at != std::string::npos;
       at = upper.find(wanted, at + 1)) {
    const std::size_t end = at + wanted.size();
    if ((at == 0 || !name_char(upper[at - 1])) && (end == upper.size() || !name_char(upper[end]))) {
      return true;
    }
  }
  return false;
}

std::filesystem::path Folder(const ProfileSettings& settings) {
  return std::string(TrimView(settings.cdr_file_folder));
}

// Whether the profile file a claim names still reads this kind from this folder.
Claimant CheckClaimant(const std::filesystem::path& profile, CdrFileKind kind,
                       const std::string& folder_identity) {
  // Only a profile that is certainly gone frees its claim: one that cannot be looked at (a
  // folder of another user's home) may still read the folder.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(profile, error);
  if (status.type() == std::filesystem::file_type::not_found) return Claimant::kStale;
  if (error) return Claimant::kUncheckable;
  if (status.type() != std::filesystem::file_type::regular) return Claimant::kStale;
  if (!FileReadError(profile).empty()) return Claimant::kUncheckable;
  ProfileEnvironment env;
  env.program_home = FolderOf(profile);
  const ProfileSettings other = LoadProfile(profile.string(), env);
  if (!UsesCdrFiles(other) || !CdrKindsOf(other).Has(kind)) return Claimant::kStale;
  const std::string identity = FileIdentityOf(Folder(other));
  if (identity.empty()) return Claimant::kUncheckable;
  return identity == folder_identity ? Claimant::kReads : Claimant::kStale;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return a == b || std::filesystem::equivalent(a, b, error);
}

}  // namespace

bool UsesCdrFiles(const ProfileSettings& settings) {
  return !TrimView(settings.cdr_file_folder).empty();
}

std::filesystem::path CdrDatabasePath(const ProfileSettings& settings) {
  return BesideProfile(settings, kCdrDatabaseExtension);
}

std::filesystem::path CdrCollectedFolder(const ProfileSettings& settings) {
  return BesideProfile(settings, ".collected");
}

std::filesystem::path CdrRejectedFolder(const ProfileSettings& settings) {
  return BesideProfile(settings, ".rejected");
}

CdrKinds CdrKindsOf(const ProfileSettings& settings) {
  CdrKinds kinds{false, false};
  const auto look = [&](std::string_view text) {
    kinds.cdr = kinds.cdr || NamesTable(text, kCdrFileTable);
    kinds.cmr = kinds.cmr || NamesTable(text, kCmrFileTable);
  };
  if (settings.connect_sql_mode == RetrievalMode::kBySqlQuery) {
    for (const std::string& line : settings.connect_sql) look(line);
    for (const std::string& line : settings.disconnect_sql) look(line);
  } else {
    look(settings.sql_table_name);
  }
  if (!kinds.cdr && !kinds.cmr) kinds.cdr = true;
  return kinds;
}

void UseCdrDatabase(ProfileSettings& settings) {
  if (!UsesCdrFiles(settings)) return;
  const std::string database = DriverFilePath(CdrDatabasePath(settings));
  const bool plain = database.find_first_of(";{}") == std::string::npos;
  settings.sql_connection_string =
      "Provider=MSDASQL;Driver=SQLite3;Database=" + (plain ? database : "{" + database + "}");
  settings.login.clear();
  settings.password.clear();
}

CdrImportOutcome ImportProfileCdrFiles(const ProfileSettings& settings, double now,
                                       const CdrImportHooks& hooks) {
  CdrImportRequest request;
  request.folder = Folder(settings);
  request.database = CdrDatabasePath(settings);
  request.note = request.database.string() + ".note";
  request.collected = CdrCollectedFolder(settings);
  request.rejected = CdrRejectedFolder(settings);
  request.profile = std::filesystem::absolute(settings.profile_path);
  request.kinds = CdrKindsOf(settings);
  request.now = now;
  request.settle_seconds = settings.cdr_file_settle_seconds;
  request.keep_days = settings.cdr_file_keep_days;
  if (hooks.selects_from) {
    request.late_field = settings.sql_date_time_fld_name;
    request.late_before = static_cast<std::int64_t>(*hooks.selects_from);
    request.look_back = static_cast<std::int64_t>(hooks.look_back_seconds);
  }
  request.same_profile = [profile = request.profile](const std::filesystem::path& other) {
    return SameFile(profile, other);
  };
  const std::string folder_identity = FileIdentityOf(request.folder);
  request.claimant = [folder_identity](const std::filesystem::path& profile, CdrFileKind kind) {
    return CheckClaimant(profile, kind, folder_identity);
  };
  request.stop = hooks.stop;
  request.at_point = hooks.at_point;
  request.log = hooks.log;
  return ImportCdrFiles(request);
}

CdrFolderSummary SummarizeCdrFolder(const ProfileSettings& settings, double now) {
  CdrFolderSummary summary;
  int error = 0;
  const FolderHandle folder = FolderHandle::Open(Folder(settings), error);
  std::optional<std::vector<CdrFolderEntry>> files;
  if (folder.IsOpen()) files = ListCdrFiles(folder, CdrKindsOf(settings), error);
  if (!files) {
    summary.error = std::strerror(error);
    return summary;
  }
  // Only looks: a database that is not there is not made, and a profile without a file has
  // none (it would be nobody's).
  std::error_code missing;
  const std::filesystem::path database = CdrDatabasePath(settings);
  std::optional<CdrStore> store;
  if (TrimView(settings.profile_path).empty() ||
      (!std::filesystem::exists(database, missing) && !missing)) {
    summary.imported_files = 0;
  } else {
    store = CdrStore::OpenToRead(database);
  }
  // Imported files that wait in the folder to be moved out (across file systems) are no
  // longer waiting to be imported.
  std::map<std::string, std::string> held;
  std::string why;
  if (store) {
    if (const std::optional<std::int64_t> imported = store->ImportedFiles(why)) {
      summary.imported_files = static_cast<int>(std::min<std::int64_t>(*imported, INT_MAX));
    }
    for (const HeldCdrFile& file : store->HeldFiles(why).value_or(std::vector<HeldCdrFile>())) {
      held.emplace(file.file_name, file.identity);
    }
  }
  for (const CdrFolderEntry& file : *files) {
    if (!RefusalOf(file.facts).empty()) continue;
    if (const auto kept = held.find(file.name);
        kept != held.end() && kept->second == file.facts.identity) {
      continue;
    }
    if (Settled(file.facts, now, settings.cdr_file_settle_seconds)) {
      ++summary.complete_files;
      summary.newest = std::max(summary.newest.value_or(file.facts.modified), file.facts.modified);
    } else {
      ++summary.settling_files;
      summary.newest_settling =
          std::max(summary.newest_settling.value_or(file.facts.changed), file.facts.changed);
    }
  }
  return summary;
}

std::vector<CdrFileField> CdrFileFields(const ProfileSettings& settings, double now) {
  const CdrKinds kinds = CdrKindsOf(settings);
  const CdrKinds wanted{kinds.cdr, !kinds.cdr && kinds.cmr};
  int error = 0;
  const FolderHandle folder = FolderHandle::Open(Folder(settings), error);
  std::optional<std::vector<CdrFolderEntry>> files;
  if (folder.IsOpen()) files = ListCdrFiles(folder, wanted, error);
  if (files) {
    for (auto file = files->rbegin(); file != files->rend(); ++file) {
      if (!RefusalOf(file->facts).empty() ||
          !Settled(file->facts, now, settings.cdr_file_settle_seconds)) {
        continue;
      }
      EntryFacts facts;
      FileDescriptor opened = folder.OpenToRead(file->name, facts, error);
      if (!opened.IsOpen() || !RefusalOf(facts).empty()) continue;
      const CdrFileReader reader(std::move(opened));
      if (reader.state() == CdrFileReader::State::kReading) return reader.fields();
    }
  }
  // The dialog only looks: a database that is not there is not made, and a profile without a
  // file has none.
  std::vector<CdrFileField> fields;
  if (TrimView(settings.profile_path).empty()) return fields;
  if (std::optional<CdrStore> store = CdrStore::OpenToRead(CdrDatabasePath(settings))) {
    fields = store->Fields(wanted.cdr ? kCdrFileTable : kCmrFileTable);
  }
  return fields;
}

}  // namespace remoteccm
