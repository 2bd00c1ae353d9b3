#include "test_support.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

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

knotfit::Spline EpochSeconds() {
  std::vector<double> x, y;
  for (int k = 0; k <= 500; ++k) {
    x.push_back(1.7e9 + 60.0 * k);
    y.push_back(15 + 8 * std::sin(2 * M_PI * k / 1440) +
                0.5 * std::sin(2 * M_PI * k / 60));
  }
  return knotfit::fit(x, y);
}

knotfit::Spline DecimalYears() {
  std::vector<double> x, y;
  for (int k = 0; k < 480; ++k) {
    const double years = k / 12.0;
    x.push_back(1980 + years);
    y.push_back(338 + 1.5 * years + 0.012 * years * years +
                3 * std::sin(2 * M_PI * (years + 0.3)));
  }
  return knotfit::fit(x, y);
}
