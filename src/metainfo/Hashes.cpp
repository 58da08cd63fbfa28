#include "metainfo/Hashes.h"

#include <algorithm>

namespace mirel {

std::uint32_t KeyHash(std::string_view key) {
  if (key.empty())
    throw EHashInvalidKeyError("Key cannot be an empty string");
  std::uint32_t h = 0x12345670;
  for (const char c : key) {
    h = (h << 4) + static_cast<unsigned char>(c);
    const std::uint32_t g = h & 0xF0000000u;
    if (g != 0)
      h |= g >> 24; // inclusive OR: the top bits stay set
  }
  return h;
}

const THashRecord *THash::Find(std::string_view key, std::uint32_t h) const {
  if (!Heads) {
    for (const THashRecord &r : Records)
      if (r.Hash == h && r.Key == key)
        return &r;
    return nullptr;
  }
  for (std::int32_t i = Heads[h & BucketMask]; i >= 0; i = Records[i].Next) {
    if (Records[i].Key == key)
      return &Records[i];
  }
  return nullptr;
}

void THash::BuildChains() {
  Heads = std::make_unique<std::int32_t[]>(2 * BucketCount);
  std::fill_n(Heads.get(), 2 * BucketCount, -1);
  for (std::size_t i = 0; i < Records.size(); ++i) {
    const std::uint32_t bucket = Records[i].Hash & BucketMask;
    std::int32_t &tail = Heads[BucketCount + bucket];
    if (tail < 0)
      Heads[bucket] = static_cast<std::int32_t>(i);
    else
      Records[tail].Next = static_cast<std::int32_t>(i);
    tail = static_cast<std::int32_t>(i);
  }
}

void THash::AddRecord(std::string_view key, std::uint32_t h, int itemIndex) {
  if (Records.empty())
    Records.reserve(2);
  const auto index = static_cast<std::int32_t>(Records.size());
  Records.push_back(THashRecord{h, itemIndex, std::string(key), -1});
  if (!Heads) {
    if (Records.size() > ScanLimit)
      BuildChains();
    return;
  }
  const std::uint32_t bucket = h & BucketMask;
  std::int32_t &tail = Heads[BucketCount + bucket];
  if (tail < 0)
    Heads[bucket] = index;
  else
    Records[tail].Next = index;
  tail = index;
}

bool THash::Contains(std::string_view key) const {
  return Find(key, KeyHash(key)) != nullptr;
}

void THash::Clear() {
  ReleaseAllItems();
  Records.clear();
  Heads.reset();
}

TObject *TObjectHash::Get(std::string_view key) const {
  const THashRecord *rec = Find(key, KeyHash(key));
  if (!rec)
    throw EHashFindError("Key \"" + std::string(key) + "\" not found");
  return Items[rec->ItemIndex].get();
}

TObject *TObjectHash::Lookup(std::string_view key) const {
  const THashRecord *rec = Find(key, KeyHash(key));
  return rec ? Items[rec->ItemIndex].get() : nullptr;
}

void TObjectHash::Put(std::string_view key, std::unique_ptr<TObject> obj) {
  const std::uint32_t h = KeyHash(key);
  if (const THashRecord *rec = Find(key, h)) {
    Items[rec->ItemIndex] = std::move(obj);
    return;
  }
  const int index = LastItemIndex() + 1;
  if (Items.empty())
    Items.reserve(4);
  if (LastItemIndex() < index)
    SetItemCount(index + 1);
  Items[index] = std::move(obj);
  AddRecord(key, h, index);
}

void TObjectHash::ReleaseItem(int index) {
  Items[index].reset();
}

// A slot owns its object, so the reference moves rather than being shared.
void TObjectHash::CopyItem(int source, int target) {
  Items[target] = std::move(Items[source]);
}

void TObjectHash::SetItemCount(int count) {
  Items.resize(count);
}

void TObjectHash::ReleaseAllItems() {
  Items.clear();
}

int TObjectHash::LastItemIndex() const {
  return static_cast<int>(Items.size()) - 1;
}

} // namespace mirel
