#include "verify/verifier/prior_index.h"

#include <random>

namespace quillane {
namespace {

std::uint64_t process_seed() {
  static const std::uint64_t seed = [] {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device();
  }();
  return seed;
}

}  // namespace

std::size_t DigestHash::operator()(const Digest& d) const noexcept {
  std::uint64_t a, b;
  std::memcpy(&a, d.data(), 8);
  std::memcpy(&b, d.data() + 24, 8);
  std::uint64_t h = (a ^ process_seed()) * 0x9E3779B97F4A7C15ULL;
  return static_cast<std::size_t>(h ^ (h >> 29) ^ b);
}

PriorIndex PriorIndex::of(std::span<const Record> records) {
  PriorIndex index;
  index.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) index.insert(i, records[i]);
  return index;
}

void PriorIndex::insert(std::size_t position, const Record& record) {
  by_id_.try_emplace(record.id, Entry{position, &record});
  if (record.kind != Kind::Verdict) return;
  for (const Ref& ref : record.refs)
    if (ref.type == RefType::Cause) judged_.insert(ref.target);
}

}  // namespace quillane
