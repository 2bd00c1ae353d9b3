#include "test_support.h"

#include <fstream>
#include <sstream>

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string Bytes(const std::string &hex) {
  std::string out;
  std::istringstream lines(hex);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line.substr(0, line.find('#')));
    for (std::string byte; in >> byte;) {
      out.push_back(static_cast<char>(std::stoul(byte, nullptr, 16)));
    }
  }
  return out;
}
