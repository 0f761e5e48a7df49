// The installation's paths for one run, each read from the registry the
// first time it is asked for and kept once known.
#pragma once

#include "platform/code_page.h"
#include "platform/path_style.h"
#include "platform/registry.h"

namespace gorvanel {

// The registry keys that a run reads, by full path, up to a null.
extern const char* const kRegistryKeysRead[];

// Every field's capacity, terminator included: a limit the operator sees.
constexpr int kPathFieldSize = 260;

class PathCache {
 public:
  // Starts with every field empty.
  PathCache(platform::Registry& registry, const platform::PathStyle& paths,
            const platform::CodePage& code_page);
  PathCache(const PathCache&) = delete;
  PathCache& operator=(const PathCache&) = delete;

  // Each accessor reads its value while its field is empty and returns the
  // field itself (empty when the value is missing); the text stays valid as
  // long as the cache lives.

  // "<installation directory>\java\archive\gorvanel.jar"; reading it reads
  // the installation directory. An installation directory that the jar path
  // would not fit counts as missing.
  const char* JarPath();
  // optPathName, read by way of the jar path.
  const char* InstallationDirectory();
  // etcPathName.
  const char* ConfigurationDirectory();
  // varPathName.
  const char* VariableDataDirectory();
  // jrePathName, from the site key.
  const char* JavaRuntimeDirectory();

 private:
  void ReadIfEmpty(const char* key_path, const char* value_name, char* field);
  int ReadInto(const char* key_path, const char* value_name, char* field);

  platform::Registry& registry_;
  const platform::PathStyle& paths_;
  const platform::CodePage& code_page_;
  char jar_path_[kPathFieldSize] = {};
  char installation_directory_[kPathFieldSize] = {};
  char variable_data_directory_[kPathFieldSize] = {};
  char configuration_directory_[kPathFieldSize] = {};
  char java_runtime_directory_[kPathFieldSize] = {};
};

// The path cache of the current run: set by the entry around the Java
// command execution, null otherwise.
PathCache* CurrentPathCache();
void SetCurrentPathCache(PathCache* cache);

}  // namespace gorvanel
