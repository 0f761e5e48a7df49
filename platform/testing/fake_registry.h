// Keys and values below HKEY_LOCAL_MACHINE, found as Windows finds them:
// key and value names compared without regard to case. Every call is
// recorded with its arguments; one kind of call can be made to fail.
#pragma once

#include <strings.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/fakes.h"

namespace platform_test {

struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

class FakeRegistry : public platform::Registry {
 public:
  using Values = std::map<std::string, std::string, NoCase>;  // the data

  enum class Call { kNone, kOpen, kQuery };
  struct Open {
    platform::HKEY root;
    std::string sub_key;
    DWORD options;
    DWORD access;
    bool operator==(const Open& o) const {
      return std::tie(root, sub_key, options, access) ==
             std::tie(o.root, o.sub_key, o.options, o.access);
    }
  };
  struct Query {
    std::string name;
    bool reserved;  // a reserved argument was passed
    DWORD type;     // *type on entry, kNoType when no place was given
    bool data;      // a destination was given
    DWORD offered;  // *size on entry
    bool operator==(const Query& o) const {
      return std::tie(name, reserved, type, data, offered) ==
             std::tie(o.name, o.reserved, o.type, o.data, o.offered);
    }
  };
  static constexpr DWORD kNoType = 0xFFFFFFFFu;

  // A string value, stored with its terminator.
  void Set(const std::string& key, const std::string& name,
           const std::string& text) {
    keys[key][name] = text + '\0';
  }

  LONG RegOpenKeyExA(platform::HKEY root, const char* sub_key, DWORD options,
                     DWORD access, platform::HKEY* result) override {
    opens.push_back({root, sub_key, options, access});
    if (fail == Call::kOpen) return fail_code;
    if (root != platform::LocalMachineKey())
      return platform::kErrorInvalidHandle;
    auto key = keys.find(sub_key);
    if (key == keys.end()) return platform::kErrorFileNotFound;
    ++open_keys;
    *result = reinterpret_cast<platform::HKEY>(&key->second);
    return 0;
  }

  // A value too large for the destination gives ERROR_MORE_DATA and leaves
  // the start of it there, as Windows may.
  LONG RegQueryValueExA(platform::HKEY key, const char* name, DWORD* reserved,
                        DWORD* type, platform::BYTE* data,
                        DWORD* size) override {
    queries.push_back({name, reserved != nullptr,
                       type != nullptr ? *type : kNoType, data != nullptr,
                       *size});
    if (fail == Call::kQuery) return fail_code;
    Values& values = *reinterpret_cast<Values*>(key);
    auto value = values.find(name);
    if (value == values.end()) return platform::kErrorFileNotFound;
    DWORD room = *size;
    *size = static_cast<DWORD>(value->second.size());
    if (data == nullptr) return 0;
    std::memcpy(data, value->second.data(), *size < room ? *size : room);
    return *size > room ? platform::kErrorMoreData : 0;
  }

  LONG RegCloseKey(platform::HKEY) override {
    --open_keys;
    return 0;
  }

  // The subkeys opened and the value names queried, in order.
  Log Opened() const {
    Log names;
    for (const Open& call : opens) names.push_back(call.sub_key);
    return names;
  }
  Log Queried() const {
    Log names;
    for (const Query& call : queries) names.push_back(call.name);
    return names;
  }

  std::map<std::string, Values, NoCase> keys;
  Call fail = Call::kNone;
  LONG fail_code = platform::kErrorAccessDenied;

  std::vector<Open> opens;
  std::vector<Query> queries;
  int open_keys = 0;
};

}  // namespace platform_test
