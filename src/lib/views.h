// The read-only view classes: Record, Commit, Report and Receipt. None has a
// Python constructor; this module makes every instance.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "lib/py_ref.h"
#include "receipt/receipt.h"
#include "receipt/report.h"
#include "record/record.h"

namespace quillane::py {

struct CommitInfo {
  std::string id;      // hex
  bool accepted = false;
  std::optional<std::string> reason;  // ReasonCode variant name
};

bool add_record_type(PyObject* module);
bool add_commit_type(PyObject* module);
bool add_report_type(PyObject* module);
bool add_receipt_type(PyObject* module);
bool add_writer_type(PyObject* module);

PyObject* new_record_view(const Record& record);
PyObject* new_commit_view(CommitInfo info);
PyObject* new_report_view(Report report);
PyObject* new_receipt_view(Receipt receipt);
// A new list of Record views.
PyObject* record_list(std::span<const Record> records);

}  // namespace quillane::py
