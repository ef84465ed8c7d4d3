// The frame format of records.log: a 4-byte big-endian length N, then N
// bytes of the record's canonical JSON; frames follow one another with
// nothing between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/storage/log_error.h"
#include "record/record.h"

namespace quillane {

inline constexpr std::size_t kFramePrefixBytes = 4;
inline constexpr std::uint64_t kMaxFrameBody = 0xFFFFFFFFull;

// The frame body of a record (its canonical bytes); FrameTooLarge when the
// length does not fit the prefix, Io when the record cannot be encoded.
LogResult<std::string> encode_frame_body(const Record& record);

// Prefix and body, ready to append.
std::string frame_of(std::string_view body);

struct DecodedFrames {
  std::vector<Record> records;
  std::size_t end = 0;  // end of the last complete frame; a torn tail follows
};

// Decodes the complete frames of `bytes`. A length is trusted only once the
// bytes it announces are all there; a shorter tail is left for the caller to
// drop. A complete frame that is not one record fails with Io.
LogResult<DecodedFrames> decode_frames(std::string_view bytes);

}  // namespace quillane
