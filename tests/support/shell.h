// Small helpers for tests that run the built program through a shell.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pellory::testing {

// `s` as one single-quoted shell word.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace pellory::testing
