#pragma once
// Errors of the system: a numeric code in the style of the runtime and the
// database engine the administrators know, and a message that names the file
// and says what to do.

#include <stdexcept>
#include <string>
#include <utility>

namespace prax {

// Where a failure comes from. A data failure is the content of a file: a
// malformed line, a value out of range, a name a list cannot store; the
// tolerant steps pass those over. An environment failure is the machine: a
// file busy or locked by another program past the wait, an I/O error, a full
// disk, memory running out, a file changed while it was read. Those are
// never passed over: the day being loaded is rolled back and the command
// ends naming the file, so that nothing goes missing in silence.
enum class Cause { kData, kEnvironment };

class Error : public std::runtime_error {
 public:
  // Every failure says where it comes from: there is no default, so each
  // place that raises one decides.
  Error(int number, const std::string& message, Cause cause)
      : std::runtime_error(message), number_(number), cause_(cause) {}
  int Number() const noexcept { return number_; }
  Cause Origin() const noexcept { return cause_; }
  bool Environment() const noexcept { return cause_ == Cause::kEnvironment; }
  // The same error with "context: " in front of the message (operation, user, file).
  Error WithContext(const std::string& context) const { return Error(number_, context + ": " + what(), cause_); }

 private:
  int number_;
  Cause cause_;
};

// Error numbers used across the system.
namespace err {
// Runtime
inline constexpr int kInvalidCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kSubscript = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kFileNotFound = 53;
inline constexpr int kInputPastEnd = 62;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kInvalidUseOfNull = 94;
// Database engine
inline constexpr int kTableExists = 3010;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kDuplicateValue = 3022;
inline constexpr int kCannotFindFile = 3024;
inline constexpr int kCannotOpenFile = 3051;  // locked, read-only or unreadable
inline constexpr int kNullInIndexedField = 3058;
inline constexpr int kSyntaxInExpression = 3075;
inline constexpr int kCannotFindTable = 3078;
inline constexpr int kInvalidSqlStatement = 3129;
inline constexpr int kFieldTooSmall = 3163;
inline constexpr int kDatabaseExists = 3204;
inline constexpr int kItemNotFound = 3265;  // no such field
inline constexpr int kSyntaxInCreateTable = 3290;
inline constexpr int kSyntaxInAlterTable = 3293;
inline constexpr int kZeroLengthString = 3315;
inline constexpr int kUnrecognizedFormat = 3343;
inline constexpr int kIndexExists = 3375;
inline constexpr int kFieldExists = 3380;
inline constexpr int kOtherEngineError = 3146;  // anything else the storage reports
}  // namespace err

// Runs one step in the tolerant style: a data Error it raises is passed
// over; an environment Error goes on to the caller. Returns whether the step
// completed.
template <class F>
bool TryStep(F&& step) {
  try {
    std::forward<F>(step)();
    return true;
  } catch (const Error& e) {
    if (e.Environment()) throw;
    return false;
  }
}

// Memory ran out while `what` (a file, named) was handled.
inline Error OutOfMemory(const std::string& what) {
  return Error(err::kOutOfMemory,
               "Out of memory: " + what + ". Close other programs (or give the machine more memory), then run the "
               "command again; the days stored before are kept.",
               Cause::kEnvironment);
}

// Passes an environment Error on from a catch site that otherwise tolerates
// the failure.
inline void RethrowEnvironment(const Error& e) {
  if (e.Environment()) throw e;
}

}  // namespace prax
