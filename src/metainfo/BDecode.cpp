#include "metainfo/BDecode.h"

#include <algorithm>
#include <array>

namespace mirel {

namespace {

bool IsDigit(int b) {
  return b >= '0' && b <= '9';
}

std::unique_ptr<TObject> DecodeValueAt(TStream &stream, int depth);
std::unique_ptr<TObjectHash> DecodeDictionaryAt(TStream &stream, int depth);
std::unique_ptr<TObjectList> DecodeListAt(TStream &stream, int depth);

// Reads up to n bytes, never more than the stream still holds, so a declared
// length far past the end of the data never allocates its full size.
std::string ReadUpTo(TStream &stream, std::int64_t n) {
  constexpr std::int64_t Slice = 1 << 20;
  n = std::min(n, std::max<std::int64_t>(0, stream.Size() - stream.Position()));
  std::string s;
  std::int64_t got = 0;
  while (got < n) {
    const std::int64_t want = std::min(n - got, Slice);
    s.resize(static_cast<std::size_t>(got + want));
    const std::size_t r = stream.Read(s.data() + got, static_cast<std::size_t>(want));
    got += static_cast<std::int64_t>(r);
    if (static_cast<std::int64_t>(r) < want)
      break;
  }
  s.resize(static_cast<std::size_t>(got));
  return s;
}

// The rest of a length and the string's bytes, after the first length digit.
std::string ReadStringBytes(TStream &stream, std::int32_t lengthSoFar) {
  // Saturate instead of wrapping: no declared length can exceed the data.
  constexpr std::int64_t Cap = std::int64_t{1} << 62;
  std::int64_t n = std::max<std::int32_t>(lengthSoFar, 0);
  for (;;) {
    const int b = stream.ReadByte();
    if (!IsDigit(b))
      break; // the separator is consumed unexamined (':' in well-formed data)
    n = n >= Cap / 10 ? Cap : n * 10 + (b - '0');
  }
  return ReadUpTo(stream, n);
}

std::unique_ptr<TIntString> MakePosition(std::int64_t value) {
  auto node = std::make_unique<TIntString>();
  node->IntegerValue = value;
  return node;
}

std::unique_ptr<TObject> DecodeValueAt(TStream &stream, int depth) {
  const int b = stream.ReadByte();
  if (b < 0)
    return nullptr;
  if (IsDigit(b))
    return DecodeString(stream, b - '0');
  if (b == 'i')
    return DecodeInteger(stream);
  // Containers past the depth bound decode as malformed; their opening byte
  // stays consumed and the enclosing container goes on from there.
  if (b == 'd')
    return depth < MaxDecodeDepth ? DecodeDictionaryAt(stream, depth + 1) : nullptr;
  if (b == 'l')
    return depth < MaxDecodeDepth ? DecodeListAt(stream, depth + 1) : nullptr;
  return nullptr;
}

std::unique_ptr<TObjectList> DecodeListAt(TStream &stream, int depth) {
  auto list = std::make_unique<TObjectList>();
  for (;;) {
    const int b = stream.ReadByte();
    if (b < 0 || b == 'e')
      break;
    stream.SeekRelative(-1);
    if (auto value = DecodeValueAt(stream, depth)) {
      // One allocation for the usual short lists (paths, tiers); none for empty ones.
      if (list->Items.empty())
        list->Items.reserve(4);
      list->Items.push_back(std::move(value));
    }
  }
  return list;
}

std::unique_ptr<TObjectHash> DecodeDictionaryAt(TStream &stream, int depth) {
  auto dict = std::make_unique<TObjectHash>();
  bool anyKey = false;
  int b;
  while (IsDigit(b = stream.ReadByte())) {
    anyKey = true;
    const std::string key = ReadStringBytes(stream, b - '0');
    const std::int64_t start = stream.Position();
    std::unique_ptr<TObject> value = DecodeValueAt(stream, depth);
    if (value && !key.empty())
      dict->Put(key, std::move(value));
    if (key == "info") {
      const std::int64_t end = stream.Position();
      dict->Put("_info_start", MakePosition(start));
      dict->Put("_info_length", MakePosition(end - start));
    }
  }
  // A dictionary cut off by the end of the data keeps the entries read so far;
  // a lone "d" at the end yields nothing.
  if (b == 'e' || (b < 0 && anyKey))
    return dict;
  return nullptr;
}

} // namespace

std::unique_ptr<TObject> DecodeValue(TStream &stream) {
  return DecodeValueAt(stream, 0);
}

std::unique_ptr<TObjectHash> DecodeDictionary(TStream &stream) {
  return DecodeDictionaryAt(stream, 1);
}

std::unique_ptr<TObjectList> DecodeList(TStream &stream) {
  return DecodeListAt(stream, 1);
}

std::unique_ptr<TIntString> DecodeInteger(TStream &stream) {
  // Unsigned arithmetic wraps modulo 2^64 without undefined behaviour.
  std::uint64_t value = 0;
  bool negative = false;
  for (;;) {
    const int b = stream.ReadByte();
    if (b == '-')
      negative = true;
    else if (IsDigit(b))
      value = value * 10 + static_cast<std::uint64_t>(b - '0');
    else
      break; // the end byte is consumed unexamined ('e' in well-formed data)
  }
  if (negative)
    value = 0 - value;
  auto node = std::make_unique<TIntString>();
  node->IntegerValue = static_cast<std::int64_t>(value);
  node->IsInteger = true;
  return node;
}

std::unique_ptr<TIntString> DecodeString(TStream &stream, std::int32_t lengthSoFar) {
  auto node = std::make_unique<TIntString>();
  node->StringValue = ReadStringBytes(stream, lengthSoFar);
  return node;
}

std::string BytesToHex(std::string_view bytes, std::size_t maxCount) {
  // Both digits of every byte value, so each byte costs one table read.
  static const auto Pairs = [] {
    static constexpr char Digits[] = "0123456789abcdef";
    std::array<char, 512> t{};
    for (int b = 0; b < 256; ++b) {
      t[2 * b] = Digits[b >> 4];
      t[2 * b + 1] = Digits[b & 15];
    }
    return t;
  }();
  const std::size_t count = std::min(bytes.size(), maxCount);
  std::string out(2 * count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = Pairs[2 * b];
    out[2 * i + 1] = Pairs[2 * b + 1];
  }
  return out;
}

} // namespace mirel
