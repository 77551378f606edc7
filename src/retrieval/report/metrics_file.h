// The Prometheus textfile remoteccm_NAME.prom that the node exporter's textfile collector
// reads: what the last run of one profile did, each series labelled with the profile.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "retrieval/report/status_file.h"

namespace remoteccm {

// The profile's file in the metrics folder.
std::filesystem::path MetricsFilePath(const std::filesystem::path& folder,
                                      std::string_view profile_name);

// A label value of the text format: UTF-8, with backslash, double quote and line feed escaped.
std::string MetricsLabelValue(std::string_view text);

// The file's text: HELP and TYPE lines and one sample per series; a time that is not known
// (no successful run yet, no stored start) has no sample.
std::string MetricsText(const RunStatusRecord& record);

// The time of the last successful run that a metrics file holds, to carry it over when the
// status file is lost.
std::optional<double> LastSuccessInMetricsFile(const std::filesystem::path& file);

// Writes the file under a temporary name and renames it, so that the collector never reads
// half a file. Returns "" or the reason nothing was written.
std::string WriteMetricsFile(const std::filesystem::path& folder, const RunStatusRecord& record);

}  // namespace remoteccm
