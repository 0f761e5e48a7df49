#include "platform/safeguards.h"

namespace platform {
namespace {

SafeguardListener* g_listener = nullptr;

}  // namespace

void ListenToSafeguards(SafeguardListener* listener) { g_listener = listener; }

void SafeguardNotSetUp(const char* safeguard, unsigned long error) {
  if (g_listener != nullptr) g_listener->NotSetUp(safeguard, error);
}

void SafeguardMayNotHold(const char* safeguard, const char* why) {
  if (g_listener != nullptr) g_listener->MayNotHold(safeguard, why);
}

bool SafeguardsListened() { return g_listener != nullptr; }

}  // namespace platform
