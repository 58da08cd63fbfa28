#pragma once

#include "metainfo/NodePool.h"
#include "metainfo/Object.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mirel {

class EHashError : public Exception {
public:
  using Exception::Exception;
};
class EHashFindError : public EHashError {
public:
  using EHashError::EHashError;
};
class EHashInvalidKeyError : public EHashError {
public:
  using EHashError::EHashError;
};

// Raises EHashInvalidKeyError for an empty key.
std::uint32_t KeyHash(std::string_view key);

struct THashRecord {
  std::uint32_t Hash = 0;
  std::int32_t ItemIndex = 0;
  std::string Key;
  std::int32_t Next = -1; // next record of the same bucket, in insertion order
};

// Hash table keyed by byte strings with a fixed 128 buckets; holds the keys,
// derived tables hold the items.
class THash : public TObject {
public:
  static constexpr int BucketBits = 7;
  static constexpr int BucketCount = 1 << BucketBits;
  static constexpr int BucketMask = BucketCount - 1;
  static constexpr int LastBucket = BucketCount - 1;

  bool Contains(std::string_view key) const;
  void Clear();

protected:
  THash() = default;
  THash(const THash &) = delete;
  THash &operator=(const THash &) = delete;

  virtual void ReleaseItem(int index) = 0;
  virtual void CopyItem(int source, int target) = 0;
  virtual void SetItemCount(int count) = 0;
  virtual void ReleaseAllItems() = 0;
  virtual int LastItemIndex() const = 0;

  // The record for key (hash h), or nullptr.
  const THashRecord *Find(std::string_view key, std::uint32_t h) const;
  // Appends a record to the end of its bucket.
  void AddRecord(std::string_view key, std::uint32_t h, int itemIndex);

private:
  // Records of all buckets; each bucket is a chain through Next. Most decoded
  // dictionaries hold a few keys, so the chain ends are only made once a table
  // outgrows a short scan; until then a lookup scans the records in order,
  // which finds the same entry as the bucket would.
  static constexpr std::size_t ScanLimit = 8;
  void BuildChains();
  std::vector<THashRecord> Records;
  std::unique_ptr<std::int32_t[]> Heads; // BucketCount heads, then BucketCount tails
};

// A THash that stores and owns one object per key.
class TObjectHash final : public THash {
public:
  // Nodes come from the node pool (see NodePool.h).
  static void *operator new(std::size_t size) { return detail::AllocateNode(size); }
  static void operator delete(void *node, std::size_t size) noexcept {
    detail::ReleaseNode(node, size);
  }

  TObjectHash() = default;
  ~TObjectHash() override = default;

  // Raises EHashInvalidKeyError for an empty key, EHashFindError when absent.
  TObject *Get(std::string_view key) const;
  // The object under key, or nullptr when absent: Contains and Get in one
  // lookup. Raises EHashInvalidKeyError for an empty key.
  TObject *Lookup(std::string_view key) const;
  // Stores obj under key, releasing an object stored there before. The table
  // takes ownership (also when it raises EHashInvalidKeyError).
  void Put(std::string_view key, std::unique_ptr<TObject> obj);

  std::vector<std::unique_ptr<TObject>> Items;

protected:
  void ReleaseItem(int index) override;
  void CopyItem(int source, int target) override;
  void SetItemCount(int count) override;
  void ReleaseAllItems() override;
  int LastItemIndex() const override;
};

} // namespace mirel
