// Every output file is whole or untouched: atomic replacement, no writing
// through links or into non-files, binary32 guards, failures that say so.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char kCube[] = "0 0 1 1 2 8 3 27 4 64 NAME cube\n";

// A data set of n points named name, on y = i % 7.
std::string Points(int n, const std::string &name, int offset = 0) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    text += std::to_string(i) + " " + std::to_string((i + offset) % 7) + "\n";
  }
  return text + "NAME " + name + "\n";
}

// Hidden temporary files left in a directory.
int Leftovers(const std::string &dir) {
  int count = 0;
  for (const auto &e : fs::directory_iterator(dir)) {
    count += e.path().filename().string()[0] == '.';
  }
  return count;
}

// knotfit on input with its standard output on a pipe the test reads at its
// own pace, and a file size limit (SIGXFSZ ignored: a write fails EFBIG).
class Started {
public:
  Started(const Job &job, const std::string &input, int resource = RLIMIT_FSIZE,
          rlim_t limit = RLIM_INFINITY) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_ = fork();
    if (pid_ == 0) {
      const rlimit lowered{limit, limit};
      setrlimit(resource, &lowered);
      signal(SIGXFSZ, SIG_IGN);
      dup2(fds[1], 1);
      const int err = open((job.dir / "stderr").c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, 2);
      close(fds[0]);
      const std::string kel = "TROV_KEL=" + job.kel;
      char *const envp[] = {const_cast<char *>(kel.c_str()), nullptr};
      execle(KNOTFIT_EXE, KNOTFIT_EXE, input.c_str(), nullptr, envp);
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Started() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  // Reads standard output until text has appeared (false at its end). Only
  // a tail is kept: the whole trace of a long table is many megabytes.
  bool ReadUntil(const std::string &text) {
    char buf[65536];
    while (tail_.find(text) == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) {
        ADD_FAILURE() << "no output for 20 s";
        return false;
      }
      const ssize_t got = read(out_, buf, sizeof buf);
      if (got <= 0) {
        return false;
      }
      tail_.erase(0,
                  tail_.size() > text.size() ? tail_.size() - text.size() : 0);
      tail_.append(buf, static_cast<size_t>(got));
    }
    return true;
  }
  int Signal(int s) {
    kill(pid_, s);
    return Wait();
  }
  int Finish() {
    ReadUntil("\x01never");
    return Wait();
  }

private:
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    close(out_);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid_ = -1;
  int out_ = -1;
  std::string tail_;
};

// A run stopped in the middle of a table, by a signal or by a full disk,
// leaves the previous table and plot byte for byte and no temporary file.
TEST(Trust, InterruptedWritesKeepThePreviousFiles) {
  Job job(Points(200000, "big"));
  ASSERT_EQ(job.Run().status, 0);
  const std::string table = job.Table("big"), plot = job.Plot("big");
  WriteFile(job.dir / "second", Points(200000, "big", 3));
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGKILL}) {
    Started run(job, job.dir / "second");
    ASSERT_TRUE(run.ReadUntil(" writing : \n"));
    EXPECT_EQ(run.Signal(sig), 128 + sig);
    EXPECT_EQ(job.Table("big"), table) << sig;
    EXPECT_EQ(job.Plot("big"), plot) << sig;
    if (sig != SIGKILL) {
      EXPECT_EQ(Leftovers(job.kel + "/CS"), 0) << sig;
    }
  }
  for (const auto &e : fs::directory_iterator(job.kel + "/CS")) {
    if (e.path().filename().string()[0] == '.') {
      fs::remove(e.path()); // what SIGKILL left: hidden, never the table
    }
  }
  Started full(job, job.dir / "second", RLIMIT_FSIZE, 100000);
  EXPECT_EQ(full.Finish(), 1);
  EXPECT_EQ(job.Table("big"), table);
  EXPECT_EQ(ReadFile(job.dir / "stderr"),
            ">>>>> writing error\nknotfit: data set 'big': cannot write '" +
                job.kel + "/CS/big': File too large; previous file kept\n");
  EXPECT_EQ(Leftovers(job.kel + "/CS"), 0);
}

// Two runs on the same name: the table is whole, the later rename's.
TEST(Trust, ConcurrentRunsLeaveWholeFiles) {
  Job job(Points(200000, "same", 5));
  ASSERT_EQ(job.Run().status, 0);
  const std::string last = job.Table("same");
  WriteFile(job.dir / "other", Points(100, "same"));
  Started slow(job, job.input);
  ASSERT_TRUE(slow.ReadUntil(" writing : \n")); // frozen in the table
  EXPECT_EQ(RunKnotfit({job.dir / "other"}, {"TROV_KEL=" + job.kel}).status, 0);
  EXPECT_EQ(job.Table("same").size(), 4u + 100u * 20u);
  EXPECT_EQ(slow.Finish(), 0);
  EXPECT_EQ(job.Table("same"), last);
}

// What stands at a target, or on the way to it, that must not be written
// through: the data set is skipped, nothing changes, no trace is printed.
TEST(Trust, TargetsThatAreNotPlainFiles) {
  const struct {
    const char *setup; // link, dir, fifo, sublink, plotdir, readonly
    const char *name;
    const char *shown; // the path named in the message, below the KEL path
    const char *what;
  } cases[] = {
      {"link", "x", "CS/x", "is a symbolic link"},
      {"plotlink", "x", "CS/plot/x", "is a symbolic link"},
      {"dir", "x", "CS/x", "is a directory"},
      {"fifo", "x", "CS/x", "is a FIFO"},
      {"readonly", "x", "CS/x", "is a file you may not write"},
      {"sublink", "sub/x", "CS/sub", "is a symbolic link"},
      {"none", "missing/x", "CS/missing",
       "cannot open directory '%': No such file or directory"},
  };
  for (const auto &tc : cases) {
    const std::string setup = tc.setup;
    if (setup == "readonly" && geteuid() == 0) {
      continue; // root may write anything
    }
    Job job(std::string("0 0 1 1 2 2 3 3 NAME ") + tc.name + "\n" + kCube);
    WriteFile(job.dir / "victim", "keep");
    const std::string at = job.kel + "/" + tc.shown;
    if (setup == "link" || setup == "plotlink" || setup == "sublink") {
      fs::create_symlink(
          setup == "sublink" ? job.dir.path() : job.dir / "victim", at);
    } else if (setup == "dir") {
      fs::create_directory(at);
    } else if (setup == "fifo") {
      mkfifo(at.c_str(), 0600);
    } else if (setup == "readonly") {
      WriteFile(at, "keep");
      chmod(at.c_str(), 0444);
    }
    const RunResult r = job.Run();
    std::string what = tc.what;
    if (what.find('%') != std::string::npos) {
      what.replace(what.find('%'), 1, at);
    } else {
      what = "'" + at + "' " + what;
    }
    EXPECT_EQ(r.status, 1) << setup;
    EXPECT_EQ(r.err, "knotfit: data set '" + std::string(tc.name) +
                         "': " + what + "; skipped\n");
    EXPECT_EQ(r.out.find("tab(3.000000, 3.000000)"), std::string::npos);
    EXPECT_EQ(ReadFile(job.dir / "victim"), "keep");
    EXPECT_FALSE(Exists(job.kel + "/CS/plot/x") && setup != "plotlink");
    EXPECT_EQ(job.Table("cube").size(), 104u) << setup;
  }
}

// Names that can never be written, values binary32 cannot hold, input read
// but never written: each spoils only itself, and the run says so.
TEST(Trust, DataSetRules) {
  Job job(ReadFile(KNOTFIT_DATA "/trust/rules.in"));
  fs::create_directories(job.kel + "/CS/plot/a");
  fs::create_directories(job.kel + "/CS/a");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, ReadFile(KNOTFIT_DATA "/trust/rules.err"));
  std::vector<std::string> written;
  for (const auto &e : fs::recursive_directory_iterator(job.kel + "/CS")) {
    if (e.is_regular_file()) {
      written.push_back(e.path().string().substr(job.kel.size() + 4));
    }
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{
                         "a/b", "a/c", "d", "epoch", "plot/a/b", "plot/a/c",
                         "plot/d", "plot/epoch", "plot/wide", "wide"}));
}

// A new table whose plot cannot be written takes the old plot file away.
TEST(Trust, NoStalePlotBesideANewTable) {
  Job job("0 0 1 1 2 8 3 27 NAME p\n");
  ASSERT_EQ(job.Run().status, 0);
  chmod((job.kel + "/CS/p").c_str(), 0640); // a replaced file keeps its mode
  WriteFile(job.input, "1e15 0 1000000000000000.25 1 1000000000000000.5 0 "
                       "1000000000000001 1 NAME p\n");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("; no plot file written, old plot file removed\n"),
            std::string::npos);
  EXPECT_EQ(job.Table("p").size(), 84u);
  struct stat st {};
  stat((job.kel + "/CS/p").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_FALSE(Exists(job.kel + "/CS/plot/p"));
}

// Running out of memory is a message and status 255, never an abort.
TEST(Trust, OutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space";
#endif
  Job job(kCube);
  Started run(job, "/dev/zero", RLIMIT_AS, rlim_t{256} << 20);
  EXPECT_EQ(run.Finish(), 255);
  EXPECT_EQ(ReadFile(job.dir / "stderr"),
            "knotfit: out of memory; run ended\n");
}

TEST(Trust, MissingInputNamesTheReason) {
  const RunResult r = RunKnotfit({"/nonexistent/in\x01"}, {});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "error opening input file : /nonexistent/in\\x01\n"
                   "knotfit: cannot open '/nonexistent/in\\x01': No such "
                   "file or directory\n");
}

} // namespace
