#include "cdrfiles/cdr_claims.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kClaimMagic = "remoteccm-claim 1";
// Far more than a path needs; what is longer is no claim.
constexpr std::size_t kClaimMax = 4096;

std::string Shown(const std::filesystem::path& path) { return EscapedForLog(path.string()); }

std::string KindWords(CdrFileKind kind) {
  return kind == CdrFileKind::kCdr ? "CDR files (cdr_...)" : "CMR files (cmr_...)";
}

// Reads at most kClaimMax + 1 bytes: a longer file is no claim.
std::string ReadClaim(int fd) {
  std::string text(kClaimMax + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const std::int64_t n =
        ReadAt(fd, text.data() + got, text.size() - got, static_cast<std::int64_t>(got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

// Writes the claim under a name of its own, synced, then gives it the claim's name (replacing
// only when told). 0 or the errno.
int WriteClaim(const FolderHandle& folder, const std::string& name, const std::string& text,
               bool replace) {
  int error = 0;
  std::string written = name;
  if (replace) {
    written = name + ".new-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  FileDescriptor out = folder.CreateNew(written, error);
  if (!out.IsOpen()) return error;
  try {
    WriteAll(out.Get(), text, folder.path() / written);
    SyncFile(out.Get(), folder.path() / written);
    out.Close(folder.path() / written);
  } catch (const FileError& e) {
    out = FileDescriptor();
    folder.Remove(written);
    return e.ErrorNumber();
  }
  if (replace) {
    if (const int renamed = folder.Rename(written, folder, name, true); renamed != 0) {
      folder.Remove(written);
      return renamed;
    }
  }
  folder.Sync();
  return 0;
}

class KindClaim {
 public:
  KindClaim(const FolderHandle& folder, CdrFileKind kind, const std::filesystem::path& profile,
            const std::function<bool(const std::filesystem::path&)>& same_profile,
            const ClaimantCheck& check, ClaimOutcome& outcome)
      : folder_(folder),
        kind_(kind),
        profile_(profile),
        same_profile_(same_profile),
        check_(check),
        outcome_(outcome),
        name_(ClaimFileName(kind)),
        shown_(Shown(folder.path() / name_)) {}

  // False when the kind is refused (outcome_.error says why).
  bool Claim() {
    // A few rounds: another run may make or change the claim between the looks.
    for (int round = 0; round < 4; ++round) {
      EntryFacts facts;
      int error = 0;
      FileDescriptor claim = folder_.OpenToRead(name_, facts, error);
      std::optional<bool> claimed;
      if (claim.IsOpen()) {
        claimed = FollowClaim(claim, facts);
      } else if (error == ENOENT) {
        claimed = MakeClaim();
      } else {
        return Refuse(error == EINVAL ? "the claim file " + shown_ + " is " +
                                            std::string(EntryKindText(facts.kind)) + "; remove it"
                                      : "the claim file " + shown_ + " cannot be read (" +
                                            std::strerror(error) + "); remove it");
      }
      if (claimed) return *claimed;
    }
    return Refuse("the claim file " + shown_ + " keeps changing");
  }

 private:
  // A claim where there was none; nothing when another run made one meanwhile.
  std::optional<bool> MakeClaim() {
    const int made = WriteClaim(folder_, name_, ClaimText(profile_), false);
    if (made == EEXIST) return std::nullopt;
    if (made != 0) {
      return Refuse("the claim file " + shown_ + " cannot be made: " + std::strerror(made));
    }
    outcome_.notes.push_back("This profile reads the " + KindWords(kind_) + " of " +
                             Shown(folder_.path()) + " (claimed in " + shown_ + ").");
    return true;
  }

  // The claim there: this profile's, another's that stands, or one whose profile no longer
  // reads the kind, taken over; nothing when it changed meanwhile.
  std::optional<bool> FollowClaim(FileDescriptor& claim, const EntryFacts& facts) {
    const std::string claimed = ClaimedProfile(ReadClaim(claim.Get()));
    if (claimed.empty()) return Refuse("the claim file " + shown_ + " is damaged; remove it");
    if (same_profile_(claimed)) return true;
    switch (check_(claimed, kind_)) {
      case Claimant::kReads:
        return Refuse("the profile " + Shown(claimed) + " reads them already (" + shown_ + ")");
      case Claimant::kUncheckable:
        return Refuse("the profile " + Shown(claimed) + " claims them (" + shown_ +
                      "), and it cannot be read to see whether it still does");
      case Claimant::kStale:
        break;
    }
    // The claim is taken over under its own lock, so that two runs never both take it.
    if (!TryLockWholeFile(claim.Get())) {
      return Refuse("another process holds the claim file " + shown_);
    }
    if (!StillThere(facts)) return std::nullopt;
    int replaced = WriteClaim(folder_, name_, ClaimText(profile_), true);
    if (replaced == EACCES) {
      // Windows replaces no file that is held open: the claim is let go first, and taken over
      // only if it is still the one read.
      claim = FileDescriptor();
      if (!StillThere(facts)) return std::nullopt;
      replaced = WriteClaim(folder_, name_, ClaimText(profile_), true);
    }
    if (replaced != 0) {
      return Refuse("the claim file " + shown_ + " cannot be replaced: " + std::strerror(replaced));
    }
    outcome_.notes.push_back("The profile " + Shown(claimed) + " no longer reads the " +
                             KindWords(kind_) + " of " + Shown(folder_.path()) +
                             ": this profile takes its claim over (" + shown_ + ").");
    return true;
  }

  // Whether the claim's name still stands for the file that was read.
  bool StillThere(const EntryFacts& facts) const {
    int error = 0;
    const std::optional<EntryFacts> now = folder_.Look(name_, error);
    return now && now->identity == facts.identity;
  }

  bool Refuse(const std::string& why) {
    outcome_.refused = true;
    outcome_.error = "The " + KindWords(kind_) + " of the folder " + Shown(folder_.path()) +
                     " cannot be read by this profile: " + why +
                     ". Two profiles would split them between them; give each kind one profile "
                     "(another folder for the other), or remove " +
                     shown_ + " when the profile it names no longer reads the folder.";
    return false;
  }

  const FolderHandle& folder_;
  CdrFileKind kind_;
  const std::filesystem::path& profile_;
  const std::function<bool(const std::filesystem::path&)>& same_profile_;
  const ClaimantCheck& check_;
  ClaimOutcome& outcome_;
  std::string name_;
  std::string shown_;
};

}  // namespace

std::string ClaimFileName(CdrFileKind kind) {
  return ".remoteccm-" + std::string(KindTag(kind)) + ".claim";
}

std::string ClaimText(const std::filesystem::path& profile) {
  return std::string(kClaimMagic) + "\n" + profile.string() + "\n";
}

std::string ClaimedProfile(std::string_view text) {
  if (text.size() > kClaimMax || !text.starts_with(kClaimMagic) ||
      text.substr(kClaimMagic.size(), 1) != "\n" || !text.ends_with('\n')) {
    return {};
  }
  const std::string_view path =
      text.substr(kClaimMagic.size() + 1, text.size() - kClaimMagic.size() - 2);
  for (const char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
  }
  if (path.size() < 5 || !SameText(path.substr(path.size() - 4), ".CCM") ||
      !std::filesystem::path(std::string(path)).is_absolute()) {
    return {};
  }
  return std::string(path);
}

ClaimOutcome ClaimKinds(const FolderHandle& folder, const CdrKinds& kinds,
                        const std::filesystem::path& profile,
                        const std::function<bool(const std::filesystem::path&)>& same_profile,
                        const ClaimantCheck& check) {
  ClaimOutcome outcome;
  for (const CdrFileKind kind : {CdrFileKind::kCdr, CdrFileKind::kCmr}) {
    if (!kinds.Has(kind)) continue;
    if (!KindClaim(folder, kind, profile, same_profile, check, outcome).Claim()) break;
  }
  return outcome;
}

}  // namespace remoteccm
