#include "kel_path.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The name's components without the empty and "." ones, which the file
// system skips anyway: "/a", "a//b" and "./a" reach the same files as before.
std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t slash = std::min(name.find('/', start), name.size());
    const std::string_view part = name.substr(start, slash - start);
    if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  return parts;
}

// What stands at the target's leaf in dir, without following a link.
void LookAt(const UniqueFd &dir, KelTarget &target) {
  struct stat st {};
  if (fstatat(dir.get(), target.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    target.exists = true;
    target.mode = st.st_mode;
    target.owner = st.st_uid;
  }
}

} // namespace

std::string NameProblem(std::string_view name) {
  const std::vector<std::string_view> parts = Components(name);
  for (const std::string_view part : parts) {
    // ".." could climb out of the KEL tree, or from CS/plot onto another
    // data set's coefficient table.
    if (part == "..") {
      return "name has a '..' component";
    }
    if (part.size() > NAME_MAX) {
      return "name has a component longer than " + std::to_string(NAME_MAX) +
             " bytes";
    }
  }
  if (parts.empty() || name.back() == '/') {
    return "name leaves no file name";
  }
  if (parts.front() == "plot") {
    return "name starts with 'plot', the plot directory";
  }
  return {};
}

KelTarget LocateKelTarget(const char *subdir, std::string_view name) {
  KelTarget target;
  // Fails the target: a target without its directory, and why.
  auto unreachable = [](KelProblem::Kind kind, std::string path, int error) {
    KelTarget failed;
    failed.problem = {kind, std::move(path), error};
    return failed;
  };
  if (const char *kel = std::getenv("TROV_KEL")) {
    target.path = kel; // an empty TROV_KEL is still a base: the root
  } else if (const char *home = std::getenv("HOME")) {
    target.path = std::string(home) + "/.TROV_KEL";
  } else {
    return unreachable(KelProblem::kNoBase, {}, 0);
  }
  target.path += '/';
  target.path += subdir;
  UniqueFd dir(open(target.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) {
    const int error = errno;
    return unreachable(KelProblem::kTopDirectory, target.path, error);
  }
  const std::vector<std::string_view> parts = Components(name);
  if (parts.empty()) { // NameProblem refuses such a name first
    return unreachable(KelProblem::kSubdirectory, target.path, EINVAL);
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string part(parts[i]);
    target.path += '/';
    target.path += part;
    // O_NOFOLLOW: a link planted inside the name must not lead out of the
    // KEL tree, as ".." may not.
    UniqueFd next(openat(dir.get(), part.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) {
      int error = errno;
      struct stat st {};
      if (fstatat(dir.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        error = ELOOP; // said as "is a symbolic link"
      }
      return unreachable(KelProblem::kSubdirectory, target.path, error);
    }
    dir = std::move(next);
  }
  target.in_top = parts.size() == 1;
  target.leaf = std::string(parts.back());
  LookAt(dir, target);
  target.path += '/';
  target.path += target.leaf;
  target.dir = std::move(dir);
  return target;
}

KelTarget LocateFile(const std::string &path) {
  const size_t slash = path.rfind('/');
  const std::string dir_path = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                            : path.substr(0, slash);
  KelTarget target;
  target.leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  target.path = path;
  UniqueFd dir(open(dir_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir || target.leaf.empty() || target.leaf == "." ||
      target.leaf == "..") {
    target.problem = {KelProblem::kTopDirectory, dir_path,
                      dir ? EISDIR : errno};
    return target;
  }
  LookAt(dir, target);
  target.dir = std::move(dir);
  return target;
}

KelTargets LocateKelTargets(std::string_view name) {
  return {LocateKelTarget("CS", name), LocateKelTarget("CS/plot", name)};
}

std::string ExistingFileProblem(const KelTarget &target) {
  if (!target.exists) {
    return {}; // created new
  }
  const char *what = nullptr;
  switch (target.mode & S_IFMT) {
  case S_IFREG:
    // The owner's write bit answers for the usual case without asking the
    // system; anything else (group, others, ACLs) is asked.
    static const uid_t self = geteuid(); // a system call saved per file
    if (!(target.owner == self && (target.mode & S_IWUSR) != 0) &&
        faccessat(target.dir.get(), target.leaf.c_str(), W_OK, AT_EACCESS) !=
            0) {
      what = "a file you may not write";
    }
    break;
  case S_IFLNK:
    what = "a symbolic link";
    break;
  case S_IFDIR:
    what = "a directory";
    break;
  case S_IFIFO:
    what = "a FIFO";
    break;
  case S_IFSOCK:
    what = "a socket";
    break;
  default:
    what = "a device";
    break;
  }
  return what == nullptr ? std::string() : what;
}
