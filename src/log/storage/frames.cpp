#include "log/storage/frames.h"

namespace quillane {

LogResult<std::string> encode_frame_body(const Record& record) {
  Result<std::string> body = encode_record(record);
  if (!body) return LogError::io(body.error().message);
  if (body->size() > kMaxFrameBody) return LogError::frame_too_large(body->size());
  return std::move(body).value();
}

std::string frame_of(std::string_view body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string frame;
  frame.reserve(kFramePrefixBytes + body.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame.push_back(static_cast<char>((n >> shift) & 0xFF));
  frame.append(body);
  return frame;
}

LogResult<DecodedFrames> decode_frames(std::string_view bytes) {
  DecodedFrames out;
  std::size_t pos = 0;
  while (bytes.size() - pos >= kFramePrefixBytes) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < kFramePrefixBytes; ++i) n = (n << 8) | static_cast<unsigned char>(bytes[pos + i]);
    const std::size_t body_at = pos + kFramePrefixBytes;
    if (n > bytes.size() - body_at) break;  // torn tail
    Result<Record> record = decode_record(bytes.substr(body_at, n));
    if (!record) return LogError::io("Failed to deserialize record: " + record.error().message);
    out.records.push_back(std::move(record).value());
    pos = body_at + n;
  }
  out.end = pos;
  return out;
}

}  // namespace quillane
