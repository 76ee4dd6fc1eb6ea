// The outcome of reading or checking a table: a value, or a one-line
// message that says what is wrong and where. No partial value is ever
// returned with a message.
#ifndef LOPPER_TABLE_RESULT_H
#define LOPPER_TABLE_RESULT_H

#include <string>
#include <utility>
#include <variant>

namespace lopper {

// A failure's message, e.g. "data.txt: line 7, column 3 (s2): 'abc' is not
// a number". A type of its own so that Result<std::string> is unambiguous.
struct Failure {
  std::string message;
};

// Either a T or a Failure. value() of a failed result, and error() of a
// successful one, throw std::bad_variant_access: check ok() first.
template <class T>
class Result {
 public:
  // Implicit, so that a routine returns a value or a Failure alike.
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  const T& value() const& { return std::get<0>(state_); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const std::string& error() const { return std::get<1>(state_).message; }

 private:
  std::variant<T, Failure> state_;
};

}  // namespace lopper

#endif  // LOPPER_TABLE_RESULT_H
