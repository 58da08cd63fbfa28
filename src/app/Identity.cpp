#include "Identity.h"

#include <cstdlib>
#include <cstring>

#ifndef MIREL_SERVER_URL
#define MIREL_SERVER_URL "http://127.0.0.1:8080/"
#endif

namespace mirel {

std::string ApplicationTitle(const std::string &displayName, const std::string &productId) {
  return (displayName.empty() ? productId : displayName) + " 다운로드";
}

std::string InstanceMutexName(const std::string &productId) {
  return InstanceMutexPrefix + productId;
}

bool ParseShowEngineConsole(int argc, const char *const *argv) {
  return argc > 1 && argv[1] != nullptr && std::strcmp(argv[1], "-console") == 0;
}

std::string ResolveServerBaseUrl(const char *overrideValue, const std::string &builtIn) {
  std::string url = (overrideValue != nullptr && *overrideValue != '\0') ? overrideValue : builtIn;
  // Every URL is formed as base + file name, so a missing slash would glue the
  // file name onto the last path segment.
  if (url.empty() || url.back() != '/')
    url += '/';
  return url;
}

std::string ResolveServerBaseUrl() {
  return ResolveServerBaseUrl(std::getenv("MIREL_SERVER_URL"), MIREL_SERVER_URL);
}

} // namespace mirel
