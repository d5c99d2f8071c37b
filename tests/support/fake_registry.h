#pragma once
// An in-memory registry with the accessor's semantics, for driving the flow without Windows.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "win/registry.h"

namespace mv::testing {

struct WrongType {  // a value of a type that is neither string nor integer
  bool operator==(const WrongType&) const = default;
};
using FakeValue = std::variant<std::wstring, std::int32_t, WrongType>;

class FakeRegistry : public RegistryAccess {
 public:
  using KeyId = std::pair<RegistryRoot, std::string>;

  void Set(RegistryRoot root, const std::string& key, const std::string& name, FakeValue value) {
    keys_[{root, key}][name] = std::move(value);
  }
  void AddKey(RegistryRoot root, const std::string& key) { keys_[{root, key}]; }
  bool HasKey(RegistryRoot root, const std::string& key) const { return keys_.count({root, key}) != 0; }
  std::optional<FakeValue> Get(RegistryRoot root, const std::string& key, const std::string& name) const {
    auto k = keys_.find({root, key});
    if (k == keys_.end()) return std::nullopt;
    auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    return v->second;
  }

  bool FailWrites = false;
  int Opens = 0;
  int Closes = 0;
  bool KeyOpen() const { return current_.has_value(); }

  void SetRoot(RegistryRoot root) override {
    if (root != root_) current_.reset();
    root_ = root;
  }
  bool OpenKey(std::string_view path, bool create) override {
    KeyId id{root_, std::string(path)};
    if (!keys_.count(id)) {
      failure_ = {RegistryFailure::Kind::NotOpened, std::string(path)};
      if (!create) return false;
      keys_[id];
    }
    ++Opens;
    current_ = id;
    return true;
  }
  bool ValueExists(std::string_view name) override { return current_ && keys_[*current_].count(std::string(name)); }
  std::optional<std::wstring> ReadString(std::string_view name) override {
    failure_ = {RegistryFailure::Kind::NoData, std::string(name)};
    if (!current_) return std::nullopt;
    auto& values = keys_[*current_];
    auto v = values.find(std::string(name));
    if (v == values.end()) return std::nullopt;
    if (auto* s = std::get_if<std::wstring>(&v->second)) return *s;
    failure_.What = RegistryFailure::Kind::WrongType;
    return std::nullopt;
  }
  bool WriteInteger(std::string_view name, std::int32_t value) override {
    failure_ = {RegistryFailure::Kind::NotWritten, std::string(name)};
    if (!current_ || FailWrites) return false;
    keys_[*current_][std::string(name)] = value;
    return true;
  }
  void CloseKey() override {
    if (current_) ++Closes;
    current_.reset();
  }
  const RegistryFailure& LastFailure() const override { return failure_; }

 private:
  std::map<KeyId, std::map<std::string, FakeValue>> keys_;
  RegistryRoot root_ = RegistryRoot::CurrentUser;
  std::optional<KeyId> current_;
  RegistryFailure failure_;
};

}  // namespace mv::testing
