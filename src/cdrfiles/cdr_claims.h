// Which profile reads which kind of file of a CDR file folder. One folder may feed several
// profiles, in one program home or in several (several users): each kind goes to exactly one,
// or two profiles would split its files between them without a word. The profile that reads a
// kind claims it in a small hidden file of the folder (".remoteccm-cdr.claim",
// ".remoteccm-cmr.claim") naming its profile file; it is the one thing the collector writes
// there. The push account can change a claim, but that only makes the next run refuse loudly.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cdrfiles/cdr_folder.h"

namespace remoteccm {

// The claim file of a kind: ".remoteccm-cdr.claim".
std::string ClaimFileName(CdrFileKind kind);

// The text of a claim and back: strict (one form, a size limit); empty when it is not one.
std::string ClaimText(const std::filesystem::path& profile);
std::string ClaimedProfile(std::string_view text);

// What another profile named in a claim says about the folder.
enum class Claimant {
  kReads,       // it names this folder and reads this kind: the claim holds
  kStale,       // it is gone, or no longer reads this kind from this folder
  kUncheckable  // it cannot be read (another user's home): the claim holds
};
using ClaimantCheck = std::function<Claimant(const std::filesystem::path& profile, CdrFileKind)>;

struct ClaimOutcome {
  bool refused = false;
  std::string error;               // the refusal, naming the profile and the claim file
  std::vector<std::string> notes;  // claims made or taken over
};

// Claims each kind of `kinds` in the folder for `profile` (an absolute path), or finds it
// claimed already by it. A kind claimed by another profile that still reads it is refused; a
// claim whose profile is gone or reads no longer is taken over. `same_profile` tells whether
// a claim's path names this profile file.
ClaimOutcome ClaimKinds(const FolderHandle& folder, const CdrKinds& kinds,
                        const std::filesystem::path& profile,
                        const std::function<bool(const std::filesystem::path&)>& same_profile,
                        const ClaimantCheck& check);

}  // namespace remoteccm
