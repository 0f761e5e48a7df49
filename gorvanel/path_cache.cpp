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

// Each directory goes into the Java VM's command line between double
// quotes, where a quote, carriage return or line feed would change how the
// line is split, and with it which program runs. So would a lone lead byte
// at its end, which takes the separator or closing quote after it for its
// second byte. No Windows path holds either, so such a value reads as
// missing.
bool FitsBetweenQuotes(const char* directory,
                       const platform::CodePage& code_page) {
  return std::strpbrk(directory, "\"\r\n") == nullptr &&
         !platform::EndsInLoneLeadByte(code_page, directory);
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
  if (FitsBetweenQuotes(field, code_page_)) return 1;
  field[0] = '\0';
  return 0;
}

PathCache* CurrentPathCache() { return g_path_cache; }

void SetCurrentPathCache(PathCache* cache) { g_path_cache = cache; }

}  // namespace gorvanel
