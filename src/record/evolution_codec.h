// Helpers shared by the evolution payload codecs: enumerations with one
// data-carrying variant, written either as the name of a unit variant or as
// the one-key object {name: data}.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"
#include "base/strict_decoders.h"

namespace quillane {

// Reads a variant's name. `names` lists every variant in declaration order;
// `data_name` is the one that carries data. A unit variant must be a string
// and the data variant a one-key object: for it the reader is left at the
// data, and close_variant must follow once the data is read.
Result<std::string> read_variant_name(JsonReader& r, std::string_view expected,
                                      std::span<const std::string_view> names, std::string_view data_name);
// Closes the object of a data-carrying variant; a second key is an error.
Status close_variant(JsonReader& r);

// {name: data}
Json variant_json(std::string_view name, Json data);

}  // namespace quillane
