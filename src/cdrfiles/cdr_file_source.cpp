#include "cdrfiles/cdr_file_source.h"

#include "cdrfiles/cdr_file_reader.h"
#include "cdrfiles/cdr_folder.h"
#include "cdrfiles/cdr_store.h"
#include "platform/db/driver_file_path.h"
#include "util/text_routines.h"

namespace remoteccm {

bool UsesCdrFiles(const ProfileSettings& settings) {
  return !TrimView(settings.cdr_file_folder).empty();
}

std::filesystem::path CdrDatabasePath(const ProfileSettings& settings) {
  std::filesystem::path path = settings.profile_path;
  path.replace_extension();
  path += std::string(kCdrDatabaseExtension);
  return path;
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
                                       const std::function<void(CdrImportPoint)>& at_point,
                                       const std::function<void(std::string_view)>& log) {
  CdrImportRequest request;
  request.folder = std::string(TrimView(settings.cdr_file_folder));
  request.database = CdrDatabasePath(settings);
  request.now = now;
  request.settle_seconds = settings.cdr_file_settle_seconds;
  request.keep_days = settings.cdr_file_keep_days;
  request.at_point = at_point;
  request.log = log;
  return ImportCdrFiles(request);
}

CdrFolderSummary SummarizeCdrFolder(const ProfileSettings& settings, double now) {
  CdrFolderSummary summary;
  const auto files = CompleteCdrFiles(std::string(TrimView(settings.cdr_file_folder)), now,
                                      settings.cdr_file_settle_seconds, summary.error);
  if (!files) return summary;
  summary.complete_files = static_cast<int>(files->size());
  if (!files->empty()) summary.newest = files->back().modified;
  return summary;
}

std::vector<std::string> CdrFileFieldNames(const ProfileSettings& settings, double now) {
  std::string why;
  const auto files = CompleteCdrFiles(std::string(TrimView(settings.cdr_file_folder)), now,
                                      settings.cdr_file_settle_seconds, why);
  std::vector<std::string> names;
  if (files) {
    for (auto file = files->rbegin(); file != files->rend(); ++file) {
      if (file->management) continue;
      const CdrFileReader reader(file->path);
      if (reader.state() != CdrFileReader::State::kReading) continue;
      for (const CdrFileField& field : reader.fields()) names.push_back(field.name);
      return names;
    }
  }
  if (std::optional<CdrStore> store = CdrStore::Open(CdrDatabasePath(settings), why)) {
    names = store->Columns(kCdrFileTable);
  }
  return names;
}

}  // namespace remoteccm
