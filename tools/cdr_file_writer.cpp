#include "cdr_file_writer.h"

#include <cctype>
#include <ctime>
#include <stdexcept>

#include "platform/db/cdr_file_layout.h"
#include "platform/db/cdr_schema.h"
#include "util/posix_file.h"
#include "util/text_routines.h"
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

// The 4.x column a current release's field takes its value from: the same name, or the one
// it was renamed from.
int ColumnOfCurrentField(std::string_view name) {
  if (name == "callingPartyUnicodeLoginUserID") return CdrColumnIndex("callingPartyLoginUserID");
  if (name == "finalCalledPartyUnicodeLoginUserID") {
    return CdrColumnIndex("finalCalledPartyLoginUserID");
  }
  const auto columns = CdrColumns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (SameText(columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

// The call management record of a call's row: its leg's counters, as a CallManager writes one
// per leg when the call ends.
constexpr int kCmrDerived = -2;

const CdrValue& Column(const CdrRow& row, std::string_view name) {
  return row[static_cast<std::size_t>(CdrColumnIndex(name))];
}

// A CMR field's value made from the call's row; false for a field left empty.
bool CmrValue(std::string_view field, const CdrRow& row, std::string& text) {
  const std::int64_t duration = Column(row, "duration").number;
  const std::string& pkid = Column(row, "pkid").text;
  const auto spread = static_cast<std::int64_t>(pkid.empty() ? 0 : pkid.back());
  if (field == "cdrRecordType") {
    text = "2";
  } else if (field == "nodeId") {
    text = std::to_string(Column(row, "origNodeId").number);
  } else if (field == "directoryNum") {
    text = Column(row, "callingPartyNumber").text;
  } else if (field == "callIdentifier") {
    text = std::to_string(Column(row, "origLegCallIdentifier").number);
  } else if (field == "dateTimeStamp") {
    text = std::to_string(Column(row, "dateTimeDisconnect").number);
  } else if (field == "numberPacketsSent" || field == "numberPacketsReceived") {
    text = std::to_string(duration * 50);
  } else if (field == "numberOctetsSent" || field == "numberOctetsReceived") {
    text = std::to_string(duration * 8000);
  } else if (field == "numberPacketsLost") {
    text = std::to_string(duration > 0 ? spread % 7 : 0);
  } else if (field == "jitter") {
    text = std::to_string(spread % 30);
  } else if (field == "latency") {
    text = std::to_string(spread % 4);
  } else if (field == "pkid") {
    // Another key than the call's: its first hex digit moved on by eight.
    text = pkid;
    if (!text.empty()) {
      const char hex[] = "0123456789abcdef";
      const std::size_t at = std::string_view(hex).find(static_cast<char>(std::tolower(text[0])));
      text[0] = hex[(at == std::string_view::npos ? 0 : at + 8) % 16];
    }
  } else if (field == "directoryNumPartition") {
    text = Column(row, "callingPartyNumberPartition").text;
  } else if (field == "globalCallId_ClusterID") {
    text = Column(row, "globalCallId_ClusterId").text;
  } else if (field == "deviceName") {
    text = Column(row, "origDeviceName").text;
  } else if (field == "varVQMetrics") {
    text =
        "MLQK=4.5000;MLQKav=4.4000;MLQKmn=4.1000;MLQKmx=4.5000;ICR=0.0000;CCR=0.0000;"
        "ICRmx=0.0000;CS=0;SCS=0;MLQKvr=0.95";
  } else if (field == "duration") {
    text = std::to_string(duration);
  } else {
    return false;
  }
  return true;
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
  if (release >= 15) {
    for (const CdrFileLayoutField& field : CurrentCdrFileFields()) {
      fields.push_back({std::string(field.name), std::string(field.type),
                        ColumnOfCurrentField(field.name), field.type == "INTEGER"});
    }
    return fields;
  }
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

std::vector<GeneratedCdrField> GeneratedCmrFieldsOf(int release) {
  if (release < 15) return {};
  std::vector<GeneratedCdrField> fields;
  for (const CdrFileLayoutField& field : CurrentCmrFileFields()) {
    const bool from_call =
        field.name == "globalCallID_callManagerId" || field.name == "globalCallID_callId";
    fields.push_back({std::string(field.name), std::string(field.type),
                      from_call ? CdrColumnIndex(field.name) : kCmrDerived,
                      field.type == "INTEGER"});
  }
  return fields;
}

CdrFileWriter::CdrFileWriter(CdrFileWriterOptions options)
    : options_(std::move(options)),
      fields_(GeneratedCdrFieldsOf(options_.release)),
      cmr_fields_(GeneratedCmrFieldsOf(options_.release)),
      final_line_feed_(options_.release < 15),
      nodes_(static_cast<std::size_t>(options_.nodes)),
      cmr_nodes_(cmr_fields_.empty() ? 0 : static_cast<std::size_t>(options_.nodes)) {
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

void CdrFileWriter::Open(NodeFile& file, std::string_view tag,
                         const std::vector<GeneratedCdrField>& fields, int node,
                         std::int64_t minute) {
  char node_text[8];
  std::snprintf(node_text, sizeof node_text, "%02d", node);
  const std::string name = std::string(tag) + "_" + options_.cluster + "_" + node_text + "_" +
                           MinuteText(minute) + "_" + std::to_string(++file.sequence);
  file.final_name = options_.folder / name;
  // Written under a hidden name, as an upload is, and renamed when complete.
  file.writing = options_.folder / ("." + name);
  file.minute = minute;
  file.out.open(file.writing, std::ios::binary | std::ios::trunc);
  if (!file.out) throw std::runtime_error("cannot write " + file.writing.string());
  std::string header;
  std::string types;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      header += ',';
      types += ',';
    }
    AppendQuoted(header, fields[i].name);
    types += fields[i].type;
  }
  file.out << header << '\n' << types;
  if (final_line_feed_) file.out << '\n';
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
  const auto node = static_cast<std::size_t>(rows_++ % options_.nodes);
  NodeFile& file = nodes_[node];
  if (file.minute != minute) {
    Close(file);
    Open(file, "cdr", fields_, static_cast<int>(node) + 1, minute);
  }
  WriteRecord(file, fields_, row);
  if (cmr_nodes_.empty()) return;
  NodeFile& cmr = cmr_nodes_[node];
  if (cmr.minute != minute) {
    Close(cmr);
    Open(cmr, "cmr", cmr_fields_, static_cast<int>(node) + 1, minute);
  }
  WriteRecord(cmr, cmr_fields_, row);
}

void CdrFileWriter::WriteRecord(NodeFile& file, const std::vector<GeneratedCdrField>& fields,
                                const CdrRow& row) {
  line_.clear();
  if (!final_line_feed_) line_ += '\n';
  std::string derived;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line_ += ',';
    const GeneratedCdrField& field = fields[i];
    if (field.column == kCmrDerived) {
      // A CMR file writes an integer it has no value for as nothing at all.
      if (CmrValue(field.name, row, derived)) {
        if (field.integer) {
          line_ += derived;
        } else {
          AppendQuoted(line_, derived);
        }
      } else if (!field.integer) {
        line_ += "\"\"";
      }
      continue;
    }
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
  if (final_line_feed_) line_ += '\n';
  file.out << line_;
}

void CdrFileWriter::Finish() {
  for (NodeFile& file : nodes_) Close(file);
  for (NodeFile& file : cmr_nodes_) Close(file);
}

}  // namespace remoteccm
