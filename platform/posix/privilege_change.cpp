#include "platform/posix/internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr std::uint32_t kRevisionMask = 0xFF000000u;
constexpr std::uint32_t kRevision1 = 0x01000000u;
constexpr std::uint32_t kEffective = 0x000001u;

// The capability sets of a file (security.capability) or of this process,
// 64 bits each.
struct Capabilities {
  std::uint64_t permitted = 0;
  std::uint64_t inheritable = 0;
  bool effective = false;  // a file's effective flag
};

std::uint32_t LittleEndian32(const unsigned char* bytes) {
  return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
         std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
}

// The file's capabilities: false when it has none (or they cannot be read).
// Revision 1 holds 32 bits of each set, revisions 2 and 3 64; revision 3
// adds the root id of a user namespace, which does not matter here.
bool FileCapabilities(const char* path, Capabilities* caps) {
  unsigned char data[24];
  ssize_t size = getxattr(path, "security.capability", data, sizeof data);
  if (size < 12) return false;
  std::uint32_t magic = LittleEndian32(data);
  const std::size_t words = (magic & kRevisionMask) == kRevision1 ? 1 : 2;
  if (std::size_t(size) < 4 + 8 * words) return false;
  for (std::size_t i = 0; i < words; ++i) {
    const unsigned char* sets = data + 4 + 8 * i;  // permitted, inheritable
    caps->permitted |= std::uint64_t(LittleEndian32(sets)) << (32 * i);
    caps->inheritable |= std::uint64_t(LittleEndian32(sets + 4)) << (32 * i);
  }
  caps->effective = (magic & kEffective) != 0;
  return true;
}

// The hex number after "\n<name>:" in `text`, or `otherwise`.
std::uint64_t StatusField(const char* text, const char* name,
                          std::uint64_t otherwise) {
  const char* at = std::strstr(text, name);
  return at != nullptr ? std::strtoull(at + std::strlen(name), nullptr, 16)
                       : otherwise;
}

// This process's sets from /proc/self/status: permitted, inheritable and
// bounding; none where it cannot be read, so that any file capability
// counts as added. Plain calls: a stream would bring in the C++ locales.
void OwnCapabilities(Capabilities* own, std::uint64_t* bounding) {
  char text[4096];
  std::size_t used = 0;
  const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t got;
    while (used + 1 < sizeof text &&
           (got = read(fd, text + used, sizeof text - 1 - used)) > 0) {
      used += std::size_t(got);
    }
    close(fd);
  }
  text[used] = '\0';
  own->permitted = StatusField(text, "\nCapPrm:", 0);
  own->inheritable = StatusField(text, "\nCapInh:", 0);
  *bounding = StatusField(text, "\nCapBnd:", ~std::uint64_t(0));
}

}  // namespace

bool PrivilegeChangeAtExec(const char* path, char* why, std::size_t size) {
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  getresuid(&ruid, &euid, &suid);
  getresgid(&rgid, &egid, &sgid);
  if (ruid != euid) {
    std::snprintf(why, size,
                  "the launcher's real and effective user ids differ (%u and "
                  "%u), so any program it starts gains privileges",
                  unsigned(ruid), unsigned(euid));
    return true;
  }
  if (rgid != egid) {
    std::snprintf(why, size,
                  "the launcher's real and effective group ids differ (%u "
                  "and %u), so any program it starts gains privileges",
                  unsigned(rgid), unsigned(egid));
    return true;
  }
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if ((info.st_mode & S_ISUID) != 0 && info.st_uid != euid) {
    std::snprintf(why, size,
                  "%s is set-user-ID to uid %u, the launcher runs as uid %u",
                  path, unsigned(info.st_uid), unsigned(euid));
    return true;
  }
  // Set-group-ID without group execute permission marks mandatory
  // locking, not a change of group.
  if ((info.st_mode & (S_ISGID | S_IXGRP)) == (S_ISGID | S_IXGRP) &&
      info.st_gid != egid) {
    std::snprintf(why, size,
                  "%s is set-group-ID to gid %u, the launcher runs as gid %u",
                  path, unsigned(info.st_gid), unsigned(egid));
    return true;
  }
  // Root gets every capability at exec whatever the file holds.
  Capabilities file;
  if (euid == 0 || !FileCapabilities(path, &file)) return false;
  Capabilities own;
  std::uint64_t bounding;
  OwnCapabilities(&own, &bounding);
  const std::uint64_t gained =
      ((file.permitted & bounding) | (file.inheritable & own.inheritable)) &
      ~own.permitted;
  if (gained == 0 && !file.effective) return false;
  std::snprintf(why, size,
                "%s has file capabilities that raise the privileges it runs "
                "with",
                path);
  return true;
}

}  // namespace platform
