// What the about box tells: the program's version in the box's own form, and the list of facts
// about the program and the computer, taken from the build and the running system.
#pragma once

#include <QString>
#include <utility>
#include <vector>

namespace remoteccm::gui {

using Fact = std::pair<QString, QString>;  // name, value

// "major.minor.release.build", the build with at least three digits; with `trimmed`, trailing
// "0" and "." characters removed one by one and ".0" appended when no "." remains.
QString VersionText(int major, int minor, int release, int build, bool trimmed);

// The four numbers of a "1.2.3", "1.2.3.4" or "1.2.3+4" text (the build's count of commits is
// the fourth); missing or unreadable ones are 0.
std::vector<int> VersionNumbers(const QString& text);

// The facts in the box's order; facts whose source gives nothing are left out.
std::vector<Fact> CollectVersionFacts(const QString& version, const QString& build_date);

}  // namespace remoteccm::gui
