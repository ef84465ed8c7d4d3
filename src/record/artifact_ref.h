// ArtifactRef: the identity of one artifact (scheme, hex digest, optional
// name), its strict decoding, and the well-formedness rule for lists of them.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <vector>

#include "base/json_reader.h"
#include "base/json_value.h"

namespace quillane {

struct ArtifactRef {
  std::string scheme;
  std::string digest;
  std::optional<std::string> name;

  bool operator==(const ArtifactRef&) const = default;
  // scheme, then digest, then name (bytewise; an absent name sorts first).
  std::strong_ordering operator<=>(const ArtifactRef&) const = default;
};

Result<ArtifactRef> read_artifact_ref(JsonReader& r);
Json artifact_ref_json(const ArtifactRef& ref);

bool artifact_ref_well_formed(const ArtifactRef& ref);
// Every element well formed and the list strictly ascending.
bool artifact_refs_well_formed(const std::vector<ArtifactRef>& refs);

}  // namespace quillane
