#include "TorrentInfo.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace mirel {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80)
    return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0)
      lo = 0xA0; // no overlong forms
    if (c == 0xED)
      hi = 0x9F; // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0)
      lo = 0x90;
    if (c == 0xF4)
      hi = 0x8F; // nothing past U+10FFFF
  } else
    return 0;
  if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi)
    return 0;
  for (std::size_t k = 2; k < n; ++k)
    if ((b(i + k) & 0xC0) != 0x80)
      return 0;
  return n;
}

std::string Hex2(unsigned char c) {
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02x", c);
  return buf;
}

// Bytes for a terminal: printable bytes and UTF-8 kept, control bytes escaped.
std::string Printable(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x" + Hex2(c);
      ++i;
    } else if (const std::size_t n = Utf8Length(s, i); n > 1) {
      // C1 controls (U+0080..U+009F) are terminal controls too.
      if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0)
        out += "\\x" + Hex2(static_cast<unsigned char>(s[i + 1]));
      else
        out.append(s.substr(i, n));
      i += n;
    } else if (n == 0) {
      out += "\\x" + Hex2(c);
      ++i;
    } else {
      out += static_cast<char>(c);
      ++i;
    }
  }
  return out;
}

std::string JsonList(const std::vector<std::string> &items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i ? "," : "") + JsonString(items[i]);
  return out + "]";
}

} // namespace

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00" + Hex2(c);
      }
      ++i;
    } else if (const std::size_t n = Utf8Length(bytes, i); n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out += "\\udc" + Hex2(c);
      ++i;
    }
  }
  return out + "\"";
}

std::optional<long long> CreationSeconds(const TTorrentFile &torrent) {
  // 0 is the "absent" value; no 32-bit second count maps to it.
  if (torrent.CreationDate == 0)
    return std::nullopt;
  return std::llround((torrent.CreationDate - 25569.0) * 86400.0);
}

std::string TorrentJson(const std::string &file, bool ok, const TTorrentFile &t) {
  std::string out = "{\"file\":" + JsonString(file);
  out += ",\"ok\":" + std::string(ok ? "true" : "false");
  out += ",\"name\":" + JsonString(t.Name);
  out += ",\"total_length\":" + std::to_string(t.TotalLength);
  out += ",\"info_hash\":" + JsonString(t.InfoHashHex);
  out += ",\"piece_length\":" + std::to_string(t.PieceLength);
  out += ",\"piece_count\":" + std::to_string(t.Pieces.size());
  out += ",\"announce\":" + JsonString(t.Announce);
  out += ",\"announce_list\":" + JsonList(t.AnnounceList);
  out += ",\"comment\":" + JsonString(t.Comment);
  const auto created = CreationSeconds(t);
  out += ",\"creation_date\":" + (created ? std::to_string(*created) : std::string("null"));
  out += ",\"files\":[";
  for (std::size_t i = 0; i < t.Files.size(); ++i) {
    const auto &f = *t.Files[i];
    out += (i ? ",{" : "{");
    out += "\"path\":" + JsonString(f.Path) + ",\"name\":" + JsonString(f.Name) +
           ",\"length\":" + std::to_string(f.Length) + ",\"start\":" + std::to_string(f.Start) +
           "}";
  }
  out += "],\"errors\":" + JsonList(t.Errors) + "}";
  return out;
}

std::string TorrentSummary(const std::string &file, bool ok, const TTorrentFile &t) {
  std::string out = Printable(file) + (ok ? "" : "  (failed to load)") + "\n";
  const auto line = [&out](const char *label, const std::string &value) {
    out +=
        std::string("  ") + label + std::string(15 - std::string(label).size(), ' ') + value + "\n";
  };
  line("name:", Printable(t.Name));
  line("info hash:", t.InfoHashHex);
  line("total length:", std::to_string(t.TotalLength) + " bytes");
  line("piece length:", std::to_string(t.PieceLength));
  line("pieces:", std::to_string(t.Pieces.size()));
  line("announce:", Printable(t.Announce));
  for (const auto &url : t.AnnounceList)
    line("tracker:", Printable(url));
  if (!t.Comment.empty())
    line("comment:", Printable(t.Comment));
  if (const auto created = CreationSeconds(t)) {
    const std::time_t when = static_cast<std::time_t>(*created);
    std::tm tm{};
    char buf[64];
    gmtime_r(&when, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    line("created:", buf);
  }
  line("files:", std::to_string(t.Files.size()) + (t.IsMultiFile ? " (multi-file)" : ""));
  for (const auto &f : t.Files)
    out += "    " + Printable(f->Path + f->Name) + "  " + std::to_string(f->Length) + " bytes at " +
           std::to_string(f->Start) + "\n";
  for (const auto &e : t.Errors)
    line("error:", Printable(e));
  return out;
}

} // namespace mirel
