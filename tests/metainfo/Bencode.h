#pragma once

// A small bencode writer for building test metainfo byte for byte.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace mirel::test::bencode {

inline std::string I(std::int64_t v) {
  return "i" + std::to_string(v) + "e";
}
inline std::string S(const std::string &s) {
  return std::to_string(s.size()) + ":" + s;
}
inline std::string L(std::initializer_list<std::string> items) {
  std::string out = "l";
  for (const auto &i : items)
    out += i;
  return out + "e";
}
// Keys are written in the order given (not sorted), as raw data may be.
inline std::string D(std::initializer_list<std::pair<std::string, std::string>> entries) {
  std::string out = "d";
  for (const auto &[k, v] : entries)
    out += S(k) + v;
  return out + "e";
}

} // namespace mirel::test::bencode
