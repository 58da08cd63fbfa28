#include "IniFile.h"

#include <cstring>
#include <memory>
#include <string_view>

namespace mirel {

namespace {

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};

// Longer lines are cut: nothing past this can matter for a name or for a
// value that is cut at 2047 bytes anyway.
constexpr size_t kMaxLine = 64 * 1024;

// Reads lines (LF or CR LF) without letting a line grow past kMaxLine.
class LineReader {
public:
  explicit LineReader(std::FILE *f) : file_(f) {}

  bool next(std::string &line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (pos_ == len_) {
        len_ = std::fread(buf_, 1, sizeof buf_, file_);
        pos_ = 0;
        if (len_ == 0)
          return any;
      }
      any = true;
      const char *start = buf_ + pos_;
      const void *nl = std::memchr(start, '\n', len_ - pos_);
      size_t take = nl ? static_cast<size_t>(static_cast<const char *>(nl) - start) : len_ - pos_;
      if (line.size() < kMaxLine)
        line.append(start, std::min(take, kMaxLine - line.size()));
      pos_ += take;
      if (nl) {
        ++pos_;
        return true;
      }
    }
  }

private:
  std::FILE *file_;
  char buf_[64 * 1024];
  size_t pos_ = 0;
  size_t len_ = 0;
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i]))
      return false;
  return true;
}

int digitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (base == 16 && c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  else if (base == 16 && c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  return v < base ? v : -1;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::optional<std::string> TIniFile::FindValue(std::FILE *stream, const std::string &section,
                                               const std::string &key) {
  LineReader reader(stream);
  std::string line;
  bool first = true;
  bool inSection = false;
  bool sectionSeen = false;
  while (reader.next(line)) {
    std::string_view text = line;
    if (first && text.substr(0, 3) == "\xEF\xBB\xBF") // editors' UTF-8 mark
      text.remove_prefix(3);
    first = false;
    text = trim(text);
    if (text.empty() || text.front() == ';')
      continue;
    if (text.front() == '[') {
      if (inSection)
        return std::nullopt; // the first section of that name is the one read
      size_t close = text.find(']');
      std::string_view name =
          trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
      inSection = !sectionSeen && sameName(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection)
      continue;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos || !sameName(trim(text.substr(0, eq)), key))
      continue;
    std::string_view value = trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, MaxValueLength));
  }
  return std::nullopt;
}

std::string TIniFile::ReadString(const std::string &section, const std::string &key,
                                 const std::string &defaultValue) const {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName_.c_str(), "rb"));
  if (!file)
    return defaultValue;
  return FindValue(file.get(), section, key).value_or(defaultValue);
}

int32_t TIniFile::ReadInteger(const std::string &section, const std::string &key,
                              int32_t defaultValue) const {
  int32_t value = 0;
  return ParseIniInteger(ReadString(section, key, {}), value) ? value : defaultValue;
}

bool ParseIniInteger(const std::string &text, int32_t &value) {
  std::string_view s = trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty())
    return false;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t magnitude = 0;
  for (char c : s) {
    int d = digitValue(c, base);
    if (d < 0)
      return false;
    magnitude = magnitude * base + d;
    if (magnitude > limit)
      return false;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

} // namespace mirel
