// Where a data set's two files go: CS/<name> and CS/plot/<name> under the KEL
// path, reached without following a symbolic link inside the name.
#ifndef KNOTFIT_FILES_KEL_PATH_H
#define KNOTFIT_FILES_KEL_PATH_H

#include "unique_fd.h"

#include <optional>
#include <string>
#include <string_view>

// Why the name cannot name a file under CS: a NUL byte, a ".." component,
// nothing left for a file name (empty, ".", a trailing "/" or "/."), a
// component longer than a file name may be, or a first component "plot" (the
// plot directory). Empty and "." components are dropped first, as the file
// system drops them.
std::string NameProblem(std::string_view name);

// The name as the file system reads it: "/a", "a//b" and "./a" are "a",
// "a/b" and "a".
std::string FileName(std::string_view name);

// Where the KEL path comes from, and whether missing directories are made.
struct KelSettings {
  std::string dir;    // the KEL path of the run (--kel); empty: $TROV_KEL,
                      // else $HOME/.TROV_KEL, read afresh on every call
  bool mkdir = false; // make what is missing of the KEL path, CS, CS/plot
                      // and the name's directories (0777 less the umask)
};

// The KEL path: settings.dir, else $TROV_KEL, else $HOME/.TROV_KEL; none
// when neither variable is set.
std::optional<std::string> KelBase(const KelSettings &settings);

// Why a target could not be reached.
struct KelProblem {
  enum Kind {
    kNone,
    kNoBase,       // neither TROV_KEL nor HOME is set
    kTopDirectory, // CS or CS/plot itself cannot be opened
    kSubdirectory, // a directory of the name is missing or not a directory
  } kind = kNone;
  std::string path;    // what could not be opened
  int error = 0;       // errno
  std::string missing; // when it does not exist: the directory to make for
                       // the target (CS/plot for CS itself)
};

// Where one output file goes: the directory that will hold it and the
// file's name in it, or, when it cannot be reached, why.
struct KelTarget {
  UniqueFd dir; // open when located; else problem says why
  KelProblem problem;
  std::string leaf;
  std::string path;    // the whole path, for messages
  bool in_top = false; // dir is CS or CS/plot itself, not a subdirectory
  // What stood at the target when it was located (one fstatat, no link
  // followed): whether anything, its type and mode bits, its owner and group.
  bool exists = false;
  unsigned mode = 0;
  unsigned owner = 0;
  unsigned group = 0;
  explicit operator bool() const { return static_cast<bool>(dir); }
};

// Opens <KEL path>/<subdir> (which may be a link: that is the user's own
// set-up), then every directory component of name below it with O_NOFOLLOW;
// with settings.mkdir, a missing one is made first, never through a link.
KelTarget LocateKelTarget(const char *subdir, std::string_view name,
                          const KelSettings &settings = {});

// Any other output file, named by a path of the user's (links followed):
// its directory opened, the file looked at as LocateKelTarget does. A
// directory that cannot be opened is a kTopDirectory problem.
KelTarget LocateFile(const std::string &path);

// Where both files of the data set named name go, located once.
struct KelTargets {
  KelTarget table, plot;
};
KelTargets LocateKelTargets(std::string_view name,
                            const KelSettings &settings = {});

// Why the existing file at the target must not be replaced (a link, a
// directory, a FIFO, a socket, a device, a file the user may not write), or
// an empty string when there is none or it is a plain writable file.
std::string ExistingFileProblem(const KelTarget &target);

#endif
