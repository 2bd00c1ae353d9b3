// Small helpers of the GoogleTest suites: files, scratch directories, bytes.
#ifndef KNOTFIT_TEST_SUPPORT_H
#define KNOTFIT_TEST_SUPPORT_H

#include <string>

// A fresh directory under the system's temporary directory, removed with all
// its contents when the object goes.
class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string operator/(const std::string &relative) const {
    return path_ + "/" + relative;
  }

private:
  std::string path_;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);

// "00 01 ff" -> bytes
std::string Bytes(const std::string &hex);

#endif
