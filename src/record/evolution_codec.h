// Helpers shared by the evolution payload codecs: whole-text decoding and
// enumerations with one data-carrying variant, written either as the name of
// a unit variant or as the one-key object {name: data}.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"

namespace quillane {

// Reads one value of T from the whole text; only white space may follow.
template <typename T>
Result<T> decode_whole(std::string_view bytes, Result<T> (*read)(JsonReader&)) {
  JsonReader r(bytes);
  QL_ASSIGN(T value, read(r));
  QL_TRY(r.finish());
  return value;
}

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
