// A group's name from the group database, read into scratch that grows for
// as long as the database asks for more: a group with many members (one
// filled by a directory service, say) has an entry of megabytes.
#pragma once

#include <grp.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "platform/heap.h"
#include "platform/types.h"

namespace platform {

// getgrgid_r, or a stand-in for it.
using GroupEntryReader = std::function<int(
    gid_t gid, group* entry, char* scratch, std::size_t size, group** found)>;

// kErrorSuccess with the name of gid's group in *name; kErrorNoneMapped when
// the database has no such group or cannot be read; kErrorNotEnoughMemory
// when `heap` refuses the scratch that the entry needs.
DWORD ReadGroupName(DWORD gid, const GroupEntryReader& read, Heap& heap,
                    std::string* name);

}  // namespace platform
