#pragma once

#include "metainfo/Object.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace mirel {

// A text that is not a number where one is required.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// Puts "0" in front of text until it is minLength long; never cuts.
std::string ZeroPad(std::string text, int minLength);

// "h 시간 mm 분" (from one hour up, or always when not compact), else
// "mm 분" from one minute up, else "ss 초". Fractions are cut off.
std::string SecondsToText(bool compact, double seconds);

// The decimal separator of the user's locale (LC_NUMERIC from the environment).
char LocaleDecimalSeparator();

// A number in the user's notation: the empty text is 0; a "," is read as "."
// (and a "." as ",") when the locale uses the other one. Raises EConvertError
// for anything else that is not wholly a number.
double ParseLocaleFloat(std::string_view text, char decimalSeparator = LocaleDecimalSeparator());

// A number with "." as decimal mark, whatever the locale. Never raises: the
// empty text, " ", "?" and anything that is not wholly a number give 0.
double ParseLenientFloat(std::string_view text);

// Whether the filesystem that would hold path has at least `needed` bytes
// free for the user. True without a look when a file already exists there;
// false when the space cannot be queried.
bool HasDiskSpace(const std::string &path, std::int64_t needed);

// Free bytes for the user on the filesystem of path's nearest existing
// folder; -1 when it cannot be queried.
std::int64_t FreeDiskSpace(const std::string &path);

} // namespace mirel
