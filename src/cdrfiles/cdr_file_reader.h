// One CDR file as CallManager's CDR Repository writes it: a line of quoted field names, a line
// of field types, then one record a line (text in double quotes with a quote inside doubled,
// numbers bare, an empty text ""), the last one with or without a line feed after it. Read as
// a stream, a record at a time, each line checked against the header; the first fault names
// its line and ends the reading. A fault says where it is and what is wrong, never what the
// file holds: the file comes from another account.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/posix_file.h"

namespace remoteccm {

// A field's type from the types line, as far as storing it goes.
enum class CdrFieldType { kInteger, kText };

struct CdrFileField {
  std::string name;       // as the header spells it
  std::string type_text;  // as the types line spells it ("INTEGER", "VARCHAR(50)")
  CdrFieldType type = CdrFieldType::kText;
  int length = 0;  // characters of a text field (0 when the type names none)
};

// One value of a record; `quoted` tells a text ("") from a bare empty number.
struct CdrFileValue {
  std::string text;
  bool quoted = false;
  std::int64_t number = 0;  // an INTEGER field's value, read by the reader (0 when empty)
};

// Longest line read; a longer one is a fault (no real record comes near it).
inline constexpr std::size_t kCdrFileLineMax = std::size_t{64} * 1024;

// Splits one line into its values: quoted or bare, comma separated. False (with why) when a
// quote is not closed or text follows a closing quote.
bool SplitCdrLine(std::string_view line, std::vector<CdrFileValue>& values, std::string& why);

// The type of a types-line entry; false when it is not one this reader knows the form of.
bool ParseCdrFieldType(std::string_view text, CdrFileField& field);

class CdrFileReader {
 public:
  enum class State { kReading, kEnd, kIncomplete, kDamaged };

  // Reads the header and types lines of the open file (read from where it stands, normally its
  // start). A file that holds no complete types line yet (empty, one line) is kIncomplete: it
  // may still be written. Anything else wrong is kDamaged; a last line without a line feed is
  // a record when it holds every field of the header, else the file is damaged, cut_short()
  // telling the caller that a writer may still add the rest.
  explicit CdrFileReader(FileDescriptor file);
  // The same for the file at path (opened without following a link or waiting on a pipe).
  explicit CdrFileReader(const std::filesystem::path& path);
  ~CdrFileReader();
  CdrFileReader(const CdrFileReader&) = delete;
  CdrFileReader& operator=(const CdrFileReader&) = delete;

  State state() const { return state_; }
  const std::vector<CdrFileField>& fields() const { return fields_; }
  // Why the file is damaged or incomplete, and the line (from 1) it concerns.
  const std::string& problem() const { return problem_; }
  std::int64_t problem_line() const { return problem_line_; }

  // The next record: true with its values (one per field, the line's raw text in `line`);
  // false at the end or at a fault (see state()).
  bool Next(std::vector<CdrFileValue>& values, std::string& line);

  // The bytes read so far and their SHA-256 (the whole file once Next returned false at kEnd).
  std::int64_t bytes_read() const { return bytes_read_; }
  std::string Sha256Hex() const;
  // Where the line Next returned last ends in the file, its line feed counted.
  std::int64_t line_end() const { return line_end_; }
  // Whether the fault is a last line without a line feed that ends before its last field: an
  // upload that stopped there, or one that pauses (its writer may still add the rest).
  bool cut_short() const { return cut_short_; }

 private:
  enum class LineRead { kLine, kEnd, kUnended, kTooLong, kError };
  void ReadHead();
  bool ReadFieldNames(const std::string& header);  // false: the file is damaged
  bool ReadFieldTypes(const std::string& types);
  bool CheckRecord(std::vector<CdrFileValue>& values, const std::string& line);
  LineRead ReadLine(std::string& line);
  bool ReadBlock();  // the next block into the empty buffer; false when it cannot be read
  void Fail(State state, std::string why);

  struct Stream;
  std::unique_ptr<Stream> stream_;
  State state_ = State::kReading;
  std::vector<CdrFileField> fields_;
  std::string header_line_;
  std::string problem_;
  std::int64_t line_number_ = 0;
  std::int64_t problem_line_ = 0;
  std::int64_t bytes_read_ = 0;
  std::int64_t line_end_ = 0;
  std::int64_t consumed_ = 0;  // bytes handed out as lines so far
  bool last_line_unended_ = false;
  bool cut_short_ = false;
};

}  // namespace remoteccm
