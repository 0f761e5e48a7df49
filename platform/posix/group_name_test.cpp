#include "platform/posix/internal.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/fakes.h"

namespace platform {
namespace {

// A database whose one entry takes `needed` bytes of scratch: ERANGE below
// that, as getgrgid_r answers.
struct LargeEntry {
  std::size_t needed;
  std::vector<std::size_t> offered;

  int operator()(gid_t gid, group* entry, char* scratch, std::size_t size,
                 group** found) {
    offered.push_back(size);
    if (gid != 0) return 0;
    if (size < needed) return ERANGE;
    std::memset(scratch, 'x', needed);  // the scratch is as big as offered
    std::strcpy(scratch, "wheel");
    entry->gr_name = scratch;
    *found = entry;
    return 0;
  }
};

TEST(ReadGroupNameTest, ScratchGrowsUntilTheEntryFitsOrTheHeapRefuses) {
  LargeEntry database{std::size_t{5} << 20, {}};  // 5 MiB
  platform_test::FakeHeap heap;
  std::string name;
  ASSERT_EQ(kErrorSuccess,
            ReadGroupName(0, std::ref(database), heap, &name));
  EXPECT_EQ("wheel", name);
  EXPECT_EQ(8u << 20, database.offered.back());
  EXPECT_EQ(1024u, database.offered.front());
  EXPECT_TRUE(heap.held.empty());
  EXPECT_EQ(0, heap.bad_releases);

  EXPECT_EQ(kErrorNoneMapped,
            ReadGroupName(1, std::ref(database), heap, &name));

  // Refused on the 12th block, 4 MiB: out of memory, not "no such group".
  platform_test::FakeHeap refusing;
  refusing.fail_request = 12;
  name = "untouched";
  EXPECT_EQ(kErrorNotEnoughMemory,
            ReadGroupName(0, std::ref(database), refusing, &name));
  EXPECT_EQ("untouched", name);
  EXPECT_EQ("allocate 4194304", refusing.requests.back());
  EXPECT_TRUE(refusing.held.empty());
  EXPECT_EQ(0, refusing.bad_releases);
}

}  // namespace
}  // namespace platform
