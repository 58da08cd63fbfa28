#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace mirel {

// Reads values from an INI text file: "[section]" lines and "key=value"
// lines. Section and key names match regardless of ASCII letter case; bytes
// of other code pages are compared and returned as they are. Blanks around
// names and values are dropped, as is one pair of matching quotes around a
// value; values are cut at 2047 bytes. When a section or a key appears more
// than once, the first one counts. The file is read again at each call, line
// by line, so a huge or binary file costs time but no memory.
class TIniFile {
public:
  static constexpr size_t MaxValueLength = 2047;

  explicit TIniFile(std::string fileName);
  const std::string &FileName() const { return fileName_; }

  std::string ReadString(const std::string &section, const std::string &key,
                         const std::string &defaultValue) const;
  // The value as a signed 32-bit number (decimal, or hexadecimal after "0x",
  // "0X" or "$"); the default when it is missing, empty or not such a number.
  int32_t ReadInteger(const std::string &section, const std::string &key,
                      int32_t defaultValue) const;

  // The value of the key in the section of the INI text read from the
  // stream, when there is one.
  static std::optional<std::string> FindValue(std::FILE *stream, const std::string &section,
                                              const std::string &key);

private:
  std::string fileName_;
};

// Parses a whole text as the integer forms above; false when it is not one.
bool ParseIniInteger(const std::string &text, int32_t &value);

} // namespace mirel
