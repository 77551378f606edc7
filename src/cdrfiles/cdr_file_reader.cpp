#include "cdrfiles/cdr_file_reader.h"

#include <fcntl.h>

#include <charconv>

#include "util/posix_file.h"
#include "util/sha256.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::size_t kFieldNameMax = 128;
constexpr std::size_t kReadBlock = std::size_t{64} * 1024;

bool IsFieldName(std::string_view name) {
  if (name.empty() || name.size() > kFieldNameMax) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

bool ReadWholeNumber(std::string_view text, std::int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Control characters other than tab: the file is not text.
bool HoldsBinary(std::string_view line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) return true;
  }
  return false;
}

// Reads the quoted value that starts at line[at] (a doubled quote stands for one), up to the
// comma after it or the end; false, with why, when it is no such value.
bool ReadQuotedValue(std::string_view line, std::size_t& at, CdrFileValue& value,
                     std::string& why) {
  value.quoted = true;
  ++at;
  for (;;) {
    const std::size_t quote = line.find('"', at);
    if (quote == std::string_view::npos) {
      why = "a quote is not closed";
      return false;
    }
    value.text.append(line.substr(at, quote - at));
    at = quote + 1;
    if (at >= line.size() || line[at] != '"') break;
    value.text.push_back('"');
    ++at;
  }
  if (at < line.size() && line[at] != ',') {
    why = "text follows a closing quote";
    return false;
  }
  return true;
}

}  // namespace

// Values are read into the elements `values` already holds, so that a file's lines reuse the
// text buffers of the line before: no allocation a value once the first lines are read.
bool SplitCdrLine(std::string_view line, std::vector<CdrFileValue>& values, std::string& why) {
  const char* const text = line.data();
  const std::size_t size = line.size();
  std::size_t count = 0;
  std::size_t at = 0;
  const auto fail = [&](const char* reason) {
    values.resize(count);
    why = reason;
    return false;
  };
  while (true) {
    if (count == values.size()) values.emplace_back();
    CdrFileValue& value = values[count++];
    value.text.clear();
    value.number = 0;
    value.quoted = false;
    if (at < size && text[at] == '"') {
      if (!ReadQuotedValue(line, at, value, why)) {
        values.resize(count);
        return false;
      }
    } else {
      std::size_t comma = at;
      while (comma < size && text[comma] != ',') {
        if (text[comma] == '"') return fail("a quote inside a bare value");
        ++comma;
      }
      value.text.assign(text + at, comma - at);
      at = comma;
    }
    if (at >= size) {
      values.resize(count);
      return true;
    }
    ++at;  // the comma
  }
}

bool ParseCdrFieldType(std::string_view text, CdrFileField& field) {
  const std::string_view trimmed = TrimView(text);
  const std::size_t open = trimmed.find('(');
  const std::string_view name = trimmed.substr(0, open);
  if (name.empty()) return false;
  for (const char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  field.type_text = std::string(trimmed);
  field.length = 0;
  if (open != std::string_view::npos) {
    if (trimmed.back() != ')') return false;
    const std::string_view digits = trimmed.substr(open + 1, trimmed.size() - open - 2);
    int length = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (error != std::errc() || end != digits.data() + digits.size() || length <= 0 ||
        length > 65535) {
      return false;
    }
    field.length = length;
  }
  const std::string upper = UpperCase(std::string(name));
  const bool integer = upper == "INTEGER" || upper == "INT" || upper == "BIGINT" ||
                       upper == "SMALLINT" || upper == "TINYINT";
  field.type = integer ? CdrFieldType::kInteger : CdrFieldType::kText;
  if (upper == "UNIQUEIDENTIFIER" && field.length == 0) field.length = 36;
  return true;
}

struct CdrFileReader::Stream {
  FileDescriptor fd;
  Sha256 sha;
  std::string buffer;
  std::size_t used = 0;  // bytes of buffer already handed out
  bool at_end = false;
};

CdrFileReader::CdrFileReader(FileDescriptor file) : stream_(new Stream) {
  stream_->fd = std::move(file);
  ReadHead();
}

CdrFileReader::CdrFileReader(const std::filesystem::path& path) : stream_(new Stream) {
  int error = 0;
  stream_->fd = TryOpenFile(path, O_RDONLY | kOpenNoFollow | kOpenWithoutWaiting, error);
  ReadHead();
}

void CdrFileReader::ReadHead() {
  if (!stream_->fd.IsOpen()) {
    Fail(State::kIncomplete, "it cannot be opened");
    return;
  }
  const std::int64_t size = RegularFileSize(stream_->fd.Get());
  if (size < 0) {
    Fail(State::kIncomplete, "it is not a regular file");
    return;
  }
  if (size == 0) {
    Fail(State::kIncomplete, "it is empty");
    return;
  }
  std::string header;
  std::string types;
  const LineRead header_read = ReadLine(header);
  if (header_read == LineRead::kUnended) {
    const bool carriage_returns = header.find('\r') != std::string::npos;
    Fail(State::kIncomplete, carriage_returns
                                 ? "it holds no line feed (its lines end with a carriage return)"
                                 : "it holds one line, no types line");
    return;
  }
  if (header_read != LineRead::kLine) return;
  const LineRead types_read = ReadLine(types);
  if (types_read == LineRead::kEnd) {
    Fail(State::kIncomplete, "it holds one line, no types line");
    return;
  }
  if (types_read != LineRead::kLine && types_read != LineRead::kUnended) return;
  state_ = State::kReading;
  if (!ReadFieldNames(header) || !ReadFieldTypes(types)) return;
  header_line_ = std::move(header);
  line_end_ = consumed_;
}

bool CdrFileReader::ReadFieldNames(const std::string& header) {
  std::vector<CdrFileValue> names;
  std::string why;
  line_number_ = 1;
  if (HoldsBinary(header) || !SplitCdrLine(header, names, why)) {
    Fail(State::kDamaged, "the header line cannot be read" + (why.empty() ? "" : ": " + why));
    return false;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string position = std::to_string(i + 1);
    if (!names[i].quoted || !IsFieldName(names[i].text)) {
      Fail(State::kDamaged, "field " + position + " of the header is not a quoted plain name");
      return false;
    }
    for (std::size_t earlier = 0; earlier < fields_.size(); ++earlier) {
      if (SameText(fields_[earlier].name, names[i].text)) {
        Fail(State::kDamaged, "fields " + std::to_string(earlier + 1) + " and " + position +
                                  " of the header have the same name");
        return false;
      }
    }
    fields_.push_back({names[i].text, "", CdrFieldType::kText, 0});
  }
  return true;
}

bool CdrFileReader::ReadFieldTypes(const std::string& types) {
  std::vector<CdrFileValue> type_values;
  std::string why;
  line_number_ = 2;
  if (HoldsBinary(types) || !SplitCdrLine(types, type_values, why) ||
      type_values.size() != fields_.size()) {
    Fail(State::kDamaged, "the types line does not give one type per field of the header");
    return false;
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (!ParseCdrFieldType(type_values[i].text, fields_[i])) {
      Fail(State::kDamaged, "the type of field " + std::to_string(i + 1) + " is not a type");
      return false;
    }
  }
  return true;
}

CdrFileReader::~CdrFileReader() = default;

void CdrFileReader::Fail(State state, std::string why) {
  state_ = state;
  problem_ = std::move(why);
  problem_line_ = line_number_;
}

CdrFileReader::LineRead CdrFileReader::ReadLine(std::string& line) {
  line.clear();
  Stream& s = *stream_;
  const auto too_long = [&] {
    Fail(State::kDamaged,
         "the line is longer than " + std::to_string(kCdrFileLineMax) + " characters");
    return LineRead::kTooLong;
  };
  while (true) {
    const std::size_t newline = s.buffer.find('\n', s.used);
    if (newline != std::string::npos) {
      line.append(s.buffer, s.used, newline - s.used);
      consumed_ += static_cast<std::int64_t>(newline + 1 - s.used);
      s.used = newline + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ++line_number_;
      if (line.size() > kCdrFileLineMax) return too_long();
      return LineRead::kLine;
    }
    line.append(s.buffer, s.used, std::string::npos);
    consumed_ += static_cast<std::int64_t>(s.buffer.size() - s.used);
    s.buffer.clear();
    s.used = 0;
    if (line.size() > kCdrFileLineMax) {
      ++line_number_;
      return too_long();
    }
    if (s.at_end) {
      if (line.empty()) return LineRead::kEnd;
      ++line_number_;
      last_line_unended_ = true;
      if (line.back() == '\r') line.pop_back();
      return LineRead::kUnended;
    }
    if (!ReadBlock()) return LineRead::kError;
  }
}

bool CdrFileReader::ReadBlock() {
  Stream& s = *stream_;
  for (;;) {
    s.buffer.resize(kReadBlock);
    const std::int64_t got = ReadSome(s.fd.Get(), s.buffer.data(), s.buffer.size());
    if (got >= 0) {
      s.buffer.resize(static_cast<std::size_t>(got));
      if (got == 0) s.at_end = true;
      s.sha.Update(s.buffer);
      bytes_read_ += got;
      return true;
    }
    s.buffer.clear();
    if (errno != EINTR) {
      Fail(State::kIncomplete, "it cannot be read");
      return false;
    }
  }
}

bool CdrFileReader::Next(std::vector<CdrFileValue>& values, std::string& line) {
  if (state_ != State::kReading) return false;
  if (last_line_unended_) {
    // The line without a line feed was the last one.
    state_ = State::kEnd;
    return false;
  }
  const LineRead read = ReadLine(line);
  if (read == LineRead::kEnd) {
    state_ = State::kEnd;
    return false;
  }
  if (read != LineRead::kLine && read != LineRead::kUnended) return false;
  if (!CheckRecord(values, line)) return false;
  line_end_ = consumed_;
  return true;
}

bool CdrFileReader::CheckRecord(std::vector<CdrFileValue>& values, const std::string& line) {
  if (HoldsBinary(line)) {
    Fail(State::kDamaged, "the line holds binary content");
    return false;
  }
  std::string why;
  if (!SplitCdrLine(line, values, why)) {
    cut_short_ = last_line_unended_;
    Fail(State::kDamaged, "the line cannot be read: " + why);
    return false;
  }
  if (!values.empty() && values[0].quoted && SameText(values[0].text, fields_[0].name)) {
    Fail(State::kDamaged, line == header_line_ ? "the header repeats within the file"
                                               : "the header changes within the file");
    return false;
  }
  if (values.size() != fields_.size()) {
    const bool short_line = values.size() < fields_.size();
    cut_short_ = short_line && last_line_unended_;
    const std::string kind = !short_line          ? "a long line: "
                             : last_line_unended_ ? "a short last line without a line feed: "
                                                  : "a short line: ";
    Fail(State::kDamaged, kind + std::to_string(values.size()) + " fields, the header has " +
                              std::to_string(fields_.size()));
    return false;
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (fields_[i].type != CdrFieldType::kInteger || values[i].text.empty()) continue;
    if (!ReadWholeNumber(values[i].text, values[i].number)) {
      Fail(State::kDamaged,
           "the value of field " + std::to_string(i + 1) + " is not a whole number");
      return false;
    }
  }
  return true;
}

std::string CdrFileReader::Sha256Hex() const { return stream_->sha.HexDigest(); }

}  // namespace remoteccm
