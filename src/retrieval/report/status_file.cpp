#include "retrieval/report/status_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "util/posix_file.h"
#include "util/text_routines.h"
#include "util/utc_time.h"

namespace remoteccm {
namespace {

using Json = nlohmann::json;

// A status file is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kStatusFileMax = std::size_t{64} * 1024;

struct StatusName {
  RunStatus status;
  std::string_view name;
};

constexpr StatusName kStatusNames[] = {
    {RunStatus::kSuccess, "success"},
    {RunStatus::kSettingsInvalid, "settings-invalid"},
    {RunStatus::kConnectionFailed, "connection-failed"},
    {RunStatus::kPassFailed, "pass-failed"},
    {RunStatus::kAborted, "aborted"},
    {RunStatus::kLocked, "locked"},
};

constexpr std::string_view kRunCommand = "run";
constexpr std::string_view kDeleteAllCommand = "delete-all";

nlohmann::ordered_json IsoOrNull(const std::optional<double>& seconds) {
  return seconds ? nlohmann::ordered_json(IsoUtcText(*seconds)) : nlohmann::ordered_json(nullptr);
}

// Reads the members of a parsed status file; the first missing or mistyped one is the error.
class Fields {
 public:
  explicit Fields(const Json& json) : json_(json) {}

  const std::string& error() const { return error_; }

  std::string Text(const char* key) {
    const Json* value = Find(key);
    if (value != nullptr && value->is_string()) return value->get<std::string>();
    if (value != nullptr) Fail(key, "is not a text");
    return {};
  }
  std::int64_t Whole(const char* key, std::int64_t min = INT64_MIN, std::int64_t max = INT64_MAX) {
    const Json* value = Find(key);
    if (value == nullptr) return 0;
    if (!value->is_number_integer()) {
      Fail(key, "is not a whole number");
      return 0;
    }
    const bool fits = value->is_number_unsigned()
                          ? value->get<std::uint64_t>() <= static_cast<std::uint64_t>(max)
                          : value->get<std::int64_t>() >= min && value->get<std::int64_t>() <= max;
    if (!fits) {
      Fail(key, "is out of range");
      return 0;
    }
    return value->get<std::int64_t>();
  }
  // A time given as "2026-11-01T10:00:05Z"; null too when null_allowed.
  std::optional<double> Time(const char* key, bool null_allowed) {
    const Json* value = Find(key);
    if (value == nullptr || (null_allowed && value->is_null())) return std::nullopt;
    const std::optional<double> seconds =
        value->is_string() ? ParseIsoUtc(value->get_ref<const std::string&>()) : std::nullopt;
    if (!seconds) Fail(key, "is not a time like 2026-11-01T10:00:05Z");
    return seconds;
  }
  // Members that only a file with something to say holds.
  std::string OptionalText(const char* key) {
    if (!json_.contains(key)) return {};
    return Text(key);
  }
  std::vector<std::string> OptionalTexts(const char* key) {
    std::vector<std::string> texts;
    if (!json_.contains(key) || !error_.empty()) return texts;
    const Json& value = json_.at(key);
    if (!value.is_array()) {
      Fail(key, "is not a list of texts");
      return texts;
    }
    for (const Json& item : value) {
      if (!item.is_string()) {
        Fail(key, "is not a list of texts");
        return {};
      }
      texts.push_back(item.get<std::string>());
    }
    return texts;
  }
  // {"runs": {"success": n, ...}, "records_collected": n, "records_deleted": n}.
  void Totals(const Json& value, RunTotals& totals) {
    const auto count = [](const Json& item) {
      return item.is_number_integer() && item.get<std::int64_t>() >= 0;
    };
    const auto collected = value.is_object() ? value.find("records_collected") : value.end();
    const auto deleted = value.is_object() ? value.find("records_deleted") : value.end();
    const auto runs = value.is_object() ? value.find("runs") : value.end();
    bool good = collected != value.end() && count(*collected) && deleted != value.end() &&
                count(*deleted) && runs != value.end() && runs->is_object();
    if (good) {
      for (const auto& [name, item] : runs->items()) {
        const std::optional<RunStatus> status = FindRunStatus(name);
        good = good && status && count(item);
        if (good) totals.runs[*status] = item.get<std::int64_t>();
      }
    }
    if (!good) {
      Fail("totals",
           "is not {\"runs\": {result: count}, \"records_collected\": count, "
           "\"records_deleted\": count}");
      return;
    }
    totals.records_collected = collected->get<std::int64_t>();
    totals.records_deleted = deleted->get<std::int64_t>();
  }
  // The stored start: null, or {"seconds": number, "local": text}.
  void StoredStart(const char* key, RunSummary& run) {
    const Json* value = Find(key);
    if (value == nullptr || value->is_null()) return;
    const auto seconds = value->is_object() ? value->find("seconds") : value->end();
    const auto local = value->is_object() ? value->find("local") : value->end();
    if (seconds == value->end() || !seconds->is_number() || local == value->end() ||
        !local->is_string() || !std::isfinite(seconds->get<double>())) {
      Fail(key, "is not null nor {\"seconds\": number, \"local\": text}");
      return;
    }
    run.stored_start = seconds->get<double>();
    run.stored_start_local = local->get<std::string>();
  }

 private:
  const Json* Find(const char* key) {
    if (!error_.empty()) return nullptr;
    const auto found = json_.find(key);
    if (found == json_.end()) {
      Fail(key, "is missing");
      return nullptr;
    }
    return &*found;
  }
  void Fail(const char* key, const char* what) {
    if (error_.empty()) error_ = std::string("\"") + key + "\" " + what;
  }

  const Json& json_;
  std::string error_;
};

}  // namespace

std::string_view RunStatusName(RunStatus status) {
  for (const StatusName& entry : kStatusNames) {
    if (entry.status == status) return entry.name;
  }
  return "pass-failed";
}

std::optional<RunStatus> FindRunStatus(std::string_view name) {
  for (const StatusName& entry : kStatusNames) {
    if (entry.name == name) return entry.status;
  }
  return std::nullopt;
}

std::string IsoUtcText(double seconds) {
  const std::time_t whole =
      std::isfinite(seconds)
          ? static_cast<std::time_t>(std::floor(std::clamp(seconds, -1e15, 1e15)))
          : 0;
  std::tm tm{};
  char text[64];
  if (!UtcCalendarOf(whole, tm) ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) {
    return "1970-01-01T00:00:00Z";
  }
  return text;
}

std::optional<double> ParseIsoUtc(std::string_view text) {
  // Exactly "yyyy-mm-ddThh:mm:ssZ".
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t length, int& out) {
    const char* begin = text.data() + at;
    const auto [end, error] = std::from_chars(begin, begin + length, out);
    return error == std::errc() && end == begin + length && *begin != '-' && *begin != '+';
  };
  std::tm tm{};
  int year = 0;
  int month = 0;
  if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, tm.tm_mday) ||
      !number(11, 2, tm.tm_hour) || !number(14, 2, tm.tm_min) || !number(17, 2, tm.tm_sec)) {
    return std::nullopt;
  }
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  const std::tm given = tm;
  const std::time_t seconds = UtcSecondsOf(tm);
  // timegm moves an impossible date on (February 30th is March 2nd); such a text is refused.
  if (tm.tm_year != given.tm_year || tm.tm_mon != given.tm_mon || tm.tm_mday != given.tm_mday ||
      tm.tm_hour != given.tm_hour || tm.tm_min != given.tm_min || tm.tm_sec != given.tm_sec) {
    return std::nullopt;
  }
  return static_cast<double>(seconds);
}

std::filesystem::path StatusFilePath(const std::filesystem::path& profile_path) {
  std::filesystem::path path = profile_path;
  path.replace_extension(".status");
  return path;
}

RunStatusRecord RecordOfRun(const RunSummary& summary, std::optional<double> last_success,
                            const RunTotals& earlier) {
  RunStatusRecord record;
  record.run = summary;
  record.exit_status = summary.exit_status.value_or(ExitStatusOf(summary.status));
  record.last_success = last_success;
  record.totals = earlier;
  ++record.totals.runs[summary.status];
  record.totals.records_collected += summary.records_collected;
  record.totals.records_deleted += summary.records_deleted;
  if (summary.kind == RunKind::kRun && summary.status == RunStatus::kSuccess) {
    record.last_success = summary.ended;
  }
  return record;
}

std::string StatusFileText(const RunStatusRecord& record) {
  const RunSummary& run = record.run;
  nlohmann::ordered_json stored_start = nullptr;
  if (run.stored_start && std::isfinite(*run.stored_start)) {
    stored_start = {{"seconds", *run.stored_start}, {"local", AsUtf8(run.stored_start_local)}};
  }
  // Keys in the order a reader looks for them; ordered_json keeps it.
  nlohmann::ordered_json json = {
      {"profile", AsUtf8(run.profile_name)},
      {"profile_path", AsUtf8(run.profile_path)},
      {"command", std::string(run.kind == RunKind::kDeleteAll ? kDeleteAllCommand : kRunCommand)},
      {"started", IsoUtcText(run.started)},
      {"ended", IsoUtcText(run.ended)},
      {"result", std::string(RunStatusName(run.status))},
      {"exit_status", record.exit_status},
      {"records_collected", run.records_collected},
      {"records_deleted", run.records_deleted},
      {"passes", run.passes},
      {"last_error", AsUtf8(run.last_error)},
      {"stored_start", stored_start},
      {"destination", AsUtf8(run.destination)},
      {"last_success", IsoOrNull(record.last_success)},
  };
  if (!run.warnings.empty()) {
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const std::string& warning : run.warnings) warnings.push_back(AsUtf8(warning));
    json["warnings"] = std::move(warnings);
  }
  if (!run.owed_at.empty()) json["owed_at"] = AsUtf8(run.owed_at);
  if (!run.rejected_files.empty()) {
    nlohmann::ordered_json rejected = nlohmann::ordered_json::array();
    for (const std::string& file : run.rejected_files) rejected.push_back(AsUtf8(file));
    json["rejected_files"] = std::move(rejected);
  }
  if (!run.waiting_files.empty()) {
    nlohmann::ordered_json waiting = nlohmann::ordered_json::array();
    for (const std::string& file : run.waiting_files) waiting.push_back(AsUtf8(file));
    json["waiting_files"] = std::move(waiting);
  }
  if (run.records_before_start > 0) json["records_before_start"] = run.records_before_start;
  nlohmann::ordered_json runs = nlohmann::ordered_json::object();
  for (const auto& [status, count] : record.totals.runs) {
    runs[std::string(RunStatusName(status))] = count;
  }
  json["totals"] = {{"runs", std::move(runs)},
                    {"records_collected", record.totals.records_collected},
                    {"records_deleted", record.totals.records_deleted}};
  return json.dump(2) + "\n";
}

StatusFileRead ReadStatusFile(const std::filesystem::path& path) {
  StatusFileRead read;
  std::error_code error;
  const std::filesystem::file_status state = std::filesystem::status(path, error);
  if (state.type() == std::filesystem::file_type::not_found) {
    read.missing = true;
    return read;
  }
  // Looked at before it is opened: a FIFO would hold the reader up, a huge file fill memory.
  if (!std::filesystem::is_regular_file(state)) {
    read.error = error ? error.message() : "not a regular file";
    return read;
  }
  if (std::filesystem::file_size(path, error) > kStatusFileMax && !error) {
    read.error = "too large for a status file";
    return read;
  }
  const std::optional<std::string> content = ReadWholeFile(path);
  if (!content) {
    read.error = FileReadError(path);
    if (read.error.empty()) read.error = "cannot be read";
    return read;
  }
  return ParseStatusFile(*content);
}

StatusFileRead ParseStatusFile(std::string_view content) {
  StatusFileRead read;
  const Json json = Json::parse(content, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    read.error = "not a JSON object";
    return read;
  }
  RunStatusRecord record;
  RunSummary& run = record.run;
  Fields fields(json);
  run.profile_name = fields.Text("profile");
  run.profile_path = fields.Text("profile_path");
  const std::string command = fields.Text("command");
  run.started = fields.Time("started", false).value_or(0);
  run.ended = fields.Time("ended", false).value_or(0);
  const std::string result = fields.Text("result");
  record.exit_status = static_cast<int>(fields.Whole("exit_status", 0, 255));
  run.records_collected = fields.Whole("records_collected", 0);
  run.records_deleted = fields.Whole("records_deleted", 0);
  run.passes = static_cast<int>(fields.Whole("passes", 0, INT32_MAX));
  run.last_error = fields.Text("last_error");
  fields.StoredStart("stored_start", run);
  run.destination = fields.Text("destination");
  record.last_success = fields.Time("last_success", true);
  run.warnings = fields.OptionalTexts("warnings");
  run.owed_at = fields.OptionalText("owed_at");
  run.rejected_files = fields.OptionalTexts("rejected_files");
  run.waiting_files = fields.OptionalTexts("waiting_files");
  if (json.contains("records_before_start")) {
    run.records_before_start = fields.Whole("records_before_start", 0);
  }
  // Files of earlier versions have no totals: the counters start from zero.
  if (json.contains("totals")) fields.Totals(json.at("totals"), record.totals);
  if (!fields.error().empty()) {
    read.error = fields.error();
    return read;
  }
  const std::optional<RunStatus> status = FindRunStatus(result);
  if (!status) {
    read.error = "\"result\" is not one of the results";
    return read;
  }
  if (command != kRunCommand && command != kDeleteAllCommand) {
    read.error = "\"command\" is neither run nor delete-all";
    return read;
  }
  run.status = *status;
  run.kind = command == kDeleteAllCommand ? RunKind::kDeleteAll : RunKind::kRun;
  read.record = std::move(record);
  return read;
}

std::string WriteStatusFile(const std::filesystem::path& path, const RunStatusRecord& record) {
  try {
    ReplaceFileContent(path, StatusFileText(record), 0644);
  } catch (const FileError& e) {
    return std::strerror(e.ErrorNumber());
  }
  return {};
}

}  // namespace remoteccm
