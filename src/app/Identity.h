#pragma once

#include <string>

namespace mirel {

// Product identity, fixed at build time.
inline const std::string ProductId = "mirelS";
inline const std::string DisplayName = "Mirel(s)";

// The name the single-instance lock is named after; it ends with the product
// id so that builds for other products neither block nor are blocked.
inline const std::string InstanceMutexPrefix = "15fab0e9-9dd5-4600-9184-b839343ec1db_P3_";

// DisplayName + " 다운로드" (DisplayName falls back to the product id when empty).
std::string ApplicationTitle(const std::string &displayName, const std::string &productId);

std::string InstanceMutexName(const std::string &productId);

// True exactly when the first argument after the program path is "-console".
bool ParseShowEngineConsole(int argc, const char *const *argv);

// The download server's base URL: the environment variable MIREL_SERVER_URL when
// set and not empty, else the build option. Always ends in "/".
std::string ResolveServerBaseUrl();

// Same rule with an explicit override value (null = not set), for tests.
std::string ResolveServerBaseUrl(const char *overrideValue, const std::string &builtIn);

} // namespace mirel
