#pragma once

#include <cstddef>

namespace mirel::detail {

// Memory for the small nodes of decoded trees. A large metainfo file decodes
// into hundreds of thousands of nodes; taking them from per-thread free lists
// instead of malloc makes loading and releasing such a tree several times
// cheaper. Released nodes are kept for reuse (never returned to the system),
// so a process keeps its peak of node memory reserved. Sizes above the pooled
// classes, and every node in sanitizer builds, go to the global operator new.
void *AllocateNode(std::size_t size);
void ReleaseNode(void *node, std::size_t size) noexcept;

} // namespace mirel::detail
