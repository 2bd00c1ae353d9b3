// End-to-end runs of the built knotfit in a scratch KEL directory: exact
// stdout, stderr, exit status and file bytes.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace {

const char kUsage[] =
    "\nusage : knotfit input_file\n"
    "\tInput_file is a textfile with x [tab] y entries that are \n"
    "\tnew line(\\n) terminated.\n"
    "\tAt the end of each data set the following token must be found\n"
    "\tNAME <outputfilename>\n"
    "\tThe data is required to be sorted from lowest to highest x in\n"
    "\tdescending order.\n"
    "\tNOTE: more than one data set can be written in an input file.\n\n"
    "\tAs a sample take a look at the file pdat in the maps directory.\n\n"
    "\tThe program assumes that the standard KEL path is available and\n"
    "\tthe subdirectories\n"
    "\t\tCS\n"
    "\t\tCS/plot\n"
    "\texist. This is not checked!\n\n";

const char kCubeInput[] = "0 0\n1 1\n2 8\n3 27\n4 64\nNAME cube\n";

const char kCubeEcho[] = "read(0) : 0 \t 0\n"
                         "read(1) : 1 \t 1\n"
                         "read(2) : 2 \t 8\n"
                         "read(3) : 3 \t 27\n"
                         "read(4) : 4 \t 64\n"
                         "read(5) : NAME \t cube\n";

const char kCubeTrace[] =
    " writing : \n"
    " \ttab(4.000000, 64.000000) -> a(48.000000) b(0.000000) c(0.000000)\n"
    "\ttab(3.000000, 27.000000) -> a(27.000000) b(9.000000) c(1.000000)\n"
    "\ttab(2.000000, 8.000000) -> a(12.000000) b(6.000000) c(1.000000)\n"
    "\ttab(1.000000, 1.000000) -> a(3.000000) b(3.000000) c(1.000000)\n"
    "\ttab(0.000000, 0.000000) -> a(0.000000) b(-0.000000) c(1.000000)\n"
    "done\n";

// 4 + 5 * 20 bytes, big-endian binary32, knot 4 first.
const char kCubeTable[] =
    "00 00 00 05"
    " 40 80 00 00 42 80 00 00 42 40 00 00 00 00 00 00 00 00 00 00"
    " 40 40 00 00 41 d8 00 00 41 d8 00 00 41 10 00 00 3f 80 00 00"
    " 40 00 00 00 41 00 00 00 41 40 00 00 40 c0 00 00 3f 80 00 00"
    " 3f 80 00 00 3f 80 00 00 40 40 00 00 40 40 00 00 3f 80 00 00"
    " 00 00 00 00 00 00 00 00 27 00 00 00 a7 40 00 00 3f 80 00 00";

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line + "\n");
  }
  return lines;
}

TEST(Cli, NoArgumentPrintsUsage) {
  const RunResult r = RunKnotfit({}, {});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kUsage);
}

// Asked for, the usage goes to standard output with status 0; any other
// first argument is an input path, even one that looks like an option.
TEST(Cli, HelpAndVersion) {
  const struct {
    const char *arg;
    const char *out;
  } cases[] = {
      {"--help", kUsage}, {"-h", kUsage}, {"--version", "knotfit 2.0.0\n"}};
  for (const auto &tc : cases) {
    const RunResult r = RunKnotfit({tc.arg}, {});
    EXPECT_EQ(r.status, 0) << tc.arg;
    EXPECT_EQ(r.out, tc.out) << tc.arg;
    EXPECT_EQ(r.err, "") << tc.arg;
  }
  Job job("");
  WriteFile(job.dir / "--help", kCubeInput);
  const RunResult r = RunKnotfit({job.dir / "--help"}, {"TROV_KEL=" + job.kel});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(job.Table("cube"), Bytes(kCubeTable));
}

TEST(Cli, MissingInputFile) {
  ScratchDir dir;
  const RunResult r = RunKnotfit({dir / "absent"}, {});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error opening input file : " + (dir / "absent"));
}

TEST(Cli, CubeGolden) {
  Job job(kCubeInput);
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kCubeEcho) + kCubeTrace);
  EXPECT_EQ(job.Table("cube"), Bytes(kCubeTable));

  const auto plot = Lines(job.Plot("cube"));
  ASSERT_EQ(plot.size(), 500u);
  EXPECT_EQ(plot.front(), "0.000000 \t 0.000000 \n");
  EXPECT_EQ(plot[125], "1.000000 \t 1.000000 \n");
  EXPECT_EQ(plot.back(), "3.992000 \t 63.616777 \n");
}

// Each line is "%f \t %f \n"; the count and the last abscissa come from the
// binary32 step and the running double sum.
TEST(Cli, PlotLineCounts) {
  const struct {
    const char *input;
    size_t lines;
    const char *last_abscissa;
  } cases[] = {
      {"0 0 0.25 1 0.5 0 1 1", 500, "0.998000"},
      {"0 0 1 1 2 8 3 27 4 64", 500, "3.992000"},
      {"0 1 3 2 6 0 10 5", 501, "10.000000"},
      {"-3 1 0 2 2 0 7.5 5", 501, "7.500000"},
      {"1e12 0 1000000000000.25 1 1000000000000.5 0 1000000000001 1", 513,
       nullptr},
      {"0 0 1e-43 1 5e-43 0 1e-42 1", 714, "0.000000"},
      {"0 0 1e40 1 1e41 0 1e42 1", 1, "0.000000"},
  };
  for (const auto &tc : cases) {
    Job job(std::string(tc.input) + " NAME p\n");
    const RunResult r = job.Run();
    EXPECT_EQ(r.status, 0) << tc.input;
    const auto plot = Lines(job.Plot("p"));
    ASSERT_EQ(plot.size(), tc.lines) << tc.input;
    if (tc.last_abscissa != nullptr) {
      EXPECT_EQ(plot.back().substr(0, plot.back().find(' ')), tc.last_abscissa)
          << tc.input;
    }
  }
}

// Token pairing follows token order, not lines; numbers follow atof.
TEST(Cli, TokensFollowAtof) {
  Job job("+2\t0x1p3\r\n\n  2.5abc   .5\n3 1e-400 7 Name\n"
          "NAME my file\n10 20 30\n40 50 60 70 NAME second\n");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string expected_echo = "read(0) : +2 \t 0x1p3\n"
                                    "read(1) : 2.5abc \t .5\n"
                                    "read(2) : 3 \t 1e-400\n"
                                    "read(3) : 7 \t Name\n"
                                    "read(4) : NAME \t my\n"
                                    " writing : \n"
                                    " \ttab(7.000000, 0.000000) ->";
  EXPECT_EQ(r.out.substr(0, expected_echo.size()), expected_echo);
  for (const char *knot :
       {"\ttab(3.000000, 0.000000) ->", "\ttab(2.500000, 0.500000) ->",
        "\ttab(2.000000, 8.000000) ->", "read(0) : file \t 10\n",
        "read(4) : NAME \t second\n", "\ttab(0.000000, 10.000000) ->"}) {
    EXPECT_NE(r.out.find(knot), std::string::npos) << knot;
  }
  EXPECT_EQ(job.Table("my").size(), 84u);
  EXPECT_EQ(job.Table("second").size(), 84u);
}

TEST(Cli, NoNameLineWritesNothing) {
  Job job("1 2\n3 4\n");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "read(0) : 1 \t 2\nread(1) : 3 \t 4\n");
  EXPECT_FALSE(Exists(job.kel + "/CS/1"));
}

// Several data sets in input order; a reused name overwrites the earlier
// files with the later data set's.
TEST(Cli, SeveralDataSetsAndAReusedName) {
  Job job("0 0 1 1 2 8 3 27 NAME a\n"
          "0 0 1 1 2 8 3 27 4 64 NAME cube\n"
          "0 0 1 1 2 8 3 27 4 64 5 125 NAME a\n");
  const RunResult r = job.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(job.Table("cube"), Bytes(kCubeTable));
  EXPECT_EQ(job.Table("a").size(), 4u + 6u * 20u);
  EXPECT_EQ(job.Table("a").substr(0, 8), Bytes("00 00 00 06 40 a0 00 00"));
  EXPECT_EQ(Lines(job.Plot("a")).size(), 501u);
  EXPECT_NE(r.out.find("read(4) : NAME \t a\n writing : \n \ttab(3.000000"),
            std::string::npos);
}

// Where the files go: TROV_KEL as given (a trailing slash is kept), else
// $HOME/.TROV_KEL; a "/" in a name reaches a subdirectory.
TEST(Cli, OutputLocations) {
  ScratchDir dir;
  WriteFile(dir / "in", kCubeInput);
  WriteFile(dir / "sub", "0 0 1 1 2 8 3 27 4 64 NAME deeper/cube\n");
  MakeKelTree(dir / "kel");
  MakeKelTree(dir / "home/.TROV_KEL");
  MakeKelTree(dir / "kel/CS/deeper");
  MakeKelTree(dir / "kel/CS/plot/deeper");
  const struct {
    const char *input;
    std::vector<std::string> env;
    std::string table;
  } cases[] = {
      {"in", {"TROV_KEL=" + (dir / "kel")}, dir / "kel/CS/cube"},
      {"in", {"TROV_KEL=" + (dir / "kel/")}, dir / "kel/CS/cube"},
      {"in", {"HOME=" + (dir / "home")}, dir / "home/.TROV_KEL/CS/cube"},
      {"in",
       {"HOME=" + (dir / "nowhere"), "TROV_KEL=" + (dir / "kel")},
       dir / "kel/CS/cube"},
      {"sub", {"TROV_KEL=" + (dir / "kel")}, dir / "kel/CS/deeper/cube"},
  };
  for (const auto &tc : cases) {
    std::remove(tc.table.c_str());
    const RunResult r = RunKnotfit({dir / tc.input}, tc.env);
    EXPECT_EQ(r.status, 0) << tc.table;
    EXPECT_EQ(ReadFile(tc.table), Bytes(kCubeTable)) << tc.table;
  }
}

// An output file that cannot be opened ends the run at once: 255 for the
// coefficient table, 254 for the plot file (the table stays). Everything
// echoed and traced before still reaches standard output.
TEST(Cli, UnopenableOutputEndsTheRun) {
  ScratchDir dir;
  WriteFile(dir / "in",
            std::string(kCubeInput) + "0 0 1 1 2 2 3 3 NAME next\n");
  MakeKelTree(dir / "full");
  std::filesystem::create_directories(dir / "noplot/CS");
  const struct {
    std::vector<std::string> env;
    int status;
    const char *err;
    std::string out;
  } cases[] = {
      {{}, 255, "knotfit(SaveKEL) error opening file\n", kCubeEcho},
      {{"TROV_KEL="}, 255, "knotfit(SaveKEL) error opening file\n", kCubeEcho},
      {{"TROV_KEL=" + (dir / "empty")},
       255,
       "knotfit(SaveKEL) error opening file\n",
       kCubeEcho},
      {{"TROV_KEL=" + (dir / "noplot")},
       254,
       "knotfit(SavePlotFile) error opening file\n",
       std::string(kCubeEcho) + kCubeTrace},
  };
  for (const auto &tc : cases) {
    const RunResult r = RunKnotfit({dir / "in"}, tc.env);
    EXPECT_EQ(r.status, tc.status);
    EXPECT_EQ(r.err, tc.err);
    EXPECT_EQ(r.out, tc.out);
  }
  EXPECT_EQ(ReadFile(dir / "noplot/CS/cube"), Bytes(kCubeTable));
  EXPECT_FALSE(Exists(dir / "noplot/CS/next"));
}

} // namespace
