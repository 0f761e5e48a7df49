#include "platform/posix/registry_internal.h"

namespace platform {

constexpr RegistryRoot kRegistryRoots[5] = {
    {"hkey_classes_root", "hkcr", 0x80000000u},
    {"hkey_current_user", "hkcu", 0x80000001u},
    {"hkey_local_machine", "hklm", 0x80000002u},
    {"hkey_users", "hku", 0x80000003u},
    {"hkey_current_config", "hkcc", 0x80000005u},
};

namespace {

// `text` equals `lower`, a lower-case name, in any letter case.
bool EqualsFolded(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (FoldCase(text[i]) != lower[i]) return false;
  }
  return true;
}

}  // namespace

bool NormalizeKeyPath(std::string_view path, std::string* normalized) {
  const std::size_t slash = path.find('\\');
  const std::string_view root = path.substr(0, slash);
  const RegistryRoot* found = nullptr;
  for (const RegistryRoot& candidate : kRegistryRoots) {
    if (EqualsFolded(root, candidate.name) ||
        EqualsFolded(root, candidate.short_name)) {
      found = &candidate;
    }
  }
  if (found == nullptr) return false;
  normalized->assign(found->name);
  if (slash == std::string_view::npos) return true;
  const std::string_view rest = path.substr(slash + 1);
  if (rest.empty() || rest.front() == '\\' || rest.back() == '\\' ||
      rest.find("\\\\") != std::string_view::npos) {
    return false;
  }
  normalized->push_back('\\');
  for (char c : rest) normalized->push_back(FoldCase(c));
  return true;
}

bool IsRootPath(std::string_view normalized) {
  return normalized.find('\\') == std::string_view::npos;
}

bool IsBelow(std::string_view lower, std::string_view upper) {
  return lower.size() > upper.size() && lower[upper.size()] == '\\' &&
         lower.substr(0, upper.size()) == upper;
}

}  // namespace platform
