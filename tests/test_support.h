// Small helpers of the GoogleTest suites: files and bytes, and fits whose
// abscissas binary32 cannot hold.
#ifndef KNOTFIT_TEST_SUPPORT_H
#define KNOTFIT_TEST_SUPPORT_H

#include "knotfit/spline.hpp"

#include <string>

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);

// "00 01 ff" -> bytes; "#" starts a comment to the end of its line
std::string Bytes(const std::string &hex);

// 500 steps of 60 s from 1.7e9 (epoch seconds; 128 apart in binary32), a
// daily and an hourly cycle; 40 years of months in decimal years from 1980,
// a rise and a season, as a CO2 record.
knotfit::Spline EpochSeconds();
knotfit::Spline DecimalYears();

#endif
