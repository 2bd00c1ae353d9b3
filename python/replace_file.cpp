#include "replace_file.h"

#include "knotfit/spline.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <system_error>

namespace knotfit_python {

namespace {

std::string Quoted(const std::string &path) {
  return "'" + path + "'";
}

knotfit::Error Failure(const std::string &path, int error) {
  return knotfit::Error(
      "cannot write " + Quoted(path) + ": " +
      std::error_code(error, std::generic_category()).message());
}

// The temporary file until it is renamed: closed and removed on every way
// out that does not reach Commit.
class Temporary {
public:
  Temporary(const std::string &target, std::optional<mode_t> keep_mode)
      : target_(target) {
    const std::size_t slash = target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = target.substr(dir.size());
    // The space keeps the name apart from any table knotfit names after a
    // data set, which holds no space. O_EXCL: another writer's file is
    // never taken over.
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
      name_ = dir + "." + base + " " + std::to_string(getpid()) + "." +
              std::to_string(attempt);
      fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) {
        break;
      }
    }
    if (fd_ < 0) {
      throw Failure(target, errno);
    }
    if (keep_mode && fchmod(fd_, *keep_mode) != 0) {
      Fail(errno);
    }
  }
  Temporary(const Temporary &) = delete;
  Temporary &operator=(const Temporary &) = delete;
  ~Temporary() {
    if (fd_ >= 0) {
      close(fd_);
    }
    if (!committed_) {
      unlink(name_.c_str());
    }
  }

  void Write(const std::vector<unsigned char> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote =
          write(fd_, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) {
        continue;
      }
      if (wrote <= 0) {
        Fail(wrote < 0 ? errno : ENOSPC);
      }
      done += static_cast<std::size_t>(wrote);
    }
  }

  void Commit() {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
      Fail(errno);
    }
    if (rename(name_.c_str(), target_.c_str()) != 0) {
      Fail(errno);
    }
    committed_ = true;
  }

private:
  [[noreturn]] void Fail(int error) { throw Failure(target_, error); }

  std::string target_, name_;
  int fd_ = -1;
  bool committed_ = false;
};

} // namespace

void ReplaceFile(const std::string &path,
                 const std::vector<unsigned char> &bytes) {
  if (path.empty() || path.back() == '/') {
    throw knotfit::Error(Quoted(path) + " names no file");
  }
  struct stat old {};
  std::optional<mode_t> keep_mode;
  if (lstat(path.c_str(), &old) == 0) {
    if (S_ISLNK(old.st_mode)) {
      throw knotfit::Error(Quoted(path) + " is a symbolic link");
    }
    if (!S_ISREG(old.st_mode)) {
      throw knotfit::Error(Quoted(path) + " is not a regular file");
    }
    // Replacing is allowed where writing in place would be.
    if (access(path.c_str(), W_OK) != 0) {
      throw Failure(path, errno);
    }
    keep_mode = old.st_mode & 07777;
  } else if (errno != ENOENT) {
    throw Failure(path, errno);
  }
  Temporary file(path, keep_mode);
  file.Write(bytes);
  file.Commit();
}

} // namespace knotfit_python
