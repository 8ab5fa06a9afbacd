#pragma once
// Errors of the system: a kind, shown as a number in the style of the runtime and the
// database engine the administrators know, and a message that names the file
// and says what to do.

#include <stdexcept>
#include <string>
#include <string_view>
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

// What failed, each kind with the number shown to the administrator
// ("Error 3218: ..."), in the style of the runtime and the database engine
// they know. Code that branches on a failure compares kinds; the numbers are
// said only in messages.
enum class ErrorKind : int {
  kNone = 0,  // nothing failed
  // Runtime
  kInvalidCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscript = 9,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kInputPastEnd = 62,
  kPermissionDenied = 70,
  kPathFileAccess = 75,
  kPathNotFound = 76,
  kInvalidUseOfNull = 94,
  // Database engine
  kTableExists = 3010,
  kNoCurrentRecord = 3021,
  kDuplicateValue = 3022,
  kCannotFindFile = 3024,
  kNotEnoughSpace = 3026,
  kReadOnly = 3027,
  kInvalidPath = 3044,
  kCannotOpenFile = 3051,  // locked, read-only or unreadable
  kNullInIndexedField = 3058,
  kSyntaxInExpression = 3075,
  kCannotFindTable = 3078,
  kOtherEngineError = 3146,  // anything else the storage reports
  kFieldTooSmall = 3163,
  kFieldDefinedTwice = 3191,
  kDatabaseExists = 3204,
  kLocked = 3218,
  kItemNotFound = 3265,  // no such field
  kSyntaxInCreateTable = 3290,
  kZeroLengthString = 3315,
  kUnrecognizedFormat = 3343,
  kIndexExists = 3375,
  kFieldExists = 3380,
  kObjectInvalid = 3420,
};

// The kinds by their short names: err::kFileNotFound.
namespace err {
using enum ErrorKind;
}  // namespace err

class Error : public std::runtime_error {
 public:
  // Every failure says where it comes from: there is no default, so each
  // place that raises one decides.
  Error(ErrorKind kind, const std::string& message, Cause cause)
      : std::runtime_error(message), kind_(kind), cause_(cause) {}
  ErrorKind Kind() const noexcept { return kind_; }
  // The number shown with the message.
  int Number() const noexcept { return static_cast<int>(kind_); }
  Cause Origin() const noexcept { return cause_; }
  bool Environment() const noexcept { return cause_ == Cause::kEnvironment; }
  // The same error with "context: " in front of the message (operation, user, file).
  Error WithContext(const std::string& context) const { return Error(kind_, context + ": " + what(), cause_); }

 private:
  ErrorKind kind_;
  Cause cause_;
};

// Hears of each step the tolerant style passes over: where it was (the
// table it wrote or looked up, or the kind of file) and the data Error that
// ended it. The status of a run counts them.
class SkipReporter {
 public:
  virtual void StepSkipped(std::string_view where, const Error& e) = 0;

 protected:
  ~SkipReporter() = default;
};

// Runs one step in the tolerant style: a data Error it raises is passed
// over (and told to `reporter`, when there is one); an environment Error
// goes on to the caller. Returns whether the step completed.
template <class F>
bool TryStep(SkipReporter* reporter, std::string_view where, F&& step) {
  try {
    std::forward<F>(step)();
    return true;
  } catch (const Error& e) {
    if (e.Environment()) throw;
    if (reporter != nullptr) reporter->StepSkipped(where, e);
    return false;
  }
}

// The same where nothing counts the steps passed over (settings, roster
// steps outside a load).
template <class F>
bool TryStep(F&& step) {
  return TryStep(nullptr, {}, std::forward<F>(step));
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
