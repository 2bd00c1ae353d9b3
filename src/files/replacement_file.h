// An output file that replaces its target whole or not at all: written to a
// hidden temporary file in the target's directory and renamed over the
// target once every write and the close succeeded. Nothing is ever written
// through the target's path, so a link planted there is replaced, not
// followed, and a run stopped half-way leaves the previous file as it was.
#ifndef KNOTFIT_FILES_REPLACEMENT_FILE_H
#define KNOTFIT_FILES_REPLACEMENT_FILE_H

#include "kel_path.h"
#include "sink.h"
#include "unique_fd.h"

#include <csignal>
#include <cstddef>
#include <functional>
#include <string>

// How many temporary files the worker threads may hold at once.
constexpr int kMaxFilesAhead = 128;

class ReplacementFile final : public Sink {
public:
  // A file for the target; a target that could not be located gives a file
  // that is not open, with the target's problem kept for the message.
  explicit ReplacementFile(KelTarget target);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile &) = delete;
  ReplacementFile &operator=(const ReplacementFile &) = delete;

  // Which thread creates the file: the run's own, which handles the
  // signals, or a worker that writes a data set's files ahead (-j). Each
  // has its own slots for the signal handler; a worker finds none free
  // (EMFILE) when more than kMaxFilesAhead files are ahead at once. A
  // process without the program's signal handler (the Python module, on
  // any number of threads) takes no slot: kUnwatched.
  enum class Creator { kRunThread, kWorker, kUnwatched };

  // Creates the temporary file: ".<name> <pid>.<try>" (hidden, and with a
  // space, which no data set name has). A new file gets the mode fopen "w"
  // would give it; a replaced file keeps its mode (without set-user-ID and
  // set-group-ID) and, as far as the process may give them, its owner and
  // group. False when it cannot be created; error() tells why.
  bool Create(Creator creator = Creator::kRunThread);
  bool Write(const char *data, size_t size) override;
  // Closes the temporary file and renames it over the target. On failure
  // the temporary file is removed and the target is left as it was.
  bool Commit();
  // Commit in two steps, for files that must change together: Close ends
  // the writing (the file is complete and waits), Rename puts it in place,
  // called with the signals blocked.
  bool Close();
  bool Rename();

  bool is_open() const { return static_cast<bool>(fd_); }
  // Why the file could not be located or created; kind kNone with error()
  // set when the creation itself failed.
  const KelProblem &problem() const { return target_.problem; }
  int error() const { return error_; }
  const std::string &path() const { return target_.path; }
  const KelTarget &target() const { return target_; }
  // Whether a file stood at the target when this one was created.
  bool had_previous() const { return had_previous_; }

private:
  void Discard();

  KelTarget target_;
  bool had_previous_ = false;
  std::string temp_name_;
  int slot_ = -1; // where the signal handler finds the temporary file
  UniqueFd fd_;
  int error_ = 0;
};

// Blocks, for its lifetime, the signals whose handler removes the temporary
// files: what is done meanwhile (a rename, the two renames of a data set) is
// done whole before a signal can end the run.
class SignalsBlocked {
public:
  SignalsBlocked();
  ~SignalsBlocked();
  SignalsBlocked(const SignalsBlocked &) = delete;
  SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
  sigset_t saved_{};
};

// Removes the temporary files being written when a signal ends the run (any
// whose default action ends the process, but SIGKILL, SIGSTOP and the
// faults), then lets the signal end it; those of worker threads too, which
// never handle these signals themselves. A signal the caller set to be
// ignored (nohup) stays ignored. Called before any other thread starts.
void RemoveTemporaryFileOnSignals();

// Writes the file at path whole: its directory opened (links followed, as
// the user named it), anything at path but a plain file the process may
// write refused (a link is not followed), write(file) fills the temporary
// file, which then replaces path. Empty on success, else why not: "it is a
// symbolic link", or the system's message.
std::string ReplaceWholeFile(
    const std::string &path, const std::function<bool(Sink &)> &write,
    ReplacementFile::Creator creator = ReplacementFile::Creator::kRunThread);

// Removes the plain file at the target: an old plot file must not stay
// beside a new table it does not belong to.
enum class Removal { kNothingThere, kRemoved, kFailed };
Removal RemoveStaleFile(const KelTarget &target);

#endif
