// CDR files as the generator writes them, with values the fuzzer chooses (quotes, commas,
// UTF-8, any 32-bit number), read back by the collector's reader: every value of every
// record comes back as it was written, in every release's layout.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cdr_file_writer.h"
#include "cdrfiles/cdr_file_reader.h"
#include "platform/db/cdr_schema.h"

using namespace remoteccm;

namespace {

// Takes the fuzzer's bytes a piece at a time; zeros once they are used up.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
  bool Left() const { return at_ < size_; }
  // Any value of a CDR's INTEGER fields, which are 32 bits wide.
  std::int64_t Number() {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits = (bits << 8) | Next();
    std::int32_t number = 0;
    std::memcpy(&number, &bits, sizeof number);
    return number;
  }
  // Up to 40 bytes, none a control character (no CallManager value holds one).
  std::string Text() {
    std::string text(Next() % 41, ' ');
    for (char& c : text) {
      const std::uint8_t byte = Next();
      c = static_cast<char>(byte < 0x20 || byte == 0x7f ? '"' : byte);
    }
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The value the writer gives a field of the row, as the reader should return it.
std::string Expected(const GeneratedCdrField& field, const CdrRow& row) {
  if (field.column < 0) return field.integer ? "0" : "";
  const CdrValue& value = row[static_cast<std::size_t>(field.column)];
  if (field.integer) return std::to_string(value.number);
  return value.null ? std::string() : value.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                              ("fuzz_cdr_round_trip." + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  Bytes bytes(data, size);
  const int release = kCdrFileReleases[bytes.Next() % std::size(kCdrFileReleases)];
  const std::vector<GeneratedCdrField> fields = GeneratedCdrFieldsOf(release);
  static const int disconnect = CdrColumnIndex("dateTimeDisconnect");

  // Rows of one minute and one node: one file, its records in the order written.
  std::vector<CdrRow> rows;
  while (bytes.Left() && rows.size() < 20) {
    CdrRow row(CdrColumns().size());
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (CdrColumns()[i].kind == CdrColumnKind::kInteger) {
        row[i].number = bytes.Number();
      } else {
        row[i].text = bytes.Text();
      }
    }
    row[static_cast<std::size_t>(disconnect)].number = 1793491200;
    rows.push_back(std::move(row));
  }
  {
    CdrFileWriter writer({.folder = folder, .nodes = 1, .release = release});
    for (const CdrRow& row : rows) writer.Write(row);
    writer.Finish();
  }

  std::size_t read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.path().filename().string().starts_with("cdr_")) continue;
    CdrFileReader reader(entry.path());
    std::vector<CdrFileValue> values;
    std::string line;
    while (reader.Next(values, line)) {
      if (read >= rows.size() || values.size() != fields.size()) std::abort();
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (values[i].text != Expected(fields[i], rows[read])) std::abort();
      }
      ++read;
    }
    if (reader.state() != CdrFileReader::State::kEnd) std::abort();
  }
  if (read != rows.size()) std::abort();
  return 0;
}
