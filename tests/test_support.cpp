#include "test_support.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "matrix/matrix.h"

std::string Cp1251(std::string_view utf8) {
  iconv_t converter = iconv_open("CP1251", "UTF-8");
  std::string in(utf8);
  std::string out(in.size(), '\0');
  char* in_at = in.data();
  char* out_at = out.data();
  size_t in_left = in.size();
  size_t out_left = out.size();
  const size_t converted = iconv(converter, &in_at, &in_left, &out_at, &out_left);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1)) {
    throw std::runtime_error("not convertible to CP1251");
  }
  out.resize(out.size() - out_left);
  return out;
}

std::string CapturedOutput(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::string WithoutSeconds(const std::string& report) {
  // Whole milliseconds: the last three decimals are always zero.
  static const std::regex seconds("= ( ?)[0-9]+\\.[0-9]{3}000 ");
  return std::regex_replace(report, seconds, "= $1S ");
}

void ResetWorkspace(int size) {
  std::memset(A, 0, sizeof(Matrix));
  std::memset(B, 0, sizeof(Matrix));
  std::memset(SerialResult, 0, sizeof(Matrix));
  std::memset(ParallelResult, 0, sizeof(Matrix));
  N = size;
}
