// A group's name from the group database, in scratch that grows: a group
// with many members (one filled by a directory service, say) has an entry
// of megabytes.
#include "platform/posix/internal.h"

#include <cerrno>
#include <limits>

namespace platform {
namespace {

constexpr std::size_t kFirstScratch = 1024;  // on the stack: most groups fit

// Twice the room of the last try. Its content is of no further use, so the
// old block is given back before the new one is taken rather than copied.
DWORD Grow(Heap& heap, void** block, std::size_t* size) {
  if (*size > std::numeric_limits<std::size_t>::max() / 2) {
    return kErrorNotEnoughMemory;
  }
  if (*block != nullptr) heap.Release(*block);
  *size *= 2;
  *block = heap.Allocate(*size);
  return *block != nullptr ? kErrorSuccess : kErrorNotEnoughMemory;
}

DWORD NameOf(int rc, const group* found, std::string* name) {
  if (rc != 0 || found == nullptr || found->gr_name == nullptr) {
    return kErrorNoneMapped;
  }
  *name = found->gr_name;
  return kErrorSuccess;
}

}  // namespace

DWORD ReadGroupName(DWORD gid, const GroupEntryReader& read, Heap& heap,
                    std::string* name) {
  char first[kFirstScratch];
  char* scratch = first;
  std::size_t size = sizeof first;
  void* larger = nullptr;
  DWORD code = kErrorSuccess;
  for (;;) {
    group entry;
    group* found = nullptr;
    int rc = read(static_cast<gid_t>(gid), &entry, scratch, size, &found);
    if (rc != ERANGE) {
      code = NameOf(rc, found, name);
      break;
    }
    code = Grow(heap, &larger, &size);
    if (code != kErrorSuccess) break;
    scratch = static_cast<char*>(larger);
  }
  if (larger != nullptr) heap.Release(larger);
  return code;
}

}  // namespace platform
