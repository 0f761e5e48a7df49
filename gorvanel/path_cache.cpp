#include "gorvanel/path_cache.h"

#include <cstddef>
#include <cstring>

#include "gorvanel/registry_reader.h"

namespace gorvanel {
namespace {

const char kProviderKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Talvane\\Kestrin-NLX\\Datumwell\\"
    "CurrentVersion";
const char kSiteKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Talvane\\Vantrel_Capacity_Steward\\Site\\"
    "CurrentVersion";

PathCache* g_path_cache = nullptr;

// A directory stands between double quotes in the Java VM's command line,
// where a quote, carriage return or line feed would change how the line is
// split, and with it which program runs; no Windows path holds one.
bool HoldsNoQuoteOrLineBreak(const char* directory) {
  return std::strpbrk(directory, "\"\r\n") == nullptr;
}

}  // namespace

const char* const kRegistryKeysRead[] = {kProviderKey, kSiteKey, nullptr};

PathCache::PathCache(platform::Registry& registry,
                     const platform::PathStyle& paths,
                     const platform::CodePage& code_page)
    : registry_(registry), paths_(paths), code_page_(code_page) {}

const char* PathCache::JarPath() {
  if (jar_path_[0] != '\0') return jar_path_;
  if (ReadInto(kProviderKey, "optPathName", installation_directory_) == 1) {
    const char suffix[] = "\\java\\archive\\gorvanel.jar";
    const std::size_t directory = std::strlen(installation_directory_);
    if (directory + sizeof(suffix) <= sizeof(jar_path_)) {
      std::memcpy(jar_path_, installation_directory_, directory);
      for (std::size_t i = 0; i < sizeof(suffix); ++i)
        jar_path_[directory + i] =
            suffix[i] == '\\' ? paths_.separator : suffix[i];
      return jar_path_;
    }
  }
  // A directory that leaves no room for the suffix would give a cut jar
  // path naming some other file: it counts as missing, and both fields stay
  // empty so that they never disagree.
  jar_path_[0] = '\0';
  installation_directory_[0] = '\0';
  return jar_path_;
}

const char* PathCache::InstallationDirectory() {
  if (installation_directory_[0] == '\0') JarPath();
  return installation_directory_;
}

const char* PathCache::ConfigurationDirectory() {
  ReadIfEmpty(kProviderKey, "etcPathName", configuration_directory_);
  return configuration_directory_;
}

const char* PathCache::VariableDataDirectory() {
  ReadIfEmpty(kProviderKey, "varPathName", variable_data_directory_);
  return variable_data_directory_;
}

const char* PathCache::JavaRuntimeDirectory() {
  ReadIfEmpty(kSiteKey, "jrePathName", java_runtime_directory_);
  return java_runtime_directory_;
}

void PathCache::ReadIfEmpty(const char* key_path, const char* value_name,
                            char* field) {
  if (field[0] == '\0') ReadInto(key_path, value_name, field);
}

int PathCache::ReadInto(const char* key_path, const char* value_name,
                        char* field) {
  RegistryReader reader(registry_);
  if (reader.ReadValue(key_path, value_name,
                       reinterpret_cast<platform::BYTE*>(field),
                       kPathFieldSize) != 1)
    return 0;
  // A lone lead byte at the end would take the separator or quote after it
  // for its second byte.
  if (HoldsNoQuoteOrLineBreak(field) &&
      !platform::EndsInLoneLeadByte(code_page_, field))
    return 1;
  field[0] = '\0';
  return 0;
}

PathCache* CurrentPathCache() { return g_path_cache; }

void SetCurrentPathCache(PathCache* cache) { g_path_cache = cache; }

}  // namespace gorvanel
