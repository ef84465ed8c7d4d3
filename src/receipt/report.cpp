#include "receipt/report.h"

#include <cstdio>

namespace quillane {
namespace {

// Text that came from a receipt (or a caller) is written on one line of its
// own: control characters and line separators become \u{..}, so that no
// value can add lines to the report or steer a terminal. Everything else is
// written as it is.
std::string one_line(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    unsigned code = 0;
    std::size_t width = 1;
    if (c < 0x20 || c == 0x7F) {
      code = c;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80) {
      code = static_cast<unsigned char>(text[i + 1]);  // C1 controls, U+0080..U+009F
      width = 2;
    } else if (c == 0xE2 && text.substr(i, 2) == "\xE2\x80" && i + 2 < text.size() &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      code = 0x2000 + static_cast<unsigned char>(text[i + 2]) - 0x80;  // U+2028, U+2029
      width = 3;
    } else {
      out += static_cast<char>(c);
      continue;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u{%x}", code);
    out += buf;
    i += width - 1;
  }
  return out;
}

// "label:" padded so that the value starts at column 18.
void line(std::string& out, std::string_view label, std::string_view value) {
  out.append(label);
  out += ':';
  out.append(label.size() + 1 < 17 ? 17 - label.size() - 1 : 1, ' ');
  out.append(value);
  out += '\n';
}

std::string_view status_word(ValidationStatus status) {
  switch (status) {
    case ValidationStatus::Clean: return "CLEAN";
    case ValidationStatus::Tainted: return "TAINTED";
    case ValidationStatus::Invalid: break;
  }
  return "INVALID";
}

std::string_view profile_word(ProfileStatus status) {
  switch (status) {
    case ProfileStatus::Conformant: return "CONFORMANT";
    case ProfileStatus::NonConformant: return "NON-CONFORMANT";
    case ProfileStatus::Unknown: break;
  }
  return "UNKNOWN";
}

std::string_view declaration_note(const ProfileResult& p) {
  if (!p.declared) return "required";
  if (!p.declaration_matches) return "declared";
  return *p.declaration_matches ? "declared, declaration matches" : "declared, DECLARATION MISMATCH";
}

// "title (n):" then one indented hex id per line; nothing for an empty set.
void id_block(std::string& out, std::string_view title, const std::set<RecordId>& ids) {
  if (ids.empty()) return;
  out.append(title);
  out += " (" + std::to_string(ids.size()) + "):\n";
  for (const RecordId& id : ids) out += "  " + hex_encode(id) + "\n";
}

}  // namespace

std::string_view validation_status_name(ValidationStatus status) {
  switch (status) {
    case ValidationStatus::Clean: return "Clean";
    case ValidationStatus::Tainted: return "Tainted";
    case ValidationStatus::Invalid: break;
  }
  return "Invalid";
}

std::string report_text(const Report& report) {
  std::string out;
  line(out, "status", status_word(report.status));
  if (report.problem) line(out, "problem", one_line(*report.problem));
  if (report.reason) line(out, "reject reason", name_of(*report.reason));
  line(out, "spec version", one_line(report.spec_version));
  line(out, "records", std::to_string(report.record_count));
  line(out, "checked", std::to_string(report.checked_records));
  line(out, "last time", std::to_string(report.last_time));
  line(out, "head hash", hex_encode(report.head_hash));
  line(out, "rules hash", hex_encode(report.rules_hash));
  id_block(out, "retracted", report.retracted);
  id_block(out, "tainted", report.tainted);
  id_block(out, "standing-compromised", report.standing.compromised);
  id_block(out, "unsound selections", report.standing.unsound);
  if (!report.standing.restorations.empty()) {
    out += "restorations (" + std::to_string(report.standing.restorations.size()) + "):\n";
    for (const auto& [restored, restorers] : report.standing.restorations) {
      out += "  " + hex_encode(restored) + " <- \n";
      for (const RecordId& id : restorers) out += "    " + hex_encode(id) + "\n";
    }
  }
  for (const ProfileResult& p : report.profiles) {
    out += "profile " + one_line(p.id) + ": ";
    out.append(profile_word(p.status));
    out += " (";
    out.append(declaration_note(p));
    out += ")\n";
    if (p.status == ProfileStatus::Unknown) continue;
    out += "  hash:          " + hex_encode(p.hash) + "\n";
    for (const ClauseResult& c : p.clauses)
      out += std::string("  ") + (c.passed ? "ok  " : "FAIL") + " " + c.id + ": " + one_line(c.detail) + "\n";
  }
  return out;
}

}  // namespace quillane
