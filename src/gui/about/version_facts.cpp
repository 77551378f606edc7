#include "gui/about/version_facts.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>
#include <QStringList>
#include <QSysInfo>

namespace remoteccm::gui {
namespace {

// Whether a network interface other than the loopback one is up.
bool Networked() {
  const QDir net(QStringLiteral("/sys/class/net"));
  for (const QString& name : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (name == QLatin1String("lo")) continue;
    QFile state(net.filePath(name + QLatin1String("/operstate")));
    if (state.open(QIODevice::ReadOnly) && state.readAll().trimmed() == "up") return true;
  }
  return false;
}

QString UserName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name) {
    return QString::fromLocal8Bit(entry->pw_name);
  }
  return qEnvironmentVariable("USER");
}

void Add(std::vector<Fact>& facts, const char* name, const QString& value) {
  if (!value.isEmpty()) facts.emplace_back(QLatin1String(name), value);
}

}  // namespace

QString VersionText(int major, int minor, int release, int build, bool trimmed) {
  QString text = QStringLiteral("%1.%2.%3.%4")
                     .arg(major)
                     .arg(minor)
                     .arg(release)
                     .arg(build, 3, 10, QLatin1Char('0'));
  if (!trimmed) return text;
  while (!text.isEmpty() && (text.back() == QLatin1Char('0') || text.back() == QLatin1Char('.'))) {
    text.chop(1);
  }
  if (!text.contains(QLatin1Char('.'))) text += QLatin1String(".0");
  return text;
}

std::vector<int> VersionNumbers(const QString& text) {
  std::vector<int> numbers(4, 0);
  const QStringList parts =
      QString(text).replace(QLatin1Char('+'), QLatin1Char('.')).split(QLatin1Char('.'));
  for (qsizetype i = 0; i < parts.size() && i < 4; ++i) {
    numbers[static_cast<std::size_t>(i)] = parts[i].toInt();
  }
  return numbers;
}

std::vector<Fact> CollectVersionFacts(const QString& version, const QString& build_date) {
  std::vector<Fact> facts;
  const std::vector<int> v = VersionNumbers(version);
  Add(facts, "Product Version", VersionText(v[0], v[1], v[2], v[3], false));
  Add(facts, "Operating System", QSysInfo::prettyProductName());
  Add(facts, "FileType", QStringLiteral("Application"));
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    const long long mib = static_cast<long long>(pages) * page_size / (1024LL * 1024) + 1;
    Add(facts, "Total RAM", QStringLiteral("%1 MB RAM").arg(mib));
  }
  Add(facts, "Networked", Networked() ? QStringLiteral("Yes") : QStringLiteral("No"));
  Add(facts, "Computer Name", QSysInfo::machineHostName());
  Add(facts, "User Name", UserName());
  Add(facts, "Comments",
      QStringLiteral("Collects the call detail records of a Cisco CallManager into the file "
                     "a call-accounting program reads."));
  Add(facts, "Description", QStringLiteral("Remote Access for CCM"));
  Add(facts, "Internal Name", QStringLiteral("remoteccm"));
  Add(facts, "Original Filename", QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  Add(facts, "Product Name", QStringLiteral("remoteccm"));
  const QStorageInfo disk(QDir::currentPath());
  if (disk.isValid()) {
    Add(facts, "Disk Free", QStringLiteral("%1 bytes").arg(disk.bytesAvailable()));
  }
  const QFileInfo exe(QCoreApplication::applicationFilePath());
  if (exe.exists() && exe.lastModified().isValid()) {
    const QLocale locale;
    const QDateTime when = exe.lastModified();
    Add(facts, "Executable Date",
        locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
            locale.toString(when.time(), QLocale::LongFormat));
    Add(facts, "Executable Size", QStringLiteral("%1 bytes").arg(exe.size()));
  }
  utsname system{};
  Add(facts, "Platform",
      ::uname(&system) == 0 ? QString::fromLocal8Bit(system.sysname) + QLatin1Char(' ') +
                                  QString::fromLocal8Bit(system.release)
                            : QStringLiteral("??"));
  Add(facts, "Qt Version", QString::fromLatin1(qVersion()));
  Add(facts, "Build Date", build_date);
  return facts;
}

}  // namespace remoteccm::gui
