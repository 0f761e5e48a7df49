#include "platform/safeguards.h"

namespace platform {
namespace {

SafeguardListener* g_listener = nullptr;

}  // namespace

void ListenToSafeguards(SafeguardListener* listener) { g_listener = listener; }

void SafeguardNotSetUp(const char* safeguard, unsigned long error) {
  if (g_listener != nullptr) g_listener->NotSetUp(safeguard, error);
}

}  // namespace platform
