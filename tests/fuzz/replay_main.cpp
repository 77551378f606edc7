// Replays stored fuzz inputs through a fuzz target without libFuzzer, so that every build (GCC
// too) runs the corpus: each argument is a file or a folder of files, each file one input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of its own, so that a read past the end is caught by the sanitizers.
  const std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path given(argv[i]);
    std::error_code error;
    if (fs::is_directory(given, error)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(given, error)) {
        if (!entry.is_regular_file()) continue;
        if (!Replay(entry.path())) return 1;
        ++replayed;
      }
      if (error) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], error.message().c_str());
        return 1;
      }
    } else {
      if (!Replay(given)) return 1;
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fputs("replay: no inputs\n", stderr);
    return 1;
  }
  std::printf("replay: %d inputs\n", replayed);
  return 0;
}
