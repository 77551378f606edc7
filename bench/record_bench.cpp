// The per-record work of a transfer without the database: a destination line in each layout,
// the backup line (ordinary, and with a value to quote), the time conversion and the column
// lookup, each in nanoseconds per call.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/db/cdr_schema.h"
#include "retrieval/layout/field_list.h"
#include "retrieval/layout/line_layout.h"
#include "timezone/local_zone.h"
#include "timezone/time_conversion.h"
#include "timezone/zone_list.h"

namespace remoteccm {
namespace {

// A realistic answered PSTN call with every column of the CDR table filled.
class SampleRow : public ResultRow {
 public:
  SampleRow() {
    for (const CdrColumn& column : CdrColumns()) {
      names_.emplace_back(column.name);
      values_.emplace_back(column.kind == CdrColumnKind::kInteger ? "0" : "");
    }
    Set("cdrRecordType", "1");
    Set("globalCallID_callManagerId", "1");
    Set("globalCallID_callId", "1234567");
    Set("dateTimeOrigination", "1783001234");
    Set("dateTimeConnect", "1783001240");
    Set("dateTimeDisconnect", "1783001452");
    Set("callingPartyNumber", "4085551234");
    Set("originalCalledPartyNumber", "914155550199");
    Set("finalCalledPartyNumber", "914155550199");
    Set("lastRedirectDn", "914155550199");
    Set("origIpAddr", "352977162");
    Set("destIpAddr", "369754378");
    Set("origDeviceName", "SEP0011223344AA");
    Set("destDeviceName", "S0/SU1/DS1-0@GW1");
    Set("duration", "212");
    Set("pkid", "3b8e1f0c-45d2-4c7a-9a0e-2f1d5c6b7a88");
  }
  std::string_view Text(std::size_t column) const override { return values_[column]; }
  const std::vector<std::string>& names() const { return names_; }
  void Set(std::string_view name, std::string_view value) {
    const int index = CdrColumnIndex(name);
    if (index >= 0) values_[static_cast<std::size_t>(index)] = value;
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::string> values_;
};

// The six fields the properties dialog offers by default.
FieldList DialogDefaultFields(LineLayout layout) {
  FieldList list;
  list.layout = layout;
  list.entries = {{"cdrRecordType", 1},
                  {"dateTimeOrigination", 22},
                  {"callingPartyNumber", 22},
                  {"originalCalledPartyNumber", 24},
                  {"duration", 8},
                  {"clientMatterCode", 16}};
  return list;
}

TimeZoneSettings ZoneSettings(bool named) {
  TimeZoneSettings settings;
  settings.computer_rule = ComputerZoneRule();
  if (named) {
    settings.option = TimeZoneOption::kSelected;
    settings.selected_rule = ZoneRuleFromTz("America/New_York", DefaultZoneinfoDir(), "");
  }
  return settings;
}

void FormatLine(benchmark::State& state, LineLayout layout) {
  const SampleRow row;
  const TimeConverter converter(ZoneSettings(true));
  const LineFormatter formatter(DialogDefaultFields(layout), row.names(), converter);
  std::string line;
  for (auto _ : state) {
    formatter.Format(row, line);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetLabel(std::to_string(line.size()) + " characters");
}

void BM_FormatDefault(benchmark::State& state) {
  // The default layout ignores the entries and lays out its five fixed columns.
  FormatLine(state, LineLayout::kDefault);
}
void BM_FormatFormatted(benchmark::State& state) { FormatLine(state, LineLayout::kFormatted); }
void BM_FormatRaw(benchmark::State& state) { FormatLine(state, LineLayout::kRaw); }
void BM_FormatComma(benchmark::State& state) { FormatLine(state, LineLayout::kComma); }

void BackupLine(benchmark::State& state, std::string_view client_matter_code) {
  SampleRow row;
  row.Set("clientMatterCode", client_matter_code);
  std::string line;
  for (auto _ : state) {
    FormatBackupLine(row, row.names().size(), line);
    benchmark::DoNotOptimize(line.data());
  }
}
void BM_BackupLine(benchmark::State& state) { BackupLine(state, ""); }
// The rare row with a value that must be quoted: its values are looked at one by one.
void BM_BackupLineQuotedValue(benchmark::State& state) { BackupLine(state, "ACME, Inc."); }

// A day of calls a few seconds apart, so the conversion stays within one year as a pass does.
void ToLocal(benchmark::State& state, bool named) {
  const TimeConverter converter(ZoneSettings(named));
  double seconds = 1783001234;
  double sum = 0;
  for (auto _ : state) {
    sum += converter.ToLocal(seconds);
    seconds += 7;
    if (seconds > 1783001234 + 86400) seconds = 1783001234;
  }
  benchmark::DoNotOptimize(sum);
}
void BM_ToLocalComputerZone(benchmark::State& state) { ToLocal(state, false); }
void BM_ToLocalNamedZone(benchmark::State& state) { ToLocal(state, true); }

// Values alternating between two years, the worst case of the year cache.
void BM_ToLocalNamedZoneYearChange(benchmark::State& state) {
  const TimeConverter converter(ZoneSettings(true));
  const double moments[] = {1767225599, 1767225600 + 3600};  // 2025-12-31, 2026-01-01 UTC
  double sum = 0;
  std::size_t i = 0;
  for (auto _ : state) sum += converter.ToLocal(moments[i++ & 1]);
  benchmark::DoNotOptimize(sum);
}

void BM_FindColumn(benchmark::State& state) {
  const SampleRow row;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindColumn(row.names(), "ORIGINALCALLEDPARTYNUMBER"));
  }
}

// What a pass does once: the field list resolved to column positions.
void BM_FormatterSetUp(benchmark::State& state) {
  const SampleRow row;
  const TimeConverter converter(ZoneSettings(true));
  const FieldList fields = DialogDefaultFields(LineLayout::kFormatted);
  for (auto _ : state) {
    const LineFormatter formatter(fields, row.names(), converter);
    benchmark::DoNotOptimize(&formatter);
  }
}

BENCHMARK(BM_FormatDefault);
BENCHMARK(BM_FormatFormatted);
BENCHMARK(BM_FormatRaw);
BENCHMARK(BM_FormatComma);
BENCHMARK(BM_BackupLine);
BENCHMARK(BM_BackupLineQuotedValue);
BENCHMARK(BM_ToLocalComputerZone);
BENCHMARK(BM_ToLocalNamedZone);
BENCHMARK(BM_ToLocalNamedZoneYearChange);
BENCHMARK(BM_FindColumn);
BENCHMARK(BM_FormatterSetUp);

}  // namespace
}  // namespace remoteccm

BENCHMARK_MAIN();
