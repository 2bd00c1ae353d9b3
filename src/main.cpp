// knotfit input_file: fits every data set of the input and writes its files.
#include "knotfit.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void PrintUsage() {
  static const char *const kRows[] = {
      "\nusage : knotfit input_file\n",
      "\tInput_file is a textfile with x [tab] y entries that are \n",
      "\tnew line(\\n) terminated.\n",
      "\tAt the end of each data set the following token must be found\n",
      "\tNAME <outputfilename>\n",
      "\tThe data is required to be sorted from lowest to highest x in\n",
      "\tdescending order.\n",
      "\tNOTE: more than one data set can be written in an input file.\n\n",
      "\tAs a sample take a look at the file pdat in the maps directory.\n\n",
      "\tThe program assumes that the standard KEL path is available and\n",
      "\tthe subdirectories\n",
      "\t\tCS\n",
      "\t\tCS/plot\n",
      "\texist. This is not checked!\n\n",
  };
  for (const char *row : kRows) {
    std::fputs(row, stderr);
  }
}

// Reads the next whitespace-delimited token of any length; false at end of
// input.
bool ReadToken(std::FILE *in, std::string &token) {
  token.clear();
  int ch = std::getc(in);
  while (ch != EOF && std::isspace(ch)) {
    ch = std::getc(in);
  }
  while (ch != EOF && !std::isspace(ch)) {
    token.push_back(static_cast<char>(ch));
    ch = std::getc(in);
  }
  return !token.empty();
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintUsage();
    return 255;
  }
  std::FILE *in = std::fopen(argv[1], "r");
  if (in == nullptr) {
    std::fprintf(stderr, "error opening input file : %s", argv[1]);
    return 255;
  }
  std::vector<double> x;
  std::vector<double> y;
  std::string first;
  std::string second;
  while (ReadToken(in, first) && ReadToken(in, second)) {
    std::printf("read(%d) : %s \t %s\n", static_cast<int>(x.size()),
                first.c_str(), second.c_str());
    if (first == "NAME") {
      GenerateCubicSpline(static_cast<int32_t>(x.size()), x.data(), y.data(),
                          second.c_str());
      x.clear();
      y.clear();
    } else {
      x.push_back(std::atof(first.c_str()));
      y.push_back(std::atof(second.c_str()));
    }
  }
  std::fclose(in);
  return 0;
}
