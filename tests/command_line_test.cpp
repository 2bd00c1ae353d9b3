// The command line: several inputs, '-', '--', options, the help text, and
// the progress line, shown only on a terminal.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const char kCube[] = "0 0 1 1 2 8 3 27 4 64 NAME cube\n";
const char kLine[] = "0 0 2 4 NAME line\n";

TEST(CommandLine, Arguments) {
  Job job(kCube);
  WriteFile(job.dir / "line", kLine);
  WriteFile(job.dir / "rest", "7 8\n");
  const std::string env = "TROV_KEL=" + job.kel;
  const RunResult cube = job.Run(),
                  line = RunKnotfit({job.dir / "line"}, {env});
  const std::string tables = job.Table("cube") + job.Table("line");
  const std::string try_help = "Try 'knotfit --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{job.input, job.dir / "line"}, 0, cube.out + line.out, ""},
      {{"--", job.input}, 0, cube.out, ""},
      {{"-q", job.input, "--quiet", job.dir / "line"}, 0, "", ""},
      {{"-"}, 0, "", ""}, // standard input: /dev/null here
      {{job.dir / "rest", job.dir / "line"},
       1,
       "read(0) : 7 \t 8\n" + line.out,
       "knotfit: '" + job.dir / "rest" +
           "': 1 point after the last NAME line not written\n"},
      {{job.dir / "none", job.input},
       255,
       cube.out,
       "error opening input file : " + job.dir / "none" +
           "\nknotfit: cannot open '" + job.dir / "none" +
           "': No such file or directory\n"},
      {{"-x", job.input}, 255, "", "knotfit: unknown option '-x'\n" + try_help},
      {{"-q"}, 255, "", "knotfit: no input file\n" + try_help},
      {{"-m", "cubic", job.input},
       255,
       "",
       "knotfit: unknown method 'cubic' (not-a-knot, natural, "
       "clamped[=D0,DN], periodic, pchip, akima, makima, steffen)\n" +
           try_help},
      {{"-m", "pchip", "--method=steffen", job.input}, 0, "", ""}, // last
  };
  for (const auto &tc : cases) {
    const RunResult r = RunKnotfit(tc.args, {env});
    const std::string what = tc.args[0] + " " + tc.args.back();
    EXPECT_EQ(r.status, tc.status) << what;
    EXPECT_EQ(r.err, tc.err) << what;
    if (tc.args[0] != "-m") {
      EXPECT_EQ(r.out, tc.out) << what;
      // Leftovers never join the next file's data: line has 2 points.
      EXPECT_EQ(job.Table("cube") + job.Table("line"), tables) << what;
    }
  }
}

TEST(CommandLine, HelpAndVersion) {
  const RunResult help = RunKnotfit({"--help"}, {});
  EXPECT_EQ(help.status, 0);
  for (const char *part :
       {"Usage: knotfit [OPTION]... FILE...", "--method=NAME", "--quiet",
        "--no-progress", "--version", "TROV_KEL", "HOME", "CS/<name>",
        "CS/plot/<name>", "Exit status:", "255", "man knotfit"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  const RunResult version = RunKnotfit({"--version"}, {});
  EXPECT_EQ(version.out, "knotfit " KNOTFIT_VERSION "\nLicense: MIT\n");
}

// Standard error on a terminal, standard output to a file, the input fed
// through a FIFO with a pause: the progress line appears after a second,
// and is cleared at the end; never with --no-progress.
TEST(CommandLine, ProgressLineOnATerminal) {
  std::string points, more;
  for (int i = 0; i < 20000; ++i) {
    points += std::to_string(i) + " 1\n";
    more += std::to_string(i + 20000) + " 1\n";
  }
  for (const bool wanted : {true, false}) {
    Job job("");
    const std::string fifo = job.dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
      const int out = open((job.dir / "out").c_str(), O_WRONLY | O_CREAT, 0600);
      dup2(out, 1);
      const std::string kel = "TROV_KEL=" + job.kel;
      char *const envp[] = {const_cast<char *>(kel.c_str()), nullptr};
      execle(KNOTFIT_EXE, KNOTFIT_EXE, wanted ? "-q" : "--no-progress",
             fifo.c_str(), nullptr, envp);
      _exit(127);
    }
    std::thread feed([&] {
      const int in = open(fifo.c_str(), O_WRONLY);
      EXPECT_GT(write(in, points.data(), points.size()), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1300));
      EXPECT_GT(write(in, more.data(), more.size()), 0);
      EXPECT_GT(write(in, "NAME p\n", 7), 0);
      close(in);
    });
    std::string shown;
    char buf[4096];
    pollfd p{terminal, POLLIN, 0};
    ssize_t got = 0;
    while (poll(&p, 1, 20000) > 0 &&
           (got = read(terminal, buf, sizeof buf)) > 0) {
      shown.append(buf, static_cast<size_t>(got));
    }
    feed.join();
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (wanted) {
      EXPECT_EQ(shown.rfind("\rknotfit: ", 0), 0u) << shown;
      EXPECT_NE(shown.find("MB read, 0 data sets written"), std::string::npos);
      EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << shown;
    } else {
      EXPECT_EQ(shown, "");
    }
  }
}

} // namespace
