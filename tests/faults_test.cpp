// Bad input and I/O faults, end to end: one clear message, nothing written
// for a data set that cannot be fitted, the run goes on, and the exit status
// tells.
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const char kCube[] = "0 0 1 1 2 8 3 27 4 64 NAME cube\n";

// Each bad data set is skipped with one line naming it and the rule; nothing
// is written for it and the good data set after it still is.
TEST(Faults, InvalidDataSetsAreSkipped) {
  const struct {
    const char *data_set;
    const char *message;
  } cases[] = {
      {"NAME empty",
       "knotfit: data set 'empty': 0 points, at least 2 needed; skipped\n"},
      {"5 5 NAME one",
       "knotfit: data set 'one': 1 point, at least 2 needed; skipped\n"},
      {"0 0 1 1 3 9 2.5 4 5 1 NAME order",
       "knotfit: data set 'order': x not increasing at point 3 (2.5 after 3); "
       "skipped\n"},
      {"0 0 1 1 1 2 3 3 NAME twice",
       "knotfit: data set 'twice': x not increasing at point 2 (1 after 1); "
       "skipped\n"},
      {"0 0 1 nan 2 1 3 3 NAME nan",
       "knotfit: data set 'nan': y of point 1 is not finite (nan); skipped\n"},
      {"0 0 1 1 1e999 2 3 3 NAME big",
       "knotfit: data set 'big': x of point 2 is not finite (inf); skipped\n"},
      {"-inf 0 1 1 2 2 3 3 NAME low",
       "knotfit: data set 'low': x of point 0 is not finite (-inf); skipped\n"},
      {"0 0 1 1 2 2 3 3 NAME ../up",
       "knotfit: data set '../up': name has a '..' component; skipped\n"},
      {"0 0 1 1 2 2 3 3 NAME plot/../cube",
       "knotfit: data set 'plot/../cube': name has a '..' component; "
       "skipped\n"},
      {"0 0 1 1 2 2 3 3 NAME ..",
       "knotfit: data set '..': name has a '..' component; skipped\n"},
  };
  for (const auto &tc : cases) {
    Job job(std::string(tc.data_set) + "\n" + kCube);
    const RunResult r = job.Run();
    EXPECT_EQ(r.status, 1) << tc.data_set;
    EXPECT_EQ(r.err, tc.message);
    EXPECT_NE(r.out.find("done\n"), std::string::npos);
    auto entries = [](const std::string &dir) {
      return std::distance(fs::directory_iterator(dir),
                           fs::directory_iterator());
    };
    EXPECT_EQ(entries(job.kel + "/CS"), 2) << tc.data_set; // cube, plot/
    EXPECT_EQ(entries(job.kel + "/CS/plot"), 1) << tc.data_set;
  }
}

// Two points give the line, three the parabola; both files are written.
TEST(Faults, ShortDataSetsFallBack) {
  Job job("0 0 2 4 NAME line\n-1 4 0 1 2 7 NAME parabola\n");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      ReadFile(job.kel + "/CS/line"),
      Bytes("00 00 00 02"
            " 40 00 00 00 40 80 00 00 40 00 00 00 00 00 00 00 00 00 00 00"
            " 00 00 00 00 00 00 00 00 40 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(
      ReadFile(job.kel + "/CS/parabola"),
      Bytes("00 00 00 03"
            " 40 00 00 00 40 e0 00 00 40 e0 00 00 00 00 00 00 00 00 00 00"
            " 00 00 00 00 3f 80 00 00 bf 80 00 00 40 00 00 00 00 00 00 00"
            " bf 80 00 00 40 80 00 00 c0 a0 00 00 40 00 00 00 00 00 00 00"));
  std::istringstream plot(ReadFile(job.kel + "/CS/plot/parabola"));
  size_t lines = 0;
  for (double t = 0, v = 0; plot >> t >> v; ++lines) {
    EXPECT_NEAR(v, (2 * t - 1) * t + 1, 1e-5) << t;
  }
  EXPECT_EQ(lines, 500u);
}

// Data that no fixed buffer limits: many points, a long token, echoed whole.
TEST(Faults, NoFixedLimits) {
  std::string input;
  for (int i = 0; i < 5000; ++i) {
    input += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
  }
  const std::string long_name(250, 'n'); // a file name holds 255
  const std::string long_number = "1." + std::string(100000, '0') + "1";
  input += "NAME many\n" + long_number + " 0 2 1 3 0 4 1 NAME " + long_name;
  Job job(input);
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(job.kel + "/CS/many").size(), 4u + 5000u * 20u);
  EXPECT_NE(r.out.find("read(0) : " + long_number + " \t 0\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("read(4999) : 4999 \t 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("read(4) : NAME \t " + long_name + "\n"),
            std::string::npos);
}

// Data that fails to reach a file, at a write or at the close, is a write
// failure: the message, status 1, no plot file after a failed table.
TEST(Faults, WriteFailures) {
  Job job(
      std::string("0 0 1 1 2 8 3 27 4 64 NAME t\n0 0 1 1 2 8 3 27 NAME p\n") +
      kCube);
  fs::create_symlink("/dev/full", job.kel + "/CS/t");
  fs::create_symlink("/dev/full", job.kel + "/CS/plot/p");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, ">>>>> writing error\n>>>>> writing error\n");
  EXPECT_FALSE(Exists(job.kel + "/CS/plot/t"));
  EXPECT_EQ(ReadFile(job.kel + "/CS/p").size(), 84u);
  EXPECT_EQ(ReadFile(job.kel + "/CS/cube").size(), 104u);
  // Tables t (failed) and p and cube (written): two traces complete.
  EXPECT_NE(r.out.find("done\n"), r.out.rfind("done\n"));
  EXPECT_EQ(r.out.find("done\n", r.out.find("done\n") + 1),
            r.out.rfind("done\n"));
}

TEST(Faults, StandardOutputFailures) {
  const struct {
    Stdout to;
    int status;
    const char *err;
  } cases[] = {
      {Stdout::kFull, 1,
       "knotfit: write error on standard output: No space left on device\n"},
      {Stdout::kClosed, 1,
       "knotfit: write error on standard output: Bad file descriptor\n"},
      {Stdout::kBrokenPipe, 128 + 13, ""}, // ended by SIGPIPE, quietly
  };
  std::string input;
  for (int i = 0; i < 20000; ++i) {
    input += std::to_string(i) + " " + std::to_string(i % 5) + "\n";
  }
  for (const auto &tc : cases) {
    Job job(input + "NAME big\n" + kCube);
    const RunResult r = job.Run(tc.to);
    EXPECT_EQ(r.status, tc.status);
    EXPECT_EQ(r.err, tc.err);
    if (tc.to == Stdout::kClosed) {
      // The echo must not have gone into a file opened on descriptor 1.
      EXPECT_EQ(ReadFile(job.kel + "/CS/cube").size(), 104u);
      EXPECT_EQ(ReadFile(job.kel + "/CS/big").size(), 4u + 20000u * 20u);
    }
  }
  // Only echo, in chunks too large to wait in a buffer: the reason is still
  // given, once.
  for (const auto &tc : cases) {
    if (tc.to == Stdout::kBrokenPipe) {
      continue;
    }
    Job job(input);
    const RunResult r = job.Run(tc.to);
    EXPECT_EQ(r.status, tc.status);
    EXPECT_EQ(
        r.err,
        std::string(tc.err) +
            "knotfit: 20000 points after the last NAME line not written\n");
  }
}

TEST(Faults, UnreadableInput) {
  ScratchDir dir;
  const RunResult r = RunKnotfit({dir.path()}, {"TROV_KEL=" + dir.path()});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "knotfit: error reading input file '" + dir.path() +
                       "': Is a directory\n");
}

// Points after the last NAME line, and an unpaired last token, are reported
// but change nothing else.
TEST(Faults, Leftovers) {
  const struct {
    const char *tail;
    const char *out_tail;
    const char *err;
  } cases[] = {
      {"7 8\n9 10\n", "read(0) : 7 \t 8\nread(1) : 9 \t 10\n",
       "knotfit: 2 points after the last NAME line not written\n"},
      {"7 8 9", "read(0) : 7 \t 8\n",
       "knotfit: 1 point after the last NAME line not written\n"
       "knotfit: unpaired token '9' at end of input ignored\n"},
      {"lonely", "",
       "knotfit: unpaired token 'lonely' at end of input ignored\n"},
  };
  for (const auto &tc : cases) {
    Job job(std::string(kCube) + tc.tail);
    const RunResult r = job.Run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, tc.err);
    const std::string tail = std::string("done\n") + tc.out_tail;
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  }
}

// A step that cannot move the abscissa fails the data set before its plot
// file is opened; the table was written; the run does not hang.
TEST(Faults, PlotStepThatCannotAdvance) {
  const struct {
    const char *data_set;
    const char *message;
  } cases[] = {
      {"1e15 0 1000000000000000.25 1 1000000000000000.5 0 1000000000000001 1 "
       "NAME p",
       "knotfit: data set 'p': plot step 0.0020000000949949026 does not "
       "advance x at 1e+15; no plot file written\n"},
      {"0 0 1e-44 1 2e-44 0 3e-44 1 NAME p",
       "knotfit: data set 'p': plot step 0 does not advance x at 0; no plot "
       "file written\n"},
  };
  for (const auto &tc : cases) {
    Job job(std::string(tc.data_set) + "\n" + kCube);
    const RunResult r = job.Run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, tc.message);
    EXPECT_EQ(ReadFile(job.kel + "/CS/p").size(), 84u);
    EXPECT_FALSE(Exists(job.kel + "/CS/plot/p"));
    EXPECT_TRUE(Exists(job.kel + "/CS/plot/cube"));
  }
}

} // namespace
