// A NetworkManager the tests control: the files that tests/platform/dialup/fake-nmcli reads and
// writes in a scratch folder.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/dialup/nm_dialer.h"

namespace remoteccm::testing {

class FakeNetworkManager {
 public:
  // Sets FAKE_NM_DIR for this process and the programs it starts.
  explicit FakeNetworkManager(std::filesystem::path dir) : dir_(std::move(dir)) {
    std::filesystem::create_directories(dir_ / "conns");
    std::filesystem::create_directories(dir_ / "active");
    Write("running", "");
    ::setenv("FAKE_NM_DIR", dir_.c_str(), 1);
  }

  static std::string Program() { return REMOTECCM_SOURCE_DIR "/tests/platform/dialup/fake-nmcli"; }
  NetworkManagerPrograms Programs() const {
    return NetworkManagerPrograms{Program(), (dir_ / "no-such-editor").string()};
  }

  // A connection profile; fields are "setting.property" values. Returns its UUID.
  std::string Add(const std::string& type, const std::string& name,
                  const std::map<std::string, std::string>& fields = {}) {
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "00000000-0000-4000-8000-%012d", ++count_);
    const std::filesystem::path conn = dir_ / "conns" / uuid;
    std::filesystem::create_directories(conn / "fields");
    Write(conn / "type", type);
    Write(conn / "id", name);
    for (const auto& [field, value] : fields) Write(conn / "fields" / field, value);
    return uuid;
  }
  std::string Field(const std::string& uuid, const std::string& field) const {
    return Read(dir_ / "conns" / uuid / "fields" / field);
  }

  // What "connection up" does: "connect", "fail:STATUS:MESSAGE" or "hold" until Release.
  void SetUp(const std::string& outcome) { Write("up", outcome); }
  void Release(const std::string& outcome) {
    Write("release.new", outcome);
    Rename("release");
  }
  void SetActive(const std::string& uuid, const std::string& state) {
    Write(dir_ / "active" / uuid, state + " /org/freedesktop/NetworkManager/ActiveConnection/3");
  }
  bool Active(const std::string& uuid) const {
    return std::filesystem::exists(dir_ / "active" / uuid);
  }
  void Drop(const std::string& uuid) { std::filesystem::remove(dir_ / "active" / uuid); }
  void Stop() { std::filesystem::remove(dir_ / "running"); }
  void RemoveSystemBus() { Write("nobus", ""); }
  void AnswerInOldFormat() { Write("format", "old"); }

  std::string Calls() const { return Read(dir_ / "calls"); }
  std::string PasswordFileSeen() const { return Read(dir_ / "passwd"); }

 private:
  void Write(const std::filesystem::path& name, const std::string& text) const {
    std::ofstream(name.is_absolute() ? name : dir_ / name, std::ios::binary) << text;
  }
  void Rename(const std::string& name) const {
    std::filesystem::rename(dir_ / (name + ".new"), dir_ / name);
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
  int count_ = 0;
};

}  // namespace remoteccm::testing
