#pragma once

#include "metainfo/Hashes.h"
#include "metainfo/NodePool.h"
#include "metainfo/Object.h"
#include "metainfo/Streams.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mirel {

// A decoded integer, a decoded byte string, or a position entry.
class TIntString final : public TObject {
public:
  // Nodes come from the node pool (see NodePool.h).
  static void *operator new(std::size_t size) { return detail::AllocateNode(size); }
  static void operator delete(void *node, std::size_t size) noexcept {
    detail::ReleaseNode(node, size);
  }

  std::string StringValue;       // bytes of a string; empty for integers
  std::int64_t IntegerValue = 0; // value of an integer; 0 for strings
  bool IsInteger = false;
};

// Containers nested deeper than this decode as malformed (nothing), so hostile
// input cannot exhaust the stack.
constexpr int MaxDecodeDepth = 512;

// Tolerant bencode decoder: raises nothing of its own; malformed data shows as
// a missing result (nullptr) or as dropped / partial content. A dictionary with
// the key "info" also gets "_info_start" and "_info_length", the stream range of
// the info value's encoding.
std::unique_ptr<TObject> DecodeValue(TStream &stream);
// Called after the 'd' has been consumed.
std::unique_ptr<TObjectHash> DecodeDictionary(TStream &stream);
// Called after the 'l' has been consumed; always returns a list.
std::unique_ptr<TObjectList> DecodeList(TStream &stream);
// Called after the 'i' has been consumed.
std::unique_ptr<TIntString> DecodeInteger(TStream &stream);
// Called after the first length digit has been consumed, with its value.
// A string running past the end of the data holds the bytes that were there.
std::unique_ptr<TIntString> DecodeString(TStream &stream, std::int32_t lengthSoFar);

// Two lowercase hex digits per byte for the first min(size, maxCount) bytes.
std::string BytesToHex(std::string_view bytes, std::size_t maxCount);

} // namespace mirel
