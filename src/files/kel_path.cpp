#include "kel_path.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
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
    target.group = st.st_gid;
  }
}

// Makes what is missing of path, as mkdir -p does; links on the way are
// followed, as the KEL path, CS and CS/plot may be links. Returns 0, or the
// errno of the first directory that could not be made.
int MakeDirectories(const std::string &path) {
  size_t slash = path.find_first_not_of('/');
  do {
    slash = path.find('/', slash);
    if (mkdir(path.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST) {
      return errno;
    }
    slash = path.find_first_not_of('/', slash);
  } while (slash != std::string::npos);
  return 0;
}

// Opens a directory with open_dir; with make, one that is missing is made
// with make_dir (0 or an errno) first. When no directory is opened, errno
// says why.
template <class Open, class Make>
UniqueFd OpenOrMake(bool make, const Open &open_dir, const Make &make_dir) {
  UniqueFd fd = open_dir();
  if (fd || errno != ENOENT || !make) {
    return fd;
  }
  const int error = make_dir();
  if (error != 0) {
    errno = error;
    return fd;
  }
  return open_dir();
}

// The directory to make for a name's file under base/subdir: CS/plot for CS
// itself (it holds both), else the name's own directories.
std::string MissingDirectory(const std::string &top,
                             const std::vector<std::string_view> &parts) {
  std::string path = top;
  if (parts.size() < 2 && path.size() >= 3 &&
      path.compare(path.size() - 3, 3, "/CS") == 0) {
    return path + "/plot";
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    path += '/';
    path += parts[i];
  }
  return path;
}

} // namespace

std::string FileName(std::string_view name) {
  if (name.find('/') == std::string_view::npos) {
    return std::string(name); // the usual name, as it stands
  }
  std::string joined;
  for (const std::string_view part : Components(name)) {
    joined += joined.empty() ? "" : "/";
    joined += part;
  }
  return joined;
}

std::string NameProblem(std::string_view name) {
  // A file name is a C string: the system would read the name up to the
  // NUL, and two different names would go to one file.
  if (name.find('\0') != std::string_view::npos) {
    return "name holds a NUL byte";
  }
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
  // What follows the last '/' is the file's name: "a/" and "a/." name the
  // directory a, never a file a.
  const std::string_view last = name.substr(name.rfind('/') + 1);
  if (parts.empty() || last.empty() || last == ".") {
    return "name leaves no file name";
  }
  if (parts.front() == "plot") {
    return "name starts with 'plot', the plot directory";
  }
  return {};
}

std::optional<std::string> KelBase(const KelSettings &settings) {
  if (!settings.dir.empty()) {
    return settings.dir;
  }
  if (const char *kel = std::getenv("TROV_KEL")) {
    return kel; // an empty TROV_KEL is still a base: the root
  }
  if (const char *home = std::getenv("HOME")) {
    return std::string(home) + "/.TROV_KEL";
  }
  return std::nullopt;
}

KelTarget LocateKelTarget(const char *subdir, std::string_view name,
                          const KelSettings &settings) {
  KelTarget target;
  // Fails the target: a target without its directory, and why; for one that
  // does not exist, without --mkdir, the directory to make.
  auto unreachable = [&settings](KelProblem::Kind kind, std::string path,
                                 int error, std::string missing = {}) {
    KelTarget failed;
    failed.problem = {kind, std::move(path), error, {}};
    if (error == ENOENT && !settings.mkdir) {
      failed.problem.missing = std::move(missing);
    }
    return failed;
  };
  std::optional<std::string> base = KelBase(settings);
  if (!base) {
    return unreachable(KelProblem::kNoBase, {}, 0);
  }
  target.path = std::move(*base);
  target.path += '/';
  target.path += subdir;
  const std::string top = target.path;
  const std::vector<std::string_view> parts = Components(name);
  UniqueFd dir = OpenOrMake(
      settings.mkdir,
      [&top] {
        return UniqueFd(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      },
      [&top] { return MakeDirectories(top); });
  if (!dir) {
    const int error = errno;
    return unreachable(KelProblem::kTopDirectory, top, error,
                       MissingDirectory(top, {}));
  }
  if (parts.empty()) { // NameProblem refuses such a name first
    return unreachable(KelProblem::kSubdirectory, target.path, EINVAL);
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string part(parts[i]);
    target.path += '/';
    target.path += part;
    // O_NOFOLLOW: a link planted inside the name must not lead out of the
    // KEL tree, as ".." may not; one made here is a directory, not a link.
    UniqueFd next = OpenOrMake(
        settings.mkdir,
        [&dir, &part] {
          return UniqueFd(
              openat(dir.get(), part.c_str(),
                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        },
        [&dir, &part] {
          return mkdirat(dir.get(), part.c_str(), 0777) == 0 || errno == EEXIST
                     ? 0
                     : errno;
        });
    if (!next) {
      int error = errno;
      struct stat st {};
      if (fstatat(dir.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        error = ELOOP; // said as "is a symbolic link"
      }
      return unreachable(KelProblem::kSubdirectory, target.path, error,
                         MissingDirectory(top, parts));
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
    target.problem = {
        KelProblem::kTopDirectory, dir_path, dir ? EISDIR : errno, {}};
    return target;
  }
  LookAt(dir, target);
  target.dir = std::move(dir);
  return target;
}

KelTargets LocateKelTargets(std::string_view name,
                            const KelSettings &settings) {
  return {LocateKelTarget("CS", name, settings),
          LocateKelTarget("CS/plot", name, settings)};
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
