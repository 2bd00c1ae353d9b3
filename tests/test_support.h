// Small helpers of the GoogleTest suites: files and bytes.
#ifndef KNOTFIT_TEST_SUPPORT_H
#define KNOTFIT_TEST_SUPPORT_H

#include <string>

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);

// "00 01 ff" -> bytes; "#" starts a comment to the end of its line
std::string Bytes(const std::string &hex);

#endif
