#include "replacement_file.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 4> kCleanupSignals = {SIGINT, SIGTERM, SIGHUP,
                                                SIGPIPE};

// The temporary file being written, for the signal handler: the one mutable
// global of the program. It is only set and cleared with the cleanup signals
// blocked, so the handler never sees half a record.
struct PendingTemporary {
  volatile sig_atomic_t active = 0;
  int dir = -1;
  char name[NAME_MAX + 1] = {};
};
PendingTemporary g_pending; // NOLINT: read by the signal handler

extern "C" void RemovePendingAndDie(int signal_number) {
  if (g_pending.active != 0) {
    unlinkat(g_pending.dir, g_pending.name, 0); // async-signal-safe
  }
  // SA_RESETHAND restored the default action; the signal is blocked while
  // this handler runs and ends the process as soon as it returns.
  raise(signal_number);
}

// Blocks the cleanup signals for its lifetime.
class SignalsBlocked {
public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kCleanupSignals) {
      sigaddset(&set, s);
    }
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked &) = delete;
  SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
  sigset_t saved_{};
};

// The mode a new file gets from open(..., 0666): 0666 less the umask, which
// can only be read by setting it.
unsigned DefaultMode() {
  static const unsigned mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
  }();
  return mode;
}

} // namespace

void RemoveTemporaryFileOnSignals() {
  for (const int s : kCleanupSignals) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
      continue; // nohup and friends: stays ignored
    }
    struct sigaction action {};
    action.sa_handler = RemovePendingAndDie;
    sigemptyset(&action.sa_mask);
    for (const int other : kCleanupSignals) {
      sigaddset(&action.sa_mask, other);
    }
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigaction(s, &action, nullptr);
  }
}

ReplacementFile::ReplacementFile(KelTarget target)
    : target_(std::move(target)) {}

ReplacementFile::~ReplacementFile() {
  Discard();
}

bool ReplacementFile::Create() {
  if (!target_) {
    return false;
  }
  had_previous_ = target_.exists;
  // A replaced file keeps its mode; a new one gets what fopen "w" gives.
  const bool keep_mode = target_.exists && S_ISREG(target_.mode) &&
                         (target_.mode & 07777) != DefaultMode();
  // The name part is cut so that the temporary name fits a file name too.
  std::string stem = ".";
  stem += target_.leaf.substr(0, NAME_MAX - 32);
  stem += ' ';
  static const pid_t self = getpid(); // a system call saved per file
  stem += std::to_string(self);
  stem += '.';
  const SignalsBlocked blocked;
  for (unsigned attempt = 0;; ++attempt) {
    temp_name_ = stem + std::to_string(attempt);
    // 0666 and the umask: the mode fopen "w" gives a new file.
    fd_.reset(openat(target_.dir.get(), temp_name_.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd_ || errno != EEXIST || attempt >= 1000) {
      break;
    }
  }
  if (!fd_) {
    error_ = errno;
    return false;
  }
  std::memcpy(g_pending.name, temp_name_.c_str(), temp_name_.size() + 1);
  g_pending.dir = target_.dir.get();
  g_pending.active = 1;
  if (keep_mode && fchmod(fd_.get(), target_.mode & 07777) != 0) {
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

bool ReplacementFile::Commit() {
  if (error_ == 0 && ::close(fd_.release()) != 0) {
    error_ = errno;
  }
  if (error_ != 0) {
    Discard();
    return false;
  }
  const SignalsBlocked blocked;
  if (renameat(target_.dir.get(), temp_name_.c_str(), target_.dir.get(),
               target_.leaf.c_str()) != 0) {
    error_ = errno;
    Discard();
    return false;
  }
  g_pending.active = 0;
  temp_name_.clear();
  return true;
}

void ReplacementFile::Discard() {
  fd_.reset();
  if (temp_name_.empty()) {
    return;
  }
  const SignalsBlocked blocked;
  unlinkat(target_.dir.get(), temp_name_.c_str(), 0);
  g_pending.active = 0;
  temp_name_.clear();
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
