#include "EngineOptions.h"

#include <charconv>
#include <cmath>

namespace mirel {

namespace {

int parseInt(const std::string &name, const std::string &text, int lo, int hi) {
  int value = 0;
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || p != end || value < lo || value > hi)
    throw EOptionError("bad value for --" + name + ": \"" + text + "\" (a whole number from " +
                       std::to_string(lo) + " to " + std::to_string(hi) + " is needed)");
  return value;
}

double parseSeconds(const std::string &name, const std::string &text) {
  double value = 0;
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  // Below a tenth of a second the title would only flicker; above an hour the
  // host would think the engine is stuck.
  if (text.empty() || ec != std::errc() || p != end || !std::isfinite(value) || value < 0.1 ||
      value > 3600)
    throw EOptionError("bad value for --" + name + ": \"" + text +
                       "\" (seconds from 0.1 to 3600 are needed)");
  return value;
}

} // namespace

EngineOptions parseEngineOptions(const std::vector<std::string> &args) {
  EngineOptions o;
  for (size_t i = 0; i < args.size(); i += 2) {
    const std::string &arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0)
      throw EOptionError("unexpected argument \"" + arg + "\"");
    const std::string name = arg.substr(2);
    static const char *const known[] = {"responsefile", "saveas",          "check_hashes",
                                        "max_uploads",  "min_uploads",     "minport",
                                        "maxport",      "max_upload_rate", "display_interval"};
    bool isKnown = false;
    for (const char *k : known)
      isKnown = isKnown || name == k;
    if (!isKnown)
      throw EOptionError("unknown option \"" + arg + "\"");
    if (i + 1 >= args.size())
      throw EOptionError("option " + arg + " needs a value");
    const std::string &value = args[i + 1];

    if (name == "responsefile") {
      if (value.empty())
        throw EOptionError("--responsefile needs a file name");
      o.responseFile = value;
    } else if (name == "saveas") {
      if (value.empty())
        throw EOptionError("--saveas needs a file name");
      o.saveAs = value;
    } else if (name == "check_hashes") {
      o.checkHashes = parseInt(name, value, 0, 1) != 0;
    } else if (name == "max_uploads") {
      o.maxUploads = parseInt(name, value, 0, 1000);
    } else if (name == "min_uploads") {
      o.minUploads = parseInt(name, value, 0, 1000);
    } else if (name == "minport") {
      o.minPort = parseInt(name, value, 1, 65535);
    } else if (name == "maxport") {
      o.maxPort = parseInt(name, value, 1, 65535);
    } else if (name == "max_upload_rate") {
      o.maxUploadRate = parseInt(name, value, 0, 1000000);
    } else {
      o.displayInterval = parseSeconds(name, value);
    }
  }
  if (o.responseFile.empty())
    throw EOptionError("no metainfo file given (--responsefile)");
  if (o.minPort > o.maxPort)
    throw EOptionError("--minport " + std::to_string(o.minPort) + " is above --maxport " +
                       std::to_string(o.maxPort));
  return o;
}

std::string engineUsage() {
  return "usage: mirel-engine --responsefile <metainfo file> [options]\n"
         "  --saveas <file>             where to save the file (default: its name from the "
         "metainfo)\n"
         "  --check_hashes 0|1          0 trusts data already on disk (default 1)\n"
         "  --max_uploads <n>           peers to upload to at once (default 7)\n"
         "  --min_uploads <n>           peers to keep uploading to (default 4)\n"
         "  --minport <port>            lowest port to listen on (default 6881)\n"
         "  --maxport <port>            highest port to listen on (default 6999)\n"
         "  --max_upload_rate <kB/s>    upload limit, 0 for none (default 0)\n"
         "  --display_interval <s>      seconds between status updates (default 1)\n";
}

} // namespace mirel
