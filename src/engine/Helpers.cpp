#include "Helpers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace mirel {

std::string ZeroPad(std::string text, int minLength) {
  if (minLength > 0 && text.size() < static_cast<std::size_t>(minLength))
    text.insert(0, static_cast<std::size_t>(minLength) - text.size(), '0');
  return text;
}

std::string SecondsToText(bool compact, double seconds) {
  // A stalled rate can give an absurd or non-finite time; keep the integer
  // conversions defined.
  constexpr double Limit = 9.0e15;
  double t = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -Limit, Limit);
  const auto h = static_cast<std::int64_t>(std::trunc(t / 3600));
  const auto m = static_cast<std::int64_t>(std::trunc((t - static_cast<double>(h) * 3600) / 60));
  const auto s = static_cast<std::int64_t>(
      std::trunc(t - static_cast<double>(h) * 3600 - static_cast<double>(m) * 60));
  if (h > 0 || !compact) {
    std::string hours = compact ? std::to_string(h) : ZeroPad(std::to_string(h), 2);
    return hours + " 시간 " + ZeroPad(std::to_string(m), 2) + " 분";
  }
  if (m > 0)
    return ZeroPad(std::to_string(m), 2) + " 분";
  return ZeroPad(std::to_string(s), 2) + " 초";
}

char LocaleDecimalSeparator() {
  static const char separator = [] {
    char sep = '.';
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", locale_t(0))) {
      const char *radix = nl_langinfo_l(RADIXCHAR, loc);
      if (radix && radix[0] && !radix[1])
        sep = radix[0];
      freelocale(loc);
    }
    return sep;
  }();
  return separator;
}

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads [blanks] [sign] digits [mark digits] [(E|e) [sign] digits] [blanks],
// the whole text, with the given decimal mark. nullopt-like: false when the
// text is not such a number or does not fit a double.
bool readNumber(std::string_view text, char mark, double &out) {
  std::size_t i = 0, n = text.size();
  while (i < n && isBlank(text[i]))
    ++i;
  while (n > i && isBlank(text[n - 1]))
    --n;
  std::string plain;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-')
      plain += '-';
    ++i;
  }
  std::size_t digits = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
    plain += text[i];
  if (i < n && text[i] == mark) {
    plain += '.';
    for (++i; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
      plain += text[i];
  }
  if (digits == 0)
    return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
      plain += text[i++];
    std::size_t expDigits = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++expDigits)
      plain += text[i];
    if (expDigits == 0)
      return false;
  }
  if (i != n)
    return false;
  double value = 0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value))
    return false;
  out = value;
  return true;
}

} // namespace

double ParseLocaleFloat(std::string_view text, char decimalSeparator) {
  if (text.empty())
    return 0;
  std::string s(text);
  if (decimalSeparator == '.') {
    if (auto p = s.find(','); p != std::string::npos)
      s[p] = '.';
  } else if (decimalSeparator == ',') {
    if (auto p = s.find('.'); p != std::string::npos)
      s[p] = ',';
  }
  double value = 0;
  if (!readNumber(s, decimalSeparator, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return value;
}

double ParseLenientFloat(std::string_view text) {
  if (text.empty() || text == " " || text == "?")
    return 0;
  double value = 0;
  return readNumber(text, '.', value) ? value : 0;
}

std::int64_t FreeDiskSpace(const std::string &path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path folder = fs::absolute(fs::path(path.empty() ? "." : path), ec);
  if (ec)
    return -1;
  // The nearest folder that exists: its filesystem is where the file would go.
  while (!fs::is_directory(folder, ec)) {
    if (!folder.has_relative_path())
      return -1;
    folder = folder.parent_path();
  }
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0)
    return -1;
  const auto avail = static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
  return avail > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX
                                                            : static_cast<std::int64_t>(avail);
}

bool HasDiskSpace(const std::string &path, std::int64_t needed) {
  struct stat st {};
  if (!path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
    return true;
  const std::int64_t free = FreeDiskSpace(path);
  if (free < 0)
    return false;
  return free >= needed;
}

} // namespace mirel
