// What the protocol works out from a text (an address, a TypeInformation), kept by the text for
// every DTM of the process: the DTMs of one device type carry the same texts, so each text is
// read once instead of per instance and per transaction. An entry never changes once stored, and
// the table is locked, so DTMs on any thread share it. It stops growing at its limit; later texts
// are then worked out per call.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"

// Failures that come from the moment rather than from the text: memory, a thread that has not set
// up COM, the parser's class missing. They are never kept: kept, one such moment would fail that
// text for every later DTM of the process.
inline bool FailureOfTheMoment(HRESULT hr) {
  return hr == E_OUTOFMEMORY || hr == CO_E_NOTINITIALIZED || hr == REGDB_E_CLASSNOTREG;
}

template <class Value>
class TextMemo {
 public:
  explicit TextMemo(std::size_t limit = 16384) : m_limit(limit) {}

  // A copy of the value kept for the key; false when there is none.
  bool Find(std::u16string_view key, Value* out) const {
    std::shared_lock read(m_lock);
    auto it = m_values.find(key);
    if (it == m_values.end()) return false;
    *out = it->second;
    return true;
  }

  // Runs fn(const Value&) on the value kept for the key, under the table's lock, without copying
  // it; false (fn not run) when there is none. fn must not use the memo.
  template <class F>
  bool Visit(std::u16string_view key, F&& fn) const {
    std::shared_lock read(m_lock);
    auto it = m_values.find(key);
    if (it == m_values.end()) return false;
    fn(it->second);
    return true;
  }

  void Store(std::u16string_view key, const Value& value) {
    std::unique_lock write(m_lock);
    if (m_values.size() < m_limit) m_values.try_emplace(std::u16string(key), value);
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view text) const { return std::hash<std::u16string_view>()(text); }
  };

  std::size_t m_limit;
  mutable std::shared_mutex m_lock;
  std::unordered_map<std::u16string, Value, Hash, std::equal_to<>> m_values;
};

// The memo of one kind of result, made on first use. It goes with the module's statics: the
// module's threads hold the module loaded until they have ended, so none reads it afterwards.
template <class Value, class Tag>
TextMemo<Value>& SharedMemo() {
  static TextMemo<Value> memo;
  return memo;
}
