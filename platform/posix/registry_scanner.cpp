#include "platform/posix/registry_scanner.h"

#include <utility>

namespace platform {

const RegistryRoot kRegistryRoots[5] = {
    {"hkey_classes_root", "hkcr", 0x80000000u},
    {"hkey_current_user", "hkcu", 0x80000001u},
    {"hkey_local_machine", "hklm", 0x80000002u},
    {"hkey_users", "hku", 0x80000003u},
    {"hkey_current_config", "hkcc", 0x80000005u},
};

namespace {

// A key line longer than this names no key (a key's path is far shorter).
constexpr std::size_t kKeyLineLimit = 4096;
// A value name longer than this is kept by no pass over every value; a
// pass for that one name still finds it.
constexpr std::size_t kNameLimit = 16384;
// What the values kept by one pass over every value may take: names,
// kept data and the cost of each entry.
constexpr std::size_t kValuesBudget = std::size_t(64) << 10;
constexpr std::size_t kEntryCost = 64;

constexpr const char* kBadDeletion = "neither data nor a deletion follows =";

// `text` equals `lower`, a lower-case name, in any letter case.
bool EqualsFolded(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (FoldCase(text[i]) != lower[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

// `lower` names a key below `upper` (both folded full paths).
bool IsBelow(std::string_view lower, std::string_view upper) {
  return lower.size() > upper.size() && lower[upper.size()] == '\\' &&
         lower.substr(0, upper.size()) == upper;
}

bool AtLineEnd(TextReader& text) {
  const int c = text.Peek();
  return c == '\n' || c == TextReader::kEnd;
}

class KeyScanner {
 public:
  KeyScanner(TextReader& text, bool wide_strings, const std::string& target,
             const ValueSelection& selection)
      : text_(text),
        wide_strings_(wide_strings),
        target_(target),
        selection_(selection) {}

  KeyScan Run() {
    while (text_.Peek() != TextReader::kEnd) {
      text_.SkipBlanks();
      const int first = text_.Peek();
      if (first == '[') {
        KeyLine();
      } else if ((first == '"' || first == '@') && in_target_) {
        ValueLine();
      } else {
        text_.SkipLine();  // anything else is skipped, as regedit does
      }
    }
    return std::move(scan_);
  }

 private:
  void KeyLine() {
    in_target_ = false;  // values after a bad or deleting line go nowhere
    const bool read = ReadLineUpTo(text_, kKeyLineLimit, &line_);
    text_.SkipLine();
    const std::string_view line = TrimBlanks(line_);
    if (!read || line.back() != ']') return;
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    if (!NormalizeKeyPath(path, &path_)) return;
    const bool same = path_ == target_;
    if (remove) {
      if (IsRootPath(path_)) return;  // roots stay
      if (same || IsBelow(target_, path_)) {
        scan_ = KeyScan();
        used_ = 0;
      }
      return;
    }
    // Creating a key creates its parents.
    if (same || IsBelow(path_, target_)) scan_.exists = true;
    in_target_ = same;
  }

  void ValueLine() {
    const std::size_t limit =
        selection_.only != nullptr ? selection_.only->size() : kNameLimit;
    const int named = ReadName(limit);
    text_.SkipBlanks();
    if (named < 0 || text_.Peek() != '=') return text_.SkipLine();
    text_.Next();
    text_.SkipBlanks();
    if (named == 0 ||
        (selection_.only != nullptr && name_ != *selection_.only)) {
      if (named == 0) scan_.complete = false;  // a name too long to keep
      return text_.SkipLine();
    }
    if (text_.Peek() == '-') {
      text_.Next();
      text_.SkipBlanks();
      const bool removes = AtLineEnd(text_);
      text_.SkipLine();
      if (removes) return Erase();
      RegistryValue bad;
      bad.fault = kBadDeletion;
      return Store(std::move(bad));
    }
    Store(ReadValueData(text_, wide_strings_, selection_.keep));
  }

  // The value's name folded into name_, "" for @: 1; 0 when it is longer
  // than `limit`; -1 when it is no name.
  int ReadName(std::size_t limit) {
    name_.clear();
    const bool quoted = text_.Peek() == '"';
    text_.Next();
    if (!quoted) return 1;
    for (;;) {
      int c = text_.Peek();
      if (c == '\n' || c == TextReader::kEnd) return -1;
      text_.Next();
      if (c == '"') return 1;
      if (c == '\\' && (text_.Peek() == '\\' || text_.Peek() == '"')) {
        c = text_.Peek();
        text_.Next();
      }
      if (name_.size() == limit) return 0;
      name_.push_back(FoldCase(char(c)));
    }
  }

  static std::size_t Cost(const std::string& name, const RegistryValue& value) {
    return name.size() + value.data.size() + kEntryCost;
  }

  void Erase() {
    const auto it = scan_.values.find(name_);
    if (it == scan_.values.end()) return;
    used_ -= Cost(it->first, it->second);
    scan_.values.erase(it);
  }

  // The last word on a name wins, a value that cannot be read included.
  void Store(RegistryValue value) {
    Erase();
    const std::size_t cost = Cost(name_, value);
    if (selection_.only == nullptr && used_ + cost > kValuesBudget) {
      scan_.complete = false;
      return;
    }
    used_ += cost;
    scan_.values.emplace(name_, std::move(value));
  }

  TextReader& text_;
  const bool wide_strings_;
  const std::string& target_;
  const ValueSelection& selection_;
  KeyScan scan_;
  std::size_t used_ = 0;    // of kValuesBudget
  bool in_target_ = false;  // the last key line created the target
  std::string line_;        // these three reused for every line
  std::string path_;
  std::string name_;
};

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

KeyScan ScanKey(TextReader& text, bool wide_strings, const std::string& path,
                const ValueSelection& selection) {
  KeyScan scan = KeyScanner(text, wide_strings, path, selection).Run();
  scan.exists = scan.exists || IsRootPath(path);
  return scan;
}

}  // namespace platform
