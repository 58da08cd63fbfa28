#pragma once

#include "platform/URLDownloadToFile.h"

#include <cstdint>
#include <string>

namespace mirel {

// Replaces each of the characters { } ^ [ ] ' # ; @ = & $ - _ . + ! ( ) by its
// percent escape (%7B ... %29, upper-case hex). Everything else, "%" and bytes
// from 0x80 up included, stays as it is, so escaping twice changes nothing.
std::string EscapeURL(const std::string &url);

// There is no local URL cache (requests ask proxies to revalidate instead), so
// nothing is ever removed: false. An empty URL is not looked at.
bool PurgeURLCache(const std::string &url);

// One blocking fetch of the escaped URL into the file, replacing a file of
// that name (read-only or not). Returns 0 when the file was fetched, else the
// download service's failure code.
int32_t FetchURLToFile(const std::string &url, const std::string &fileName,
                       IBindStatusCallback *callback = nullptr,
                       const URLDownloadLimits &limits = {});

// Clears a file's read-only state and deletes it; failures are ignored.
void ForceDeleteFile(const std::string &fileName);

} // namespace mirel
