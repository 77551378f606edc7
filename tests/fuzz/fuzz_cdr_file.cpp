// A CDR file as anyone who can push to the folder can leave it: no crash, and what reads as
// records matches the header: one value per field, a whole number in every INTEGER field (the
// number the reader gives with it), the whole file read when the reading ends without a fault.
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cdrfiles/cdr_file_reader.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_cdr_file." + std::to_string(::getpid());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CdrFileReader reader(path);
  std::vector<CdrFileValue> values;
  std::string line;
  while (reader.Next(values, line)) {
    if (values.size() != reader.fields().size()) std::abort();
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string& text = values[i].text;
      if (reader.fields()[i].type != CdrFieldType::kInteger || text.empty()) continue;
      std::int64_t number = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
      if (error != std::errc() || end != text.data() + text.size()) std::abort();
      if (number != values[i].number) std::abort();
    }
  }
  if (reader.state() == CdrFileReader::State::kReading) std::abort();
  if (reader.state() == CdrFileReader::State::kEnd &&
      reader.bytes_read() != static_cast<std::int64_t>(size)) {
    std::abort();
  }
  ::unlink(path.c_str());
  return 0;
}
