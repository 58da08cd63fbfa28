#pragma once

#include "metainfo/NodePool.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirel {

// Base of every node of a decoded tree, so containers can own mixed nodes and
// readers can check a node's class with dynamic_cast.
class TObject {
public:
  TObject() = default;
  TObject(const TObject &) = default;
  TObject &operator=(const TObject &) = default;
  TObject(TObject &&) = default;
  TObject &operator=(TObject &&) = default;
  virtual ~TObject() = default;
};

// Ordered list that owns its elements.
class TObjectList final : public TObject {
public:
  // Nodes come from the node pool (see NodePool.h).
  static void *operator new(std::size_t size) { return detail::AllocateNode(size); }
  static void operator delete(void *node, std::size_t size) noexcept {
    detail::ReleaseNode(node, size);
  }

  std::vector<std::unique_ptr<TObject>> Items;
};

// The base class of the system's own exceptions; carries a message text.
class Exception : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace mirel
