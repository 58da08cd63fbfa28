#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace mirel {

// A command line the engine cannot run with.
class EOptionError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The engine's command line, as the host builds it:
//   --responsefile "<metainfo>" --saveas "<target>" [--check_hashes 0]
//   --max_uploads N --min_uploads N [--minport N] [--maxport N]
//   [--max_upload_rate kB/s] --display_interval seconds
struct EngineOptions {
  std::string responseFile;
  std::string saveAs; // empty: the name from the metainfo, in the working folder
  bool checkHashes = true;
  int maxUploads = 7;
  int minUploads = 4;
  int minPort = 6881;
  int maxPort = 6999;
  int maxUploadRate = 0; // kB/s, 0 = unlimited
  double displayInterval = 1.0;
};

// Throws EOptionError for a missing value, an unknown option, a bad number or
// a missing metainfo file name. args excludes the program name.
EngineOptions parseEngineOptions(const std::vector<std::string> &args);

// One line per option, for the error screen.
std::string engineUsage();

} // namespace mirel
