// An output file that replaces its target whole or not at all: written to a
// hidden temporary file in the target's directory and renamed over the
// target once every write and the close succeeded. Nothing is ever written
// through the target's path, so a link planted there is replaced, not
// followed, and a run stopped half-way leaves the previous file as it was.
#ifndef KNOTFIT_APP_REPLACEMENT_FILE_H
#define KNOTFIT_APP_REPLACEMENT_FILE_H

#include "kel_path.h"
#include "sink.h"
#include "unique_fd.h"

#include <cstddef>
#include <string>

class ReplacementFile final : public Sink {
public:
  // A file for the target; a target that could not be located gives a file
  // that is not open, with the target's problem kept for the message.
  explicit ReplacementFile(KelTarget target);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile &) = delete;
  ReplacementFile &operator=(const ReplacementFile &) = delete;

  // Creates the temporary file: ".<name> <pid>.<try>" (hidden, and with a
  // space, which no data set name has). A new file gets the mode fopen "w"
  // would give it, a replaced file keeps its mode. False when it cannot be
  // created; error() tells why.
  bool Create();
  bool Write(const char *data, size_t size) override;
  // Closes the temporary file and renames it over the target. On failure
  // the temporary file is removed and the target is left as it was.
  bool Commit();

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
  UniqueFd fd_;
  int error_ = 0;
};

// Removes the temporary file being written when SIGINT, SIGTERM, SIGHUP or
// SIGPIPE ends the run, then lets the signal end it. A signal the caller set
// to be ignored (nohup) stays ignored.
void RemoveTemporaryFileOnSignals();

// Removes the plain file at the target: an old plot file must not stay
// beside a new table it does not belong to.
enum class Removal { kNothingThere, kRemoved, kFailed };
Removal RemoveStaleFile(const KelTarget &target);

#endif
