#include "metainfo/NodePool.h"
#include "metainfo/BDecode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

using namespace mirel;

TEST(NodePool, SizesAlignmentAndReuse) {
  for (std::size_t size : {1u, 8u, 16u, 56u, 64u, 100u, 128u, 129u, 4096u}) {
    std::vector<void *> nodes;
    std::set<void *> distinct;
    for (int i = 0; i < 5000; ++i) {
      void *p = detail::AllocateNode(size);
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u) << size;
      std::memset(p, 0xAB, size); // the whole size is usable
      nodes.push_back(p);
      distinct.insert(p);
    }
    EXPECT_EQ(distinct.size(), nodes.size()) << size; // no node handed out twice
    for (void *p : nodes)
      detail::ReleaseNode(p, size);
  }
}

TEST(NodePool, TreesMadeOnOneThreadReleasedOnAnother) {
  std::vector<std::unique_ptr<TObject>> trees;
  std::thread maker([&] {
    for (int i = 0; i < 200; ++i) {
      TMemoryStream s(std::string("d1:ali1ei2ee1:b3:xyze"));
      trees.push_back(DecodeValue(s));
    }
  });
  maker.join();
  trees.clear(); // released here, after the making thread has ended
  TMemoryStream s(std::string("li1ei2ee"));
  auto again = DecodeValue(s);
  auto &list = dynamic_cast<TObjectList &>(*again);
  ASSERT_EQ(list.Items.size(), 2u);
  EXPECT_EQ(dynamic_cast<TIntString &>(*list.Items[1]).IntegerValue, 2);
}
