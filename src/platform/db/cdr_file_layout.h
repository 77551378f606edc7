// The flat files a CallManager of a current release (14, 15) writes, kept once as data: the
// fields of a CDR file (cdr_...) and of a CMR file (cmr_...) with the types their second line
// gives, in the order of the files. The generator writes them, the embedded CDR database
// starts its CMR table with them, and the tests build their files from them.
#pragma once

#include <span>
#include <string_view>

namespace remoteccm {

struct CdrFileLayoutField {
  std::string_view name;  // as the file's first line spells it
  std::string_view type;  // as its second line gives it: INTEGER, UNIQUEIDENTIFIER, VARCHAR(n)
};

// The 133 fields of a CDR file.
std::span<const CdrFileLayoutField> CurrentCdrFileFields();
// The 48 fields of a CMR file.
std::span<const CdrFileLayoutField> CurrentCmrFileFields();

}  // namespace remoteccm
