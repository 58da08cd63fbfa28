// mirel-torrent-info FILE...: shows what the downloader's loader reads from
// metainfo files. Exit code 0 when every file loaded, 1 when one did not,
// 2 for a usage error or a file that could not be read.
#include "TorrentInfo.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char *const Usage =
    "usage: mirel-torrent-info [--json] FILE...\n"
    "Loads each metainfo (.torrent) file and prints a summary, or with --json one\n"
    "JSON object per file and line: file, ok, name, total_length, info_hash,\n"
    "piece_length, piece_count, announce, announce_list, comment, creation_date\n"
    "(seconds since 1970 or null), files (path, name, length, start), errors.\n"
    "Strings are the file's bytes: valid UTF-8 is kept, any other byte XX is\n"
    "written as \\udcXX (the surrogateescape scheme), so nothing is lost.\n"
    "Exit code: 0 all loaded, 1 some did not load, 2 usage error or unreadable file.\n";

} // namespace

int main(int argc, char **argv) {
  bool json = false;
  std::vector<std::string> files;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg == "--json") {
      json = true;
    } else if (!optionsDone && (arg == "-h" || arg == "--help")) {
      std::fputs(Usage, stdout);
      return 0;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "mirel-torrent-info: unknown option '%s'\n%s", arg.c_str(), Usage);
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fputs(Usage, stderr);
    return 2;
  }

  int status = 0;
  for (const auto &file : files) {
    mirel::TTorrentFile torrent;
    bool ok;
    try {
      mirel::TFileStream stream(file);
      ok = torrent.LoadFromStream(stream);
    } catch (const std::exception &e) {
      std::fprintf(stderr, "mirel-torrent-info: %s\n", e.what());
      status = 2;
      continue;
    }
    const std::string text = json ? mirel::TorrentJson(file, ok, torrent) + "\n"
                                  : mirel::TorrentSummary(file, ok, torrent);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!ok && status == 0)
      status = 1;
  }
  if (std::fflush(stdout) != 0)
    return 2;
  return status;
}
