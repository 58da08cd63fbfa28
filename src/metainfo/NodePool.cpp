#include "metainfo/NodePool.h"

#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define MIREL_NODE_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIREL_NODE_POOL 0
#endif
#endif
#ifndef MIREL_NODE_POOL
#define MIREL_NODE_POOL 1
#endif

namespace mirel::detail {

#if MIREL_NODE_POOL
namespace {

constexpr std::size_t Granule = 16; // keeps every node aligned like malloc's
constexpr std::size_t Classes = 8;  // pooled sizes: up to 128 bytes
constexpr std::size_t SlabSize = 64 * 1024;

struct FreeNode {
  FreeNode *Next;
};

struct ThreadPool {
  FreeNode *Free[Classes + 1] = {};
  char *SlabNext = nullptr;
  char *SlabEnd = nullptr;
};

thread_local ThreadPool Pool;

// Slabs live as long as the process: a node may be released on another thread
// than the one that made it, or after that thread has ended. Kept here so that
// leak checkers see them as reachable.
std::mutex SlabsMutex;
std::vector<void *> *Slabs = new std::vector<void *>;

char *NewSlab() {
  char *slab = static_cast<char *>(::operator new(SlabSize));
  const std::lock_guard lock(SlabsMutex);
  Slabs->push_back(slab);
  return slab;
}

} // namespace

void *AllocateNode(std::size_t size) {
  const std::size_t cls = (size + Granule - 1) / Granule;
  if (cls == 0 || cls > Classes)
    return ::operator new(size);
  ThreadPool &pool = Pool;
  if (FreeNode *node = pool.Free[cls]) {
    pool.Free[cls] = node->Next;
    return node;
  }
  const std::size_t bytes = cls * Granule;
  if (static_cast<std::size_t>(pool.SlabEnd - pool.SlabNext) < bytes) {
    pool.SlabNext = NewSlab();
    pool.SlabEnd = pool.SlabNext + SlabSize;
  }
  void *node = pool.SlabNext;
  pool.SlabNext += bytes;
  return node;
}

void ReleaseNode(void *node, std::size_t size) noexcept {
  if (!node)
    return;
  const std::size_t cls = (size + Granule - 1) / Granule;
  if (cls == 0 || cls > Classes) {
    ::operator delete(node);
    return;
  }
  ThreadPool &pool = Pool;
  auto *free = static_cast<FreeNode *>(node);
  free->Next = pool.Free[cls];
  pool.Free[cls] = free;
}

#else

void *AllocateNode(std::size_t size) {
  return ::operator new(size);
}
void ReleaseNode(void *node, std::size_t) noexcept {
  ::operator delete(node);
}

#endif

} // namespace mirel::detail
