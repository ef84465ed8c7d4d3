#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "base/result.h"

namespace quillane::test {

inline std::string vectors_path(const std::string& rel) { return std::string(QUILLANE_VECTORS_DIR) + "/" + rel; }

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

template <typename R>
std::string error_of(const R& result) {
  EXPECT_FALSE(result.ok());
  return result.ok() ? std::string("<no error>") : result.error().message;
}

}  // namespace quillane::test
