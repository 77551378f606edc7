#include "companion/default_destination.h"

#include "platform/home/program_home.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// The entity's file name; a folder separator in the entity would lead out of the folder, so
// it becomes "_".
std::string EntityFileName(std::string_view entity_name) {
  if (entity_name.empty()) return "0001.RAW";
  std::string name = Trim(entity_name);
  for (char& c : name) {
    if (kFolderSeparators.find(c) != std::string_view::npos) c = '_';
  }
  return name + ".RAW";
}

}  // namespace

std::string DefaultDestinationFile(const TRegAccess& registry, std::string_view entity_name,
                                   const std::string& program_home) {
  const std::string entity_file = EntityFileName(entity_name);
  struct Candidate {
    std::string section;
    bool entity_named;
  };
  const Candidate candidates[] = {{"TOLVA.EXE", true},
                                  {"KESTA.EXE", false},
                                  {"BRIMO.EXE", true},
                                  {OwnExecutableFileName(), true}};
  for (const Candidate& candidate : candidates) {
    const std::string folder = registry.GetRegistryItem(candidate.section, "PATH");
    if (!TrimView(folder).empty()) {
      return AddTrailingBackslash(folder) + (candidate.entity_named ? entity_file : "SMDR.TXT");
    }
  }
  return AddTrailingBackslash(program_home) + entity_file;
}

}  // namespace remoteccm
