// Helpers for the end-to-end tests: a scratch KEL directory and a run of the
// built knotfit with a timeout.
#ifndef KNOTFIT_TEST_SUPPORT_H
#define KNOTFIT_TEST_SUPPORT_H

#include <string>
#include <utility>
#include <vector>

// A fresh directory under the system's temporary directory, removed with all
// its contents when the object goes.
class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  // path()/relative
  std::string operator/(const std::string &relative) const;

private:
  std::string path_;
};

struct RunResult {
  int status = -1; // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Where the run's standard output goes: captured into RunResult::out, a
// full device, a closed descriptor, or a pipe whose reader has already left.
enum class Stdout { kCapture, kFull, kClosed, kBrokenPipe };

// Runs the built knotfit with the given arguments and exactly the given
// environment ("NAME=value" entries), standard input from /dev/null, in the
// directory cwd (empty: this process's). Kills it and fails the test after
// timeout_s seconds.
RunResult RunKnotfit(const std::vector<std::string> &args,
                     const std::vector<std::string> &env,
                     Stdout stdout_to = Stdout::kCapture, int timeout_s = 60,
                     const std::string &cwd = {});

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
bool Exists(const std::string &path);

// A KEL tree with CS and CS/plot, ready for a run.
void MakeKelTree(const std::string &kel);

// A scratch KEL tree with CS and CS/plot, and an input file beside it.
struct Job {
  ScratchDir dir;
  std::string kel = dir / "kel";
  std::string input = dir / "input";
  explicit Job(const std::string &text);
  // knotfit on the input with TROV_KEL set to the tree, nothing else.
  RunResult Run(Stdout to = Stdout::kCapture) const;
  std::string Table(const std::string &name) const; // CS/<name>
  std::string Plot(const std::string &name) const;  // CS/plot/<name>
};

// "00 01 ff" -> bytes
std::string Bytes(const std::string &hex);

#endif
