// CDR files as the CDR Repository of CallManager 5 and later pushes them: one file per node and
// minute, named cdr_<cluster>_<node>_<UTC yyyymmddhhmm>_<sequence>, a line of quoted field
// names, a line of types, then the records (text quoted, a quote doubled; numbers bare). A
// release's field set: later releases have more fields. Release 15 writes the layout a current
// CallManager writes, field for field and in its order, with a call management record file
// (cmr_...) of the same node and minute beside each CDR file, and no line feed after the last
// record of either.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cdr_generator.h"

namespace remoteccm {

// Releases whose field sets the writer knows.
inline constexpr int kCdrFileReleases[] = {5, 8, 12, 15};

struct GeneratedCdrField {
  std::string name;
  std::string type;  // as the types line gives it
  int column = -1;   // the generated row's value (CdrColumns() position); -1: an empty value
  bool integer = false;
};

// The header of a release's files; empty for a release the writer does not know.
std::vector<GeneratedCdrField> GeneratedCdrFieldsOf(int release);
// The header of a release's CMR files; empty for a release that writes none.
std::vector<GeneratedCdrField> GeneratedCmrFieldsOf(int release);

struct CdrFileWriterOptions {
  std::filesystem::path folder;
  std::string cluster = "StandAloneCluster";
  int nodes = 2;
  int release = 12;
};

class CdrFileWriter {
 public:
  explicit CdrFileWriter(CdrFileWriterOptions options);
  ~CdrFileWriter();
  CdrFileWriter(const CdrFileWriter&) = delete;
  CdrFileWriter& operator=(const CdrFileWriter&) = delete;

  // Adds a row to its node's file of its minute (by dateTimeDisconnect), closing the node's
  // earlier file. Throws std::runtime_error when a file cannot be written.
  void Write(const CdrRow& row);
  // Closes the files still open.
  void Finish();

  int files_written() const { return files_written_; }

 private:
  struct NodeFile {
    std::ofstream out;
    std::filesystem::path writing;  // the name while it is written (hidden)
    std::filesystem::path final_name;
    std::int64_t minute = -1;
    int sequence = 0;
  };
  void Open(NodeFile& file, std::string_view tag, const std::vector<GeneratedCdrField>& fields,
            int node, std::int64_t minute);
  void Close(NodeFile& file);
  void WriteRecord(NodeFile& file, const std::vector<GeneratedCdrField>& fields, const CdrRow& row);

  CdrFileWriterOptions options_;
  std::vector<GeneratedCdrField> fields_;
  std::vector<GeneratedCdrField> cmr_fields_;
  // A current release ends its files without a line feed: each record begins with one.
  bool final_line_feed_ = true;
  std::vector<NodeFile> nodes_;
  std::vector<NodeFile> cmr_nodes_;
  std::int64_t rows_ = 0;
  int files_written_ = 0;
  std::string line_;
};

}  // namespace remoteccm
