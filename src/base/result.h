// Failures below the Python layer are values: an Error carries its full text.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quillane {

struct Error {
  std::string message;
};

// A value or the error that prevented it. `E` is Error below most layers;
// the log subsystem uses its own error type.
template <typename T, typename E = Error>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// Success, or the error of an operation that yields nothing else.
template <typename E>
class [[nodiscard]] BasicStatus {
 public:
  BasicStatus() = default;
  BasicStatus(E error) : error_(std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const E& error() const& { return *error_; }
  E&& error() && { return std::move(*error_); }

 private:
  std::optional<E> error_;
};

using Status = BasicStatus<Error>;

}  // namespace quillane

// Propagate a failed Status or Result from the enclosing function.
#define QL_TRY(expr)                                   \
  do {                                                 \
    auto&& ql_try_status_ = (expr);                    \
    if (!ql_try_status_.ok()) return std::move(ql_try_status_).error(); \
  } while (0)

#define QL_CONCAT_INNER(a, b) a##b
#define QL_CONCAT(a, b) QL_CONCAT_INNER(a, b)
#define QL_ASSIGN_IMPL(tmp, lhs, expr)          \
  auto tmp = (expr);                            \
  if (!tmp.ok()) return std::move(tmp).error(); \
  lhs = std::move(tmp).value()
// Assign the value of a Result or propagate its error.
#define QL_ASSIGN(lhs, expr) QL_ASSIGN_IMPL(QL_CONCAT(ql_assign_, __LINE__), lhs, expr)
