#include "platform/posix/registry_scanner.h"

#include <utility>

namespace platform {

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

class KeyScanner {
 public:
  KeyScanner(TextReader& text, HexStrings hex_strings,
             const std::string& target, const ValueSelection& selection)
      : text_(text),
        hex_strings_(hex_strings),
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
    const bool named = ReadName();
    text_.SkipBlanks();
    if (!named || text_.Peek() != '=') return text_.SkipLine();
    text_.Next();
    text_.SkipBlanks();
    if (name_too_long_ ||
        (selection_.only != nullptr && name_ != *selection_.only)) {
      if (name_too_long_) scan_.complete = false;
      return text_.SkipLine();
    }
    if (text_.Peek() == '-') {
      text_.Next();
      text_.SkipBlanks();
      const bool removes = text_.AtLineEnd();
      text_.SkipLine();
      if (removes) return Erase();
      RegistryValue bad;
      bad.fault = kBadDeletion;
      return Store(std::move(bad));
    }
    Store(ReadValueData(text_, hex_strings_, selection_.keep));
  }

  // The value's name folded into name_, "" for @; false when it is no
  // name. One longer than this pass looks for is not kept.
  bool ReadName() {
    name_.clear();
    name_too_long_ = false;
    if (text_.Peek() == '@') {
      text_.Next();
      return true;
    }
    const std::size_t limit =
        selection_.only != nullptr ? selection_.only->size() : kNameLimit;
    return ReadQuoted(text_, [this, limit](char c) {
      if (name_.size() == limit) name_too_long_ = true;
      if (!name_too_long_) name_.push_back(FoldCase(c));
    });
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
  const HexStrings hex_strings_;
  const std::string& target_;
  const ValueSelection& selection_;
  KeyScan scan_;
  std::size_t used_ = 0;    // of kValuesBudget
  bool in_target_ = false;  // the last key line created the target
  bool name_too_long_ = false;
  std::string line_;        // these three reused for every line
  std::string path_;
  std::string name_;
};

}  // namespace

KeyScan ScanKey(TextReader& text, HexStrings hex_strings,
                const std::string& path, const ValueSelection& selection) {
  KeyScan scan = KeyScanner(text, hex_strings, path, selection).Run();
  scan.exists = scan.exists || IsRootPath(path);
  return scan;
}

}  // namespace platform
