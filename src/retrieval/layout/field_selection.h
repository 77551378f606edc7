// The choice of output columns as the properties dialog makes it: the columns the table
// offers with their default widths, the stored selection (CCM_FIELDS.INF) and the default one
// (default.inf, else six built-in columns), the record length, and the writing of the file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/database.h"

namespace remoteccm {

inline constexpr std::string_view kFieldListFile = "CCM_FIELDS.INF";
inline constexpr std::string_view kFieldListSection = "CCM_FIELDS";
inline constexpr std::string_view kDefaultFieldsFile = "default.inf";
// A selected field counts its width and the blank after it; the record holds at most this.
inline constexpr int kRecordLengthLimit = 250;
inline constexpr int kSelectedWidthMax = 40;

// A column of the CDR table as the field page offers it.
struct AvailableField {
  std::string name;  // as the server spells it
  int length = 0;    // the width a selection starts with
};

// A row of the selection: the width is kept as text, as typed.
struct SelectedField {
  std::string name;
  std::string width;
  bool operator==(const SelectedField&) const = default;
};

// The width a column starts with: by its name (cdrRecordType 1, the calling and called
// numbers 22 and 24, date/time columns 22, the client matter code 16, durations 8), else the
// column's maximum length, else 10.
int DefaultFieldWidth(std::string_view column_name, long max_length);

// The table's columns in catalog order, each name once (compared without regard to case).
std::vector<AvailableField> AvailableFieldsOf(const std::vector<DbColumnInfo>& columns);

// Whether the source offers a column of this name (compared without regard to case).
bool OffersField(const std::vector<AvailableField>& available, std::string_view name);

// The selection stored in CCM_FIELDS.INF of the home: every entry in file order but the "CSV"
// key (a column named twice gives two rows), names and widths trimmed, whatever the width and
// whichever source has the column: every profile of the home shares the list, so a column one
// source lacks is another's. None when the section has no entries, so that the default
// selection applies.
std::optional<std::vector<SelectedField>> StoredFieldSelection(
    const std::filesystem::path& program_home);

// default.inf's selection of the columns the table has, else the built-in six; a width of 0,
// or one that is no number, is the column's default width. Names take the server's spelling.
std::vector<SelectedField> DefaultFieldSelection(const std::filesystem::path& program_home,
                                                 const std::vector<AvailableField>& available);

// The sum over the rows of width + 1, each width read with ParseWhole.
int RecordLength(const std::vector<SelectedField>& rows);

// Replaces the section CCM_FIELDS of CCM_FIELDS.INF by the rows whose name is not blank, in
// order, in one replacement of the file; other sections and a "CSV" key of the old section
// stay. Throws FileError.
void SaveFieldSelection(const std::filesystem::path& program_home,
                        const std::vector<SelectedField>& rows);

}  // namespace remoteccm
