// A field-list file made of any bytes: no crash, and every entry it yields is one a line can
// be laid out by: a name, and a width from 1 to 255.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "retrieval/layout/field_list.h"
#include "util/ini_file.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const IniContent content =
      IniContent::FromText(std::string(reinterpret_cast<const char*>(data), size));
  for (const char* section : {"CCM_FIELDS", "SQL_FIELDS"}) {
    const FieldList list = FieldListOfSection(content.Section(section), LineLayout::kFormatted);
    if (list.layout == LineLayout::kDefault && !list.entries.empty()) std::abort();
    for (const FieldEntry& entry : list.entries) {
      if (entry.width < 1 || entry.width > kMaxFieldWidth) std::abort();
    }
  }
  return 0;
}
