// The installation settings lookup: one whitelisted value of the site or
// domain key.
#pragma once

#include "platform/registry.h"

namespace tarvo {

// Which key LookupSetting reads.
constexpr int kSiteKeyKind = 1;
constexpr int kDomainKeyKind = 2;

// The registry keys that a run reads, by full path, up to a null: the site
// key (the domain key is read by no run).
extern const char* const kRegistryKeysRead[];

// A directory's or registry text's capacity, terminator included: a limit
// the operator sees.
constexpr int kPathCapacity = 260;

// 1 with the value's text in `result` when a whitelisted, present, non-empty
// value was read; 0 otherwise, `result` untouched. "PathName..." reads
// optPathName.
int LookupSetting(platform::Registry& registry, int key_kind,
                  const char* value_name, char (&result)[kPathCapacity]);

}  // namespace tarvo
