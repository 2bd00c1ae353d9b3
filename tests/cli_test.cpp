// Plays every case of tests/data/cases (its README gives the format) through
// the built knotfit: exact stdout, stderr, exit status and files.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The case's file as lines, or the default when the case has no such file.
std::vector<std::string> LinesOr(const fs::path &file,
                                 std::vector<std::string> fallback) {
  return fs::exists(file) ? Lines(ReadFile(file)) : fallback;
}

// Every file and link under root, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path &root) {
  std::set<std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_directory() || entry.is_symlink()) {
      files.insert(fs::relative(entry.path(), root));
    }
  }
  return files;
}

// The bytes as hex, eight digits (one binary32 field) to a line, so that a
// failure shows the field that differs.
std::string Hex(const std::string &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    hex += {kDigits[byte >> 4], kDigits[byte & 15]};
    hex += i % 4 == 3 ? "\n" : "";
  }
  return hex;
}

// The bytes a .hex file gives: its hex digits outside '#' comments.
std::string FromHex(const std::string &text) {
  std::string bytes;
  std::string digits;
  for (const std::string &line : Lines(text)) {
    for (const char ch : line.substr(0, line.find('#'))) {
      if (std::isxdigit(static_cast<unsigned char>(ch))) {
        digits.push_back(ch);
      }
      if (digits.size() == 2) {
        bytes.push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
        digits.clear();
      }
    }
  }
  return bytes;
}

// The file that the expect/ entry rel describes.
std::string Target(const std::string &rel) {
  const fs::path ext = fs::path(rel).extension();
  return ext == ".hex" || ext == ".lines" ? fs::path(rel).replace_extension()
                                          : fs::path(rel);
}

// Checks the file of the run that the expect/ entry rel describes.
void CheckFile(const fs::path &expect, const std::string &rel,
               const fs::path &work) {
  const std::string want = ReadFile(expect / rel);
  const fs::path ext = fs::path(rel).extension();
  const std::string target = Target(rel);
  const std::string got = ReadFile(work / target);
  EXPECT_TRUE(fs::exists(work / target)) << target << " was not written";
  if (ext == ".hex") {
    EXPECT_EQ(Hex(got), Hex(FromHex(want))) << target;
  } else if (ext == ".lines") {
    const std::vector<std::string> lines = Lines(got), excerpt = Lines(want);
    ASSERT_FALSE(excerpt.empty()) << rel;
    EXPECT_EQ(std::to_string(lines.size()), excerpt[0]) << target << " lines";
    for (size_t i = 1; i < excerpt.size(); ++i) {
      const size_t colon = excerpt[i].find(':');
      const size_t number = std::stoul(excerpt[i].substr(0, colon));
      ASSERT_TRUE(number >= 1 && number <= lines.size())
          << target << excerpt[i];
      EXPECT_EQ(lines[number - 1], excerpt[i].substr(colon + 1)) << target;
    }
  } else {
    EXPECT_EQ(got, want) << target;
  }
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(KNOTFIT_CASES)) {
    if (entry.is_directory()) {
      names.push_back(entry.path().filename());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Cases : public testing::TestWithParam<std::string> {};

TEST_P(Cases, Run) {
  const fs::path dir = fs::path(KNOTFIT_CASES) / GetParam();
  const ScratchDir scratch;
  const fs::path work = scratch.path();
  if (fs::exists(dir / "input")) {
    fs::copy_file(dir / "input", work / "input");
  }
  Stdout to = Stdout::kCapture;
  for (const std::string &step :
       LinesOr(dir / "setup", {"mkdir kel/CS/plot"})) {
    std::istringstream words(step);
    std::string op, a, b;
    words >> op >> a >> b;
    if (op == "mkdir") {
      fs::create_directories(work / a);
    } else if (op == "symlink") {
      fs::create_symlink(a, work / b);
    } else if (op == "copy") {
      fs::copy_file(dir / a, work / b);
    } else if (op == "stdout" && a == "full") {
      to = Stdout::kFull;
    } else if (op == "stdout" && a == "closed") {
      to = Stdout::kClosed;
    } else if (op == "stdout" && a == "broken-pipe") {
      to = Stdout::kBrokenPipe;
    } else if (!op.empty()) {
      FAIL() << "unknown setup step: " << step;
    }
  }
  const std::set<std::string> before = FilesUnder(work);

  const RunResult r =
      RunKnotfit(LinesOr(dir / "args", {"input"}),
                 LinesOr(dir / "env", {"TROV_KEL=kel"}), to, 60, work);
  EXPECT_EQ(r.out, ReadFile(dir / "stdout"));
  EXPECT_EQ(r.err, ReadFile(dir / "stderr"));
  EXPECT_EQ(r.status, fs::exists(dir / "status")
                          ? std::stoi(ReadFile(dir / "status"))
                          : 0);

  std::set<std::string> expected;
  if (fs::exists(dir / "expect")) {
    for (const std::string &rel : FilesUnder(dir / "expect")) {
      CheckFile(dir / "expect", rel, work);
      expected.insert(Target(rel));
    }
  }
  for (const std::string &file : FilesUnder(work)) {
    EXPECT_TRUE(before.count(file) != 0 || expected.count(file) != 0)
        << file << " written but not expected";
  }
}

// A test name holds letters, digits and '_' only.
std::string TestName(const testing::TestParamInfo<std::string> &param) {
  std::string name = param.param;
  std::replace_if(
      name.begin(), name.end(),
      [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); },
      '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Golden, Cases, testing::ValuesIn(CaseNames()),
                         TestName);

} // namespace
