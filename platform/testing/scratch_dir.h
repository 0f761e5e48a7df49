// Scratch files for the tests that start programs or read files: a fresh
// directory, removed with all it holds when the test ends.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace platform {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "posix-test-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) return;
    std::error_code error;
    path_ = std::filesystem::canonical(pattern, error).string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool ok() const { return !path_.empty(); }
  // The directory, its symbolic links resolved, as a child's pwd shows it.
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  // Writes `text` as the file `name` with the permission bits `mode`.
  std::string Write(const std::string& name, const std::string& text,
                    mode_t mode = 0644) const {
    std::string file = Path(name);
    std::ofstream(file, std::ios::binary) << text;
    chmod(file.c_str(), mode);
    return file;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

// This process's working directory as a child's pwd shows it.
inline std::string CurrentDirectory() {
  std::error_code error;
  return std::filesystem::canonical(std::filesystem::current_path(), error)
      .string();
}

// A script that writes its arguments, each in angle brackets, then a line
// feed and its working directory, into the file the environment variable
// CAPTURE_OUT names; a child that did not inherit the environment fails.
inline std::string WriteCaptureScript(const ScratchDir& dir) {
  return dir.Write("capture",
                   "#!/bin/sh\n"
                   "{ for arg in \"$@\"; do printf '<%s>' \"$arg\"; done\n"
                   "  echo; pwd -P; } > \"$CAPTURE_OUT\"\n",
                   0755);
}

}  // namespace platform
