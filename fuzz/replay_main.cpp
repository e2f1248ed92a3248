// The fuzz targets as plain programs: each argument is a file or a directory
// of files, every one of which is given to the target once. A broken
// property aborts, so the exit status tells whether every input passed.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "check.hpp"

namespace {

bool replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << file << "\n";
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path given(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(given)) {
      for (const auto& entry : std::filesystem::directory_iterator(given)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(given);
    }
    for (const auto& file : files) {
      if (!replay(file)) return 1;
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::cerr << argv[0] << ": no input to replay\n";
    return 1;
  }
  std::cout << argv[0] << ": " << replayed << " inputs replayed\n";
  return 0;
}
