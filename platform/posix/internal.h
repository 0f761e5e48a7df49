// The Linux stand-in's own helpers behind the platform interfaces, which the
// programs never call: a child's start and wait, SIGCHLD while it runs, the
// signal relay, the descriptors it inherits, SIDs and group names, and
// text-mode reading. The registry file's parts are in registry_internal.h.
#pragma once

#include <grp.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "platform/security.h"
#include "platform/types.h"

namespace platform {

// --- A child's start and wait (child.cpp) ---

struct ChildOptions {
  bool inherit_descriptors = true;  // false: only 0, 1 and 2 pass
};

// Starts the program file `path` (no search, no shell) with `args` as its
// argument vector, in the caller's environment and directory: 0 with *pid
// set, or the error number (ENOMEM: no memory to prepare the start). Until
// it is waited for, the launcher's signals are relayed to it, and it gets
// SIGTERM should the launcher die first.
int SpawnChild(const char* path, const std::vector<std::string>& args,
               const ChildOptions& options, pid_t* pid);

// Whether a spawn error means no process was created, not a program that
// could not run.
bool IsCreationFailure(int error);

// Waits for the child to end and reaps it: true with its wait status. True
// or false, the child is let go and its pid must never be signalled again.
bool WaitAndReap(pid_t pid, int* wait_status);

// Reaps the child if it has ended: 1 ended (status set), 0 still running,
// -1 error. At 1 or -1 the child is let go, as by WaitAndReap.
int PollAndReap(pid_t pid, int* wait_status);

// The child's own exit code, or 128 + the signal that ended it.
int ExitCodeOf(int wait_status);

// --- SIGCHLD while a child runs (child_signal.cpp) ---

// With every signal blocked, before a child starts: counts it, and holds
// SIGCHLD at its default while any counted child runs; true when the caller
// ignored it, for the child to ignore it again.
bool DefaultChildSignal();

// A counted child was reaped, lost or never started: with none left, the
// caller's ignoring of SIGCHLD is put back.
void RestoreChildSignal();

// Sets SIGCHLD's handler; async-signal-safe, for the new child too.
void SetChildSignal(void (*handler)(int));

// --- The signal relay (signal_relay.cpp) ---

// With every signal blocked, before a child starts: catches TERM, HUP, INT
// and QUIT, except those ignored, which stay ignored here and in the child.
void CatchRelayedSignals();

// Signals caught from now on go to `child`.
void RelayTo(pid_t child);

// `child` has ended, or never started (0): the relayed signals get their
// dispositions back, unless another child has taken its place.
void StopRelay(pid_t child);

// In a new child before exec; async-signal-safe: what was caught is back
// at its default.
void ResetRelayedSignals();

// --- Descriptors a started program inherits (descriptors.cpp) ---

// Marks every descriptor above standard error close-on-exec. Between vfork
// and exec: async-signal-safe, allocates nothing.
void KeepDescriptorsFromProgram();

// The last resort of KeepDescriptorsFromProgram, without close_range or
// /proc: every number that can be open is asked about with poll. Apart, so
// that bench can measure it.
void MarkEveryPossibleDescriptor();

// --- Privileges at exec (privilege_change.cpp) ---

// Whether starting `path` may change privileges, which clears the
// parent-death signal, with why in `why` (cut to `size`). For the trace
// only; takes no memory.
bool PrivilegeChangeAtExec(const char* path, char* why, std::size_t size);

// --- SIDs and account names (sid.cpp, group_name.cpp) ---

constexpr BYTE kSidRevision = 1;
constexpr BYTE kSidMaxSubAuthorities = 15;  // SID_MAX_SUB_AUTHORITIES
constexpr SidIdentifierAuthority kUnixAuthority = {{0, 0, 0, 0, 0, 22}};
constexpr DWORD kUnixGroupRid = 2;  // S-1-22-2-<gid>

// SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED.
constexpr DWORD kGroupEnabledAttributes = 0x7;

constexpr int kSidTypeGroup = 2;  // SidTypeGroup
constexpr int kSidTypeAlias = 4;  // SidTypeAlias

constexpr DWORD kErrorInvalidSid = 1337;  // ERROR_INVALID_SID

// A SID taken apart.
struct SidParts {
  SidIdentifierAuthority authority;
  BYTE count;
  DWORD sub_authorities[kSidMaxSubAuthorities];
};

// Bytes of a SID with `count` sub-authorities: 8 + 4 * count.
std::size_t SidLength(BYTE count);

// Writes the SID into `out`, which holds SidLength(count) bytes.
void WriteSid(const SidIdentifierAuthority& authority, BYTE count,
              const DWORD* sub_authorities, void* out);

// Takes `sid` apart; false unless it is a revision-1 SID of at most 15
// sub-authorities.
bool ReadSid(const void* sid, SidParts* parts);

// A group's name by gid: kErrorSuccess with the name, else the code for
// LookupAccount to answer (kErrorNoneMapped for a gid without one).
using GroupNameLookup = std::function<DWORD(DWORD gid, std::string* name)>;

// LookupAccountSidA on the local system: the Administrators SID names the
// gid-0 group, S-1-22-2-<gid> that Unix group. A buffer too small writes
// nothing and raises both capacities to the sizes needed.
DWORD LookupAccount(const void* sid, const GroupNameLookup& group_name,
                    char* name, DWORD* name_size, char* domain,
                    DWORD* domain_size, int* use);

// The token's groups: the effective gid, then each supplementary gid not
// seen already, in their order.
std::vector<DWORD> TokenGroupIds(DWORD effective_gid,
                                 const std::vector<DWORD>& supplementary);

// GetTokenInformation(TokenGroups) for `gids`: *needed always gets the
// record's size; kErrorInsufficientBuffer, nothing written, when `length`
// is short.
DWORD WriteTokenGroups(const std::vector<DWORD>& gids, void* buffer,
                       DWORD length, DWORD* needed);

// getgrgid_r, or a stand-in for it.
using GroupEntryReader = std::function<int(
    gid_t gid, group* entry, char* scratch, std::size_t size, group** found)>;

// The name of gid's group, its scratch grown from `heap` for as long as the
// database asks for more: kErrorNoneMapped for no such group or a database
// that cannot be read, kErrorNotEnoughMemory when `heap` refuses.
DWORD ReadGroupName(DWORD gid, const GroupEntryReader& read, Heap& heap,
                    std::string* name);

// --- Text mode (text_mode.cpp) ---

// A file opened in binary, read as the Windows C runtime's text mode reads
// it: CR LF comes out as LF, another CR stays, and a Ctrl-Z ends the file.
class TextModeReader {
 public:
  explicit TextModeReader(std::FILE* file) : file_(file) {}

  // fgets over the translated characters; null when the end comes first (or
  // size is not positive).
  char* Gets(char* buffer, int size);

 private:
  int GetChar();  // the next translated character, or EOF

  std::FILE* file_;
  bool ended_ = false;  // a Ctrl-Z was read: nothing after it is
};

}  // namespace platform
