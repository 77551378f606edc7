#include "cdr_file_writer.h"

#include <ctime>
#include <stdexcept>

#include "platform/db/cdr_schema.h"
#include "util/posix_file.h"
#include "util/utc_time.h"

namespace remoteccm {
namespace {

struct ExtraField {
  const char* name;
  const char* type;
  int since;  // the first release that has it
};

// Fields later releases write beyond the CallManager 4.x ones, each with its first release.
constexpr ExtraField kExtraFields[] = {
    {"origDTMFMethod", "INTEGER", 5},
    {"destDTMFMethod", "INTEGER", 5},
    {"callSecuredStatus", "INTEGER", 5},
    {"outpulsedCallingPartyNumber", "VARCHAR(50)", 8},
    {"outpulsedCalledPartyNumber", "VARCHAR(50)", 8},
    {"origIpv4v6Addr", "VARCHAR(64)", 8},
    {"destIpv4v6Addr", "VARCHAR(64)", 8},
    {"huntPilotDN", "VARCHAR(50)", 8},
    {"huntPilotPartition", "VARCHAR(50)", 8},
    {"calledPartyPatternUsage", "INTEGER", 8},
    {"outpulsedOriginalCalledPartyNumber", "VARCHAR(50)", 12},
    {"outpulsedLastRedirectingNumber", "VARCHAR(50)", 12},
    {"wasCallQueued", "INTEGER", 12},
    {"totalWaitTimeInQueue", "INTEGER", 12},
    {"callingPartyNumber_uri", "VARCHAR(254)", 12},
    {"originalCalledPartyNumber_uri", "VARCHAR(254)", 12},
    {"finalCalledPartyNumber_uri", "VARCHAR(254)", 12},
    {"lastRedirectDn_uri", "VARCHAR(254)", 12},
    {"mobileCallingPartyNumber", "VARCHAR(50)", 12},
    {"finalMobileCalledPartyNumber", "VARCHAR(50)", 12},
    {"origMobileDeviceName", "VARCHAR(129)", 12},
    {"destMobileDeviceName", "VARCHAR(129)", 12},
    {"origMobileCallDuration", "INTEGER", 12},
    {"destMobileCallDuration", "INTEGER", 12},
    {"mobileCallType", "INTEGER", 12},
    {"originalCalledPartyPattern", "VARCHAR(50)", 12},
    {"finalCalledPartyPattern", "VARCHAR(50)", 12},
    {"lastRedirectingPartyPattern", "VARCHAR(50)", 12},
    {"huntPilotPattern", "VARCHAR(50)", 12},
    {"origDeviceType", "VARCHAR(100)", 15},
    {"destDeviceType", "VARCHAR(100)", 15},
    {"origDeviceSessionID", "VARCHAR(128)", 15},
    {"destDeviceSessionID", "VARCHAR(128)", 15},
};

void AppendQuoted(std::string& line, const std::string& text) {
  line += '"';
  for (const char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

std::string MinuteText(std::int64_t minute) {
  const std::time_t seconds = static_cast<std::time_t>(minute * 60);
  std::tm utc{};
  UtcCalendarOf(seconds, utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M", &utc);
  return text;
}

}  // namespace

std::vector<GeneratedCdrField> GeneratedCdrFieldsOf(int release) {
  bool known = false;
  for (const int each : kCdrFileReleases) known = known || each == release;
  if (!known) return {};
  std::vector<GeneratedCdrField> fields;
  const auto columns = CdrColumns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const CdrColumn& column = columns[i];
    const bool integer = column.kind == CdrColumnKind::kInteger;
    const std::string type = integer ? "INTEGER"
                             : column.name == "pkid"
                                 ? "UNIQUEIDENTIFIER"
                                 : "VARCHAR(" + std::to_string(column.length) + ")";
    fields.push_back({std::string(column.name), type, static_cast<int>(i), integer});
  }
  for (const ExtraField& extra : kExtraFields) {
    if (extra.since > release) continue;
    fields.push_back({extra.name, extra.type, -1, std::string_view(extra.type) == "INTEGER"});
  }
  return fields;
}

CdrFileWriter::CdrFileWriter(CdrFileWriterOptions options)
    : options_(std::move(options)),
      fields_(GeneratedCdrFieldsOf(options_.release)),
      nodes_(static_cast<std::size_t>(options_.nodes)) {
  if (fields_.empty()) throw std::runtime_error("no field set for this release");
  std::filesystem::create_directories(options_.folder);
}

CdrFileWriter::~CdrFileWriter() {
  try {
    Finish();
  } catch (const std::exception&) {
    // A file that cannot be finished stays under its hidden name.
  }
}

void CdrFileWriter::Open(NodeFile& file, int node, std::int64_t minute) {
  char node_text[8];
  std::snprintf(node_text, sizeof node_text, "%02d", node);
  const std::string name = "cdr_" + options_.cluster + "_" + node_text + "_" + MinuteText(minute) +
                           "_" + std::to_string(++file.sequence);
  file.final_name = options_.folder / name;
  // Written under a hidden name, as an upload is, and renamed when complete.
  file.writing = options_.folder / ("." + name);
  file.minute = minute;
  file.out.open(file.writing, std::ios::binary | std::ios::trunc);
  if (!file.out) throw std::runtime_error("cannot write " + file.writing.string());
  std::string header;
  std::string types;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) {
      header += ',';
      types += ',';
    }
    AppendQuoted(header, fields_[i].name);
    types += fields_[i].type;
  }
  file.out << header << '\n' << types << '\n';
}

void CdrFileWriter::Close(NodeFile& file) {
  if (!file.out.is_open()) return;
  file.out.close();
  if (!file.out) throw std::runtime_error("cannot write " + file.writing.string());
  // The time of the push: the end of the file's minute, when that has passed.
  const std::int64_t pushed = (file.minute + 1) * 60;
  if (pushed < static_cast<std::int64_t>(std::time(nullptr))) {
    SetFileTimes(file.writing, pushed);
  }
  std::filesystem::rename(file.writing, file.final_name);
  ++files_written_;
}

void CdrFileWriter::Write(const CdrRow& row) {
  static const int disconnect = CdrColumnIndex("dateTimeDisconnect");
  const std::int64_t minute = row[static_cast<std::size_t>(disconnect)].number / 60;
  const int node = static_cast<int>(rows_++ % options_.nodes);
  NodeFile& file = nodes_[static_cast<std::size_t>(node)];
  if (file.minute != minute) {
    Close(file);
    Open(file, node + 1, minute);
  }
  line_.clear();
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) line_ += ',';
    const GeneratedCdrField& field = fields_[i];
    if (field.column < 0) {
      if (field.integer) {
        line_ += '0';
      } else {
        line_ += "\"\"";
      }
      continue;
    }
    const CdrValue& value = row[static_cast<std::size_t>(field.column)];
    if (field.integer) {
      line_ += std::to_string(value.number);
    } else {
      AppendQuoted(line_, value.null ? std::string() : value.text);
    }
  }
  line_ += '\n';
  file.out << line_;
}

void CdrFileWriter::Finish() {
  for (NodeFile& file : nodes_) Close(file);
}

}  // namespace remoteccm
