// PriorIndex: the records before the one being judged, by id (the first
// occurrence of an id wins), and the set of records a Verdict has judged.
// The index points into the caller's records, which must stay in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "record/record.h"

namespace quillane {

// Ids are SHA-256 outputs: a few of their bytes, mixed with a per-process
// seed, make a good hash.
struct DigestHash {
  std::size_t operator()(const Digest& d) const noexcept;
};

class PriorIndex {
 public:
  static PriorIndex of(std::span<const Record> records);

  // Adds one record at its log position; a Verdict also adds its Cause
  // targets to the judged set.
  void insert(std::size_t position, const Record& record);

  struct Entry {
    std::size_t position;
    const Record* record;
  };
  const Record* find(const RecordId& id) const {
    auto it = by_id_.find(id);
    return it == by_id_.end() ? nullptr : it->second.record;
  }
  const Entry* entry(const RecordId& id) const {
    auto it = by_id_.find(id);
    return it == by_id_.end() ? nullptr : &it->second;
  }
  bool judged(const RecordId& id) const { return judged_.contains(id); }
  std::size_t size() const { return by_id_.size(); }
  void reserve(std::size_t n) { by_id_.reserve(n); }

 private:
  std::unordered_map<RecordId, Entry, DigestHash> by_id_;
  std::unordered_set<RecordId, DigestHash> judged_;
};

// What the checks read: lookups of prior records by id.
using Prior = PriorIndex;

}  // namespace quillane
