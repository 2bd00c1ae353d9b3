#include "replacement_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Every signal whose default action ends the process (Term or Core in
// signal(7)), but SIGKILL and SIGSTOP, which cannot be caught, and the
// synchronous faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS),
// after which nothing more should run.
const sigset_t &CleanupSignals() {
  static const sigset_t set = [] {
    sigset_t s;
    sigemptyset(&s);
    for (const int signal_number :
         {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
          SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO}) {
      sigaddset(&s, signal_number);
    }
#ifdef SIGSTKFLT
    sigaddset(&s, SIGSTKFLT);
#endif
#ifdef SIGPWR
    sigaddset(&s, SIGPWR);
#endif
#ifdef SIGRTMIN
    for (int rt = SIGRTMIN; rt <= SIGRTMAX; ++rt) {
      sigaddset(&s, rt);
    }
#endif
    return s;
  }();
  return set;
}

// The temporary files being written, for the signal handler: the one mutable
// global of the program. Slots 0 and 1 are the run thread's (a data set has
// at most two files at a time, its table's and its plot file's); the others
// are for the worker threads that write data sets' files ahead (-j).
//
// The handler runs on the run thread, which changes its slots only with the
// cleanup signals blocked, but a worker may change one of its slots at any
// moment. So a slot is claimed (kBusy) before its name is written and its
// file created, and holds the file (kHeld) after that; the handler first
// marks the run as ending, after which no slot is claimed any more, waits
// for the busy slots to settle, and then removes every held file. A name is
// never rewritten once the handler may read it: a claim made before the
// mark is seen by the handler (it waits for it), one made after backs out.
enum SlotState : int { kFree, kBusy, kHeld };
struct PendingTemporary {
  std::atomic<int> state{kFree};
  int dir = -1;                 // written only while busy
  char name[NAME_MAX + 1] = {}; // likewise
};
constexpr int kRunSlots = 2;
constexpr int kSlots = kRunSlots + kMaxFilesAhead;
PendingTemporary g_pending[kSlots]; // NOLINT: read by the signal handler
std::atomic<int> g_ending{0};       // NOLINT: set by the signal handler
static_assert(std::atomic<int>::is_always_lock_free);

// Claims a free slot, the run thread's or the workers', and keeps it busy;
// -1 when none is free or the run is ending.
int Claim(ReplacementFile::Creator creator) {
  const bool run = creator == ReplacementFile::Creator::kRunThread;
  for (int slot = run ? 0 : kRunSlots; slot < (run ? kRunSlots : kSlots);
       ++slot) {
    int expected = kFree;
    if (g_pending[slot].state.compare_exchange_strong(expected, kBusy)) {
      if (g_ending.load() != 0) {
        g_pending[slot].state.store(kFree);
        return -1;
      }
      return slot;
    }
  }
  return -1;
}

// The temporary file the busy slot will hold, before it is created; no slot
// (-1) for a file no handler watches.
void Name(int slot, int dir, const std::string &name) {
  if (slot < 0) {
    return;
  }
  std::memcpy(g_pending[slot].name, name.c_str(), name.size() + 1);
  g_pending[slot].dir = dir;
}

void Hold(int slot) {
  if (slot >= 0) {
    g_pending[slot].state.store(kHeld);
  }
}

void Forget(int &slot) {
  if (slot >= 0) {
    g_pending[slot].state.store(kFree);
    slot = -1;
  }
}

extern "C" void RemovePendingAndDie(int signal_number) {
  g_ending.store(1);
  for (const PendingTemporary &pending : g_pending) {
    int state = kBusy;
    while ((state = pending.state.load()) == kBusy) {
      // A worker is creating the file: it is done within a system call.
      const timespec pause{0, 100000};
      nanosleep(&pause, nullptr); // async-signal-safe
    }
    if (state == kHeld) {
      unlinkat(pending.dir, pending.name, 0); // async-signal-safe
    }
  }
  // SA_RESETHAND restored the default action; the signal is blocked while
  // this handler runs and ends the process (with a core dump where its
  // default makes one) as soon as it returns.
  raise(signal_number);
}

// The mode a new file gets from open(..., 0666): 0666 less the umask, which
// can only be read by setting it: read once, before any other thread of the
// program starts (another thread's new file would get the mode 0666 in the
// meantime), and never by the Python module, whose process may also change
// its umask at any moment.
unsigned DefaultMode() {
  static const unsigned mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
  }();
  return mode;
}

bool InGroup(gid_t group) {
  static const std::vector<gid_t> groups = [] {
    std::vector<gid_t> all(
        static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    all.resize(static_cast<size_t>(
        std::max(getgroups(static_cast<int>(all.size()), all.data()), 0)));
    return all;
  }();
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// Gives the new file fd what the file it replaces had: the permission bits
// without set-user-ID and set-group-ID (a table is never a program to run),
// and, as far as the process may give them, the owner and group, so that the
// file stays its owner's when root replaces it. Root gives both, anyone else
// the group when they belong to it. The owner and group go first: changing
// them may clear mode bits. The file was created with the process's own
// owner and group, so those need no call (in a set-group-ID directory it got
// the directory's group, which an old file of the process's group then
// takes on). The program skips the mode when the new file has it already;
// elsewhere (kUnwatched) the umask is not known, and the mode always set.
bool TakeOwnerAndMode(int fd, const KelTarget &old,
                      ReplacementFile::Creator creator) {
  static const uid_t self = geteuid(); // system calls saved per file
  static const gid_t own_group = getegid();
  const bool root = self == 0;
  const auto owner = static_cast<uid_t>(old.owner);
  const auto group = static_cast<gid_t>(old.group);
  const uid_t new_owner =
      root && owner != self ? owner : static_cast<uid_t>(-1);
  const gid_t new_group = group != own_group && (root || InGroup(group))
                              ? group
                              : static_cast<gid_t>(-1);
  if ((new_owner != static_cast<uid_t>(-1) ||
       new_group != static_cast<gid_t>(-1)) &&
      fchown(fd, new_owner, new_group) != 0) {
    return false;
  }
  const unsigned mode = old.mode & 01777;
  return (creator != ReplacementFile::Creator::kUnwatched &&
          mode == DefaultMode()) ||
         fchmod(fd, mode) == 0;
}

} // namespace

SignalsBlocked::SignalsBlocked() {
  sigprocmask(SIG_BLOCK, &CleanupSignals(), &saved_);
}

SignalsBlocked::~SignalsBlocked() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

void RemoveTemporaryFileOnSignals() {
  // Read once, before any other thread runs: umask can only be read by
  // setting it, which would change it for a file created meanwhile.
  DefaultMode();
  InGroup(0);
  for (int s = 1; s < NSIG; ++s) {
    struct sigaction old {};
    if (sigismember(&CleanupSignals(), s) != 1 ||
        sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
      continue; // nohup and friends: stays ignored
    }
    struct sigaction action {};
    action.sa_handler = RemovePendingAndDie;
    action.sa_mask = CleanupSignals();
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigaction(s, &action, nullptr);
  }
}

ReplacementFile::ReplacementFile(KelTarget target)
    : target_(std::move(target)) {}

ReplacementFile::~ReplacementFile() {
  Discard();
}

bool ReplacementFile::Create(Creator creator) {
  if (!target_) {
    return false;
  }
  had_previous_ = target_.exists;
  // The name part is cut so that the temporary name fits a file name too.
  std::string stem = ".";
  stem += target_.leaf.substr(0, NAME_MAX - 32);
  stem += ' ';
  static const pid_t self = getpid(); // a system call saved per file
  stem += std::to_string(self);
  stem += '.';
  // The run thread holds the signals back while it creates and records the
  // file; a worker has them blocked for good.
  std::optional<SignalsBlocked> blocked;
  if (creator == Creator::kRunThread) {
    blocked.emplace();
  }
  if (creator != Creator::kUnwatched) {
    slot_ = Claim(creator);
    if (slot_ < 0) {
      // A third file at once on the run thread (the writers never ask), or
      // more ahead than the workers' slots hold.
      error_ = EMFILE;
      return false;
    }
  }
  for (unsigned attempt = 0;; ++attempt) {
    temp_name_ = stem + std::to_string(attempt);
    Name(slot_, target_.dir.get(), temp_name_);
    // 0666 and the umask: the mode fopen "w" gives a new file.
    fd_.reset(openat(target_.dir.get(), temp_name_.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd_ || errno != EEXIST || attempt >= 1000) {
      break;
    }
  }
  if (!fd_) {
    error_ = errno;
    temp_name_.clear(); // not ours to remove
    Forget(slot_);
    return false;
  }
  Hold(slot_);
  // A replaced file keeps its mode, owner and group; a new one gets what
  // fopen "w" gives.
  if (target_.exists && S_ISREG(target_.mode) &&
      !TakeOwnerAndMode(fd_.get(), target_, creator)) {
    error_ = errno;
    Discard();
    return false;
  }
  return true;
}

bool ReplacementFile::Write(const char *data, size_t size) {
  while (size > 0 && error_ == 0) {
    const ssize_t done = ::write(fd_.get(), data, size);
    if (done < 0) {
      if (errno != EINTR) {
        error_ = errno;
      }
      continue;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return error_ == 0;
}

bool ReplacementFile::Close() {
  if (error_ == 0 && ::close(fd_.release()) != 0) {
    error_ = errno;
  }
  if (error_ != 0) {
    Discard();
    return false;
  }
  return true;
}

bool ReplacementFile::Rename() {
  if (renameat(target_.dir.get(), temp_name_.c_str(), target_.dir.get(),
               target_.leaf.c_str()) != 0) {
    error_ = errno;
    Discard();
    return false;
  }
  Forget(slot_);
  temp_name_.clear();
  return true;
}

bool ReplacementFile::Commit() {
  if (!Close()) {
    return false;
  }
  const SignalsBlocked blocked;
  return Rename();
}

void ReplacementFile::Discard() {
  fd_.reset();
  if (temp_name_.empty()) {
    return;
  }
  const SignalsBlocked blocked;
  unlinkat(target_.dir.get(), temp_name_.c_str(), 0);
  Forget(slot_);
  temp_name_.clear();
}

std::string ReplaceWholeFile(const std::string &path,
                             const std::function<bool(Sink &)> &write,
                             ReplacementFile::Creator creator) {
  KelTarget target = LocateFile(path);
  if (!target) {
    return std::strerror(target.problem.error);
  }
  const std::string existing = ExistingFileProblem(target);
  if (!existing.empty()) {
    return "it is " + existing;
  }
  ReplacementFile f(std::move(target));
  if (!f.Create(creator) || !write(f) || !f.Commit()) {
    return std::strerror(f.error());
  }
  return {};
}

Removal RemoveStaleFile(const KelTarget &target) {
  struct stat st {};
  if (fstatat(target.dir.get(), target.leaf.c_str(), &st,
              AT_SYMLINK_NOFOLLOW) != 0) {
    return Removal::kNothingThere;
  }
  if (!S_ISREG(st.st_mode) ||
      unlinkat(target.dir.get(), target.leaf.c_str(), 0) != 0) {
    return Removal::kFailed;
  }
  return Removal::kRemoved;
}
