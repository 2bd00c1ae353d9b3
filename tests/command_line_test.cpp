// The options of knotfit: what each rule lets through and what it refuses,
// with the message it gives.
#include "command_line.h"
#include "option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLine, EachRuleLetsThroughAndRefuses) {
  const struct {
    std::vector<const char *> args;
    std::string error; // empty: the run goes ahead
  } kCases[] = {
      // Columns are numbers from 1 of at most six digits, or header names of
      // any length; two at least, none empty.
      {{"--csv", "--columns=1,999999", "f"}, ""},
      {{"--csv", "--columns=temperature,pressure", "f"}, ""},
      {{"--csv", "--columns=1,1000000", "f"}, "option '--columns' needs X,Y"},
      {{"--csv", "--columns=0,2", "f"}, "option '--columns' needs X,Y"},
      {{"--csv", "--columns=1,000", "f"}, "option '--columns' needs X,Y"},
      {{"--csv", "--columns=3", "f"}, "option '--columns' needs X,Y"},
      {{"--csv", "--columns=a\x1b", "f"},
       "option '--columns' needs X,Y or "
       "X,Y1,Y2,...: column numbers (from 1) or header names, not 'a\\x1b'"},
      {{"--csv", "--columns=1,,2", "f"}, "option '--columns' needs X,Y"},
      {{"--columns=1,2", "f"}, "option '--columns' needs --csv"},
      {{"-j", "1024", "f"}, ""},
      // A shard is K/N, two integers, 0 <= K < N; standard input is no
      // shard's input.
      {{"--shard=3/4", "f"}, ""},
      {{"--shard=4/4", "f"}, "bad shard '4/4'"},
      {{"--shard=1/0", "f"}, "bad shard '1/0'"},
      {{"--shard=1", "f"}, "bad shard '1'"},
      {{"--shard=/4", "f"}, "bad shard '/4'"},
      {{"--shard=-1/4", "f"}, "bad shard '-1/4'"},
      {{"--shard=+1/4", "f"}, "bad shard '+1/4'"},
      {{"--shard=1/4/", "f"}, "bad shard '1/4/'"},
      {{"--shard=0/18446744073709551616", "f"}, "bad shard '0/1844"},
      {{"--shard=0/2", "f", "-"}, "option '--shard' does not read standard"},
      // Letters together, a value after the letter that takes one; a
      // switch takes no "=VALUE"; after "--" everything is a file.
      {{"-qj1025", "f"}, "bad number of threads '1025'"},
      {{"f", "--jobs", "1025"}, "bad number of threads '1025'"},
      {{"-qm"}, "option '-m' needs a method"},
      {{"--quiet=1", "f"}, "unknown option '--quiet=1'"},
      {{"--", "-q"}, ""},
      {{"--kel"}, "option '--kel' needs a value"},
      // The rule between options names the last one given.
      {{"--weights=2", "--lambda=1", "f"}, "option '--lambda' needs -m smooth"},
      {{"-j1025", "f"}, "bad number of threads '1025'"},
      // A bad value is named.
      {{"--ties=median", "f"},
       "option '--ties' needs mean, first or last, not 'median'"},
      {{"--missing", "drop", "f"}, "option '--missing' needs skip, not 'drop'"},
      {{"--tolerance=-1%", "f"},
       "option '--tolerance' needs E or E% (a number above 0), not '-1%'"},
      {{"--method=akima2", "f"},
       "unknown method 'akima2' (not-a-knot, natural, clamped[=D0,DN], "
       "periodic, pchip, akima, makima, steffen, smooth)"},
  };
  for (const auto &c : kCases) {
    std::vector<const char *> argv = {"knotfit"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const CommandLine line =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    const std::string error =
        line.action == CommandLine::Action::kError ? line.error : "";
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.args[0];
    EXPECT_EQ(error.empty(), c.error.empty()) << error;
  }
}

// A help made from a table is filled: as many words to a line as fit the
// width exactly, a longer word alone, runs of blanks as one.
TEST(CommandLine, MadeHelpFillsLines) {
  EXPECT_EQ(Filled("ab cd ef", 5), "ab cd\nef");
  EXPECT_EQ(Filled("ab cd ef", 4), "ab\ncd\nef");
  EXPECT_EQ(Filled(" abcdefg  h i ", 3), "abcdefg\nh i");
}

} // namespace
