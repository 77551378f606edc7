#include "retrieval/report/metrics_file.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kLastSuccess = "remoteccm_last_success_timestamp_seconds";
constexpr std::size_t kMetricsFileMax = std::size_t{64} * 1024;

constexpr RunStatus kAllStatuses[] = {RunStatus::kSuccess,          RunStatus::kSettingsInvalid,
                                      RunStatus::kConnectionFailed, RunStatus::kPassFailed,
                                      RunStatus::kAborted,          RunStatus::kLocked};

std::string Number(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("NaN");
}

class MetricsWriter {
 public:
  explicit MetricsWriter(std::string_view profile)
      : profile_label_("profile=\"" + MetricsLabelValue(profile) + "\"") {}

  void Family(std::string_view name, std::string_view help, std::string_view type = "gauge") {
    text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  }
  void Sample(std::string_view name, const std::string& value, std::string_view extra = {}) {
    text_.append(name).append("{").append(profile_label_).append(extra).append("} ");
    text_.append(value).append("\n");
  }
  void Gauge(std::string_view name, std::string_view help, const std::string& value) {
    Family(name, help);
    Sample(name, value);
  }
  void Counter(std::string_view name, std::string_view help, std::int64_t value) {
    Family(name, help, "counter");
    Sample(name, std::to_string(value));
  }
  std::string& text() { return text_; }

 private:
  std::string profile_label_;
  std::string text_;
};

}  // namespace

std::filesystem::path MetricsFilePath(const std::filesystem::path& folder,
                                      std::string_view profile_name) {
  return folder / ("remoteccm_" + std::string(profile_name) + ".prom");
}

std::string MetricsLabelValue(std::string_view text) {
  std::string escaped;
  for (const char c : AsUtf8(text)) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string MetricsText(const RunStatusRecord& record) {
  const RunSummary& run = record.run;
  MetricsWriter out(run.profile_name);
  out.Gauge("remoteccm_last_run_start_timestamp_seconds",
            "When the last run of the profile started (seconds since 1970).", Number(run.started));
  out.Gauge("remoteccm_last_run_timestamp_seconds",
            "When the last run of the profile ended (seconds since 1970).", Number(run.ended));
  if (record.last_success) {
    out.Gauge(kLastSuccess, "When the last successful run of the profile ended.",
              Number(*record.last_success));
  }
  out.Family("remoteccm_last_run_result",
             "The result of the last run: 1 for the result it had, 0 for the others.");
  for (const RunStatus status : kAllStatuses) {
    out.Sample("remoteccm_last_run_result", status == run.status ? "1" : "0",
               ",result=\"" + std::string(RunStatusName(status)) + "\"");
  }
  out.Gauge("remoteccm_last_run_exit_status", "The exit status of the last run.",
            std::to_string(record.exit_status));
  out.Gauge("remoteccm_last_run_records_collected",
            "Records the last run wrote to the destination file.",
            std::to_string(run.records_collected));
  out.Gauge("remoteccm_last_run_records_deleted",
            "Records the last run deleted in the CDR database.",
            std::to_string(run.records_deleted));
  out.Gauge("remoteccm_last_run_cdr_files_waiting",
            "CDR files the last run found waiting too long that cannot be imported.",
            std::to_string(run.waiting_files.size()));
  out.Gauge("remoteccm_last_run_records_before_start",
            "Records the last run imported from CDR files dated before what New Records Only "
            "still selects.",
            std::to_string(run.records_before_start));
  if (run.stored_start && std::isfinite(*run.stored_start)) {
    out.Gauge("remoteccm_stored_start_timestamp_seconds",
              "Where the next New Records Only selection starts (seconds since 1970).",
              Number(*run.stored_start));
  }
  // Counters since the status file was first written: rate() and increase() see every run,
  // also the ones between two scrapes.
  const RunTotals& totals = record.totals;
  out.Family("remoteccm_runs_total", "Runs (and delete-alls) of the profile, by result.",
             "counter");
  for (const RunStatus status : kAllStatuses) {
    const auto found = totals.runs.find(status);
    out.Sample("remoteccm_runs_total",
               std::to_string(found == totals.runs.end() ? 0 : found->second),
               ",result=\"" + std::string(RunStatusName(status)) + "\"");
  }
  out.Counter("remoteccm_records_collected_total",
              "Records the runs of the profile wrote to the destination file.",
              totals.records_collected);
  out.Counter("remoteccm_records_deleted_total",
              "Records the runs of the profile deleted in the CDR database.",
              totals.records_deleted);
  return std::move(out.text());
}

std::optional<double> LastSuccessInMetricsFile(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error) ||
      std::filesystem::file_size(file, error) > kMetricsFileMax) {
    return std::nullopt;
  }
  const std::optional<std::string> read = ReadWholeFile(file);
  if (!read) return std::nullopt;
  const std::string& content = *read;
  std::size_t at = 0;
  while (at < content.size()) {
    std::size_t end = content.find('\n', at);
    if (end == std::string::npos) end = content.size();
    const std::string_view line(content.data() + at, end - at);
    at = end + 1;
    if (!line.starts_with(kLastSuccess) || line.size() == kLastSuccess.size() ||
        (line[kLastSuccess.size()] != '{' && line[kLastSuccess.size()] != ' ')) {
      continue;
    }
    const std::string_view value = TrimView(line.substr(line.rfind(' ') + 1));
    double seconds = 0;
    const auto [stop, parse_error] =
        std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (parse_error == std::errc() && stop == value.data() + value.size() &&
        std::isfinite(seconds)) {
      return seconds;
    }
  }
  return std::nullopt;
}

std::string WriteMetricsFile(const std::filesystem::path& folder, const RunStatusRecord& record) {
  try {
    ReplaceFileContent(MetricsFilePath(folder, record.run.profile_name), MetricsText(record), 0644);
  } catch (const FileError& e) {
    return std::strerror(e.ErrorNumber());
  }
  return {};
}

}  // namespace remoteccm
