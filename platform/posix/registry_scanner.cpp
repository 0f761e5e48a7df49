#include "platform/posix/registry_internal.h"

#include <utility>

namespace platform {

namespace {

// A key line longer than this names no key (a key's path is far shorter).
constexpr std::size_t kKeyLineLimit = 4096;
// A value name longer than this is kept by no pass over every value; a
// pass for that one name still finds it.
constexpr std::size_t kNameLimit = 16384;
// What the values kept of one key by a pass over every value may take:
// names, kept data and the cost of each entry.
constexpr std::size_t kValuesBudget = std::size_t(64) << 10;
constexpr std::size_t kEntryCost = 64;

constexpr const char* kBadDeletion = "neither data nor a deletion follows =";

class KeyScanner {
 public:
  KeyScanner(TextReader& text, HexStrings hex_strings,
             const ValueSelection& selection, std::vector<KeyScan>& keys)
      : text_(text),
        hex_strings_(hex_strings),
        selection_(selection),
        keys_(keys) {}

  void Run() {
    while (text_.Peek() != TextReader::kEnd) {
      text_.SkipBlanks();
      const int first = text_.Peek();
      if (first == '[') {
        KeyLine();
      } else if ((first == '"' || first == '@') && current_ != nullptr) {
        ValueLine();
      } else {
        text_.SkipLine();  // anything else is skipped, as regedit does
      }
    }
  }

 private:
  void KeyLine() {
    current_ = nullptr;  // values after a bad or deleting line go nowhere
    const bool read = ReadLineUpTo(text_, kKeyLineLimit, &line_);
    text_.SkipLine();
    const std::string_view line = TrimBlanks(line_);
    if (!read || line.back() != ']') return;
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    if (!NormalizeKeyPath(path, &path_)) return;
    if (remove) return DeleteKey();
    for (KeyScan& scan : keys_) {
      const bool same = path_ == scan.path;
      // Creating a key creates its parents.
      if (same || IsBelow(path_, scan.path)) scan.key.exists = true;
      if (same) current_ = &scan;
    }
  }

  // Deleting a key deletes its subkeys; the roots stay.
  void DeleteKey() {
    if (IsRootPath(path_)) return;
    for (KeyScan& scan : keys_) {
      if (scan.path == path_ || IsBelow(scan.path, path_)) {
        scan.key = RegistryFileKey();
        scan.kept_bytes = 0;
      }
    }
  }

  void ValueLine() {
    const bool named = ReadName();
    text_.SkipBlanks();
    if (!named || text_.Peek() != '=') return text_.SkipLine();
    text_.Next();
    text_.SkipBlanks();
    if (name_too_long_ ||
        (selection_.only != nullptr && name_ != *selection_.only)) {
      if (name_too_long_) current_->key.complete = false;
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
    std::map<std::string, RegistryValue>& values = current_->key.values;
    const auto it = values.find(name_);
    if (it == values.end()) return;
    current_->kept_bytes -= Cost(it->first, it->second);
    values.erase(it);
  }

  // The last word on a name wins, a value that cannot be read included.
  void Store(RegistryValue value) {
    Erase();
    const std::size_t cost = Cost(name_, value);
    if (selection_.only == nullptr &&
        current_->kept_bytes + cost > kValuesBudget) {
      current_->key.complete = false;
      return;
    }
    current_->kept_bytes += cost;
    current_->key.values.emplace(name_, std::move(value));
  }

  TextReader& text_;
  const HexStrings hex_strings_;
  const ValueSelection& selection_;
  std::vector<KeyScan>& keys_;
  KeyScan* current_ = nullptr;  // the key whose values the lines set
  bool name_too_long_ = false;
  std::string line_;  // these three reused for every line
  std::string path_;
  std::string name_;
};

}  // namespace

const RegistryValue* RegistryFileKey::FindValue(std::string_view name) const {
  const auto it = values.find(Folded(name));
  return it == values.end() ? nullptr : &it->second;
}

void ScanKeys(TextReader& text, HexStrings hex_strings,
              const ValueSelection& selection, std::vector<KeyScan>* keys) {
  KeyScanner(text, hex_strings, selection, *keys).Run();
}

}  // namespace platform
