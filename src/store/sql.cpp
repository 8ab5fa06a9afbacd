#include "store/sql.h"

#include <charconv>
#include <limits>

#include "platform/error.h"

namespace prax::db::sql {
namespace {

enum class Tok { End, Ident, Number, String, BadString, Star, Comma, LParen, RParen, Eq, Ne, Gt, Dot, Minus, Semicolon, Other };

struct Token {
  Tok kind = Tok::End;
  std::string_view text;  // for String: the content without quotes
  size_t pos = 0;         // offset of the token in the statement
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimAll(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

class Parser {
 public:
  explicit Parser(std::string_view src) : src_(src) { Advance(); }

  Statement ParseStatement() {
    if (Keyword("SELECT")) return ParseSelect();
    if (Keyword("DELETE")) return ParseDelete();
    if (Keyword("ALTER")) return ParseAlter();
    if (Keyword("CREATE")) {
      Advance();
      if (Keyword("TABLE")) return ParseCreateTable();
      if (Keyword("UNIQUE")) return ParseCreateIndex();
      Fail(err::kSyntaxInCreateTable, "Syntax error in CREATE TABLE statement.");
    }
    Fail(err::kInvalidSqlStatement, "Invalid SQL statement; expected 'ALTER', 'CREATE', 'DELETE' or 'SELECT'.");
  }

  Expr ParseCriteriaOnly() {
    const size_t start = cur_.pos;
    Expr e = ParseExpr(start);
    if (cur_.kind != Tok::End) FailExpr(start);
    return e;
  }

 private:
  std::string_view src_;
  size_t next_ = 0;
  Token cur_;

  [[noreturn]] void Fail(int number, const std::string& message) { throw Error(number, message); }

  [[noreturn]] void FailExpr(size_t start) {
    std::string_view rest = start < src_.size() ? src_.substr(start) : std::string_view{};
    Fail(err::kSyntaxInExpression,
         "Syntax error (missing operator) in query expression '" + std::string(TrimAll(rest)) + "'.");
  }

  void Advance() {
    while (next_ < src_.size() && IsSpace(src_[next_])) ++next_;
    cur_ = Token{};
    cur_.pos = next_;
    if (next_ >= src_.size()) {
      cur_.kind = Tok::End;
      return;
    }
    const char c = src_[next_];
    if (IsIdentStart(c)) {
      size_t end = next_ + 1;
      while (end < src_.size() && IsIdentChar(src_[end])) ++end;
      cur_.kind = Tok::Ident;
      cur_.text = src_.substr(next_, end - next_);
      next_ = end;
      return;
    }
    if (IsDigit(c)) {
      size_t end = next_ + 1;
      while (end < src_.size() && IsDigit(src_[end])) ++end;
      cur_.kind = Tok::Number;
      cur_.text = src_.substr(next_, end - next_);
      next_ = end;
      return;
    }
    if (c == '\'') {
      const size_t close = src_.find('\'', next_ + 1);
      if (close == std::string_view::npos) {
        cur_.kind = Tok::BadString;
        cur_.text = src_.substr(next_);
        next_ = src_.size();
        return;
      }
      cur_.kind = Tok::String;
      cur_.text = src_.substr(next_ + 1, close - next_ - 1);
      next_ = close + 1;
      return;
    }
    cur_.text = src_.substr(next_, 1);
    ++next_;
    switch (c) {
      case '*': cur_.kind = Tok::Star; break;
      case ',': cur_.kind = Tok::Comma; break;
      case '(': cur_.kind = Tok::LParen; break;
      case ')': cur_.kind = Tok::RParen; break;
      case '=': cur_.kind = Tok::Eq; break;
      case '>': cur_.kind = Tok::Gt; break;
      case '.': cur_.kind = Tok::Dot; break;
      case '-': cur_.kind = Tok::Minus; break;
      case ';': cur_.kind = Tok::Semicolon; break;
      case '<':
        if (next_ < src_.size() && src_[next_] == '>') {
          ++next_;
          cur_.kind = Tok::Ne;
          cur_.text = src_.substr(cur_.pos, 2);
        } else {
          cur_.kind = Tok::Other;
        }
        break;
      default: cur_.kind = Tok::Other; break;
    }
  }

  bool Keyword(std::string_view word) const { return cur_.kind == Tok::Ident && SameWord(cur_.text, word); }

  // Consumes an expected keyword or fails with the clause's error.
  void Expect(std::string_view word, int number, const std::string& message) {
    if (!Keyword(word)) Fail(number, message);
    Advance();
  }
  void Expect(Tok kind, int number, const std::string& message) {
    if (cur_.kind != kind) Fail(number, message);
    Advance();
  }
  std::string Name(int number, const std::string& message) {
    if (cur_.kind != Tok::Ident) Fail(number, message);
    std::string name(cur_.text);
    Advance();
    return name;
  }
  ColumnRef Column(int number, const std::string& message) {
    ColumnRef ref;
    ref.column = Name(number, message);
    if (cur_.kind == Tok::Dot) {
      Advance();
      ref.table = std::move(ref.column);
      ref.column = Name(number, message);
    }
    return ref;
  }

  // Reports where a statement goes on after its end.
  void ExpectEnd(int number, const std::string& message) {
    if (cur_.kind == Tok::End) return;
    if (cur_.kind == Tok::Semicolon) Fail(dberr::kCharactersAfterEnd, "Characters found after end of SQL statement.");
    Fail(number, message);
  }

  Value Literal(size_t start) {
    bool negative = false;
    if (cur_.kind == Tok::Minus) {
      negative = true;
      Advance();
      if (cur_.kind != Tok::Number) FailExpr(start);
    }
    if (cur_.kind == Tok::String) {
      Value v{std::string(cur_.text)};
      Advance();
      return v;
    }
    if (cur_.kind != Tok::Number) FailExpr(start);
    // Read as unsigned so that the most negative whole number fits.
    uint64_t magnitude = 0;
    const auto* first = cur_.text.data();
    const auto* last = first + cur_.text.size();
    auto [ptr, ec] = std::from_chars(first, last, magnitude);
    if (ec != std::errc() || ptr != last) FailExpr(start);
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{std::numeric_limits<int64_t>::max()};
    if (magnitude > limit) FailExpr(start);
    Advance();
    return Value(negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude));
  }

  Expr ParseExpr(size_t start) {
    Expr e;
    for (;;) {
      ColumnRef ref;
      if (cur_.kind != Tok::Ident) FailExpr(start);
      ref.column = std::string(cur_.text);
      Advance();
      if (cur_.kind == Tok::Dot) {
        Advance();
        if (cur_.kind != Tok::Ident) FailExpr(start);
        ref.table = std::move(ref.column);
        ref.column = std::string(cur_.text);
        Advance();
      }
      Op op = Op::Eq;
      switch (cur_.kind) {
        case Tok::Eq: op = Op::Eq; break;
        case Tok::Ne: op = Op::Ne; break;
        case Tok::Gt: op = Op::Gt; break;
        default: FailExpr(start);
      }
      Advance();
      e.terms.push_back(Comparison{std::move(ref), op, Literal(start)});
      if (Keyword("AND")) {
        Advance();
        continue;
      }
      break;
    }
    e.text = std::string(TrimAll(src_.substr(start, cur_.pos - start)));
    return e;
  }

  Statement ParseSelect() {
    static const std::string kSelectMsg =
        "The SELECT statement includes a reserved word or an argument name that is misspelled or missing, or the "
        "punctuation is incorrect.";
    static const std::string kFromMsg = "Syntax error in FROM clause.";
    static const std::string kOrderMsg = "Syntax error in ORDER BY clause.";
    Advance();
    Select s;
    if (cur_.kind == Tok::Star) {
      s.star = true;
      Advance();
    } else if (Keyword("MAX") && PeekIs('(')) {
      Advance();
      Expect(Tok::LParen, dberr::kSyntaxInSelect, kSelectMsg);
      s.max = Column(dberr::kSyntaxInSelect, kSelectMsg);
      Expect(Tok::RParen, dberr::kSyntaxInSelect, kSelectMsg);
      Expect("AS", dberr::kSyntaxInSelect, kSelectMsg);
      s.maxAlias = Name(dberr::kSyntaxInSelect, kSelectMsg);
    } else {
      for (;;) {
        s.columns.push_back(Column(dberr::kSyntaxInSelect, kSelectMsg));
        if (cur_.kind != Tok::Comma) break;
        Advance();
      }
    }
    Expect("FROM", dberr::kSyntaxInSelect, kSelectMsg);
    s.table = Name(dberr::kSyntaxInFrom, kFromMsg);
    if (Keyword("WHERE")) {
      Advance();
      const size_t start = cur_.pos;
      s.where = ParseExpr(start);
      if (cur_.kind != Tok::End && !Keyword("ORDER")) {
        if (cur_.kind == Tok::Semicolon) Fail(dberr::kCharactersAfterEnd, "Characters found after end of SQL statement.");
        FailExpr(start);
      }
    }
    if (Keyword("ORDER")) {
      Advance();
      Expect("BY", dberr::kSyntaxInOrderBy, kOrderMsg);
      s.orderBy = Column(dberr::kSyntaxInOrderBy, kOrderMsg);
      ExpectEnd(dberr::kSyntaxInOrderBy, kOrderMsg);
    }
    ExpectEnd(dberr::kSyntaxInFrom, kFromMsg);
    return s;
  }

  Statement ParseDelete() {
    static const std::string kMsg = "Syntax error in DELETE statement.";
    Advance();
    Delete d;
    Expect("FROM", err::kInvalidSqlStatement, kMsg);
    d.table = Name(dberr::kSyntaxInFrom, "Syntax error in FROM clause.");
    Expect("WHERE", dberr::kSyntaxInFrom, "Syntax error in FROM clause.");
    const size_t start = cur_.pos;
    d.where = ParseExpr(start);
    if (cur_.kind == Tok::Semicolon) Fail(dberr::kCharactersAfterEnd, "Characters found after end of SQL statement.");
    if (cur_.kind != Tok::End) FailExpr(start);
    return d;
  }

  FieldDef ParseType(std::string name, int number, const std::string& message) {
    FieldDef f;
    f.name = std::move(name);
    if (Keyword("INTEGER")) {
      Advance();
      f.type = FieldType::Long;
      f.size = 4;
      return f;
    }
    Expect("TEXT", number, message);
    Expect(Tok::LParen, number, message);
    if (cur_.kind != Tok::Number) Fail(number, message);
    int size = 0;
    auto [ptr, ec] = std::from_chars(cur_.text.data(), cur_.text.data() + cur_.text.size(), size);
    if (ec != std::errc() || ptr != cur_.text.data() + cur_.text.size() || size < 1 || size > 255) {
      Fail(number, "Size of field '" + f.name + "' must be from 1 to 255 characters; " + message);
    }
    Advance();
    Expect(Tok::RParen, number, message);
    f.type = FieldType::Text;
    f.size = size;
    return f;
  }

  Statement ParseAlter() {
    static const std::string kMsg = "Syntax error in ALTER TABLE statement.";
    Advance();
    AddColumn a;
    Expect("TABLE", err::kSyntaxInAlterTable, kMsg);
    a.table = Name(err::kSyntaxInAlterTable, kMsg);
    Expect("ADD", err::kSyntaxInAlterTable, kMsg);
    Expect("COLUMN", err::kSyntaxInAlterTable, kMsg);
    std::string name = Name(err::kSyntaxInAlterTable, kMsg);
    a.field = ParseType(std::move(name), err::kSyntaxInAlterTable, kMsg);
    ExpectEnd(err::kSyntaxInAlterTable, kMsg);
    return a;
  }

  Statement ParseCreateTable() {
    static const std::string kMsg = "Syntax error in CREATE TABLE statement.";
    Advance();
    CreateTable t;
    t.table = Name(err::kSyntaxInCreateTable, kMsg);
    Expect(Tok::LParen, err::kSyntaxInCreateTable, kMsg);
    for (;;) {
      std::string name = Name(err::kSyntaxInCreateTable, kMsg);
      t.fields.push_back(ParseType(std::move(name), err::kSyntaxInCreateTable, kMsg));
      if (cur_.kind == Tok::Comma) {
        Advance();
        continue;
      }
      Expect(Tok::RParen, err::kSyntaxInCreateTable, kMsg);
      break;
    }
    ExpectEnd(err::kSyntaxInCreateTable, kMsg);
    return t;
  }

  Statement ParseCreateIndex() {
    static const std::string kMsg = "Syntax error in CREATE INDEX statement.";
    Advance();
    CreateIndex i;
    Expect("INDEX", dberr::kSyntaxInCreateIndex, kMsg);
    i.name = Name(dberr::kSyntaxInCreateIndex, kMsg);
    Expect("ON", dberr::kSyntaxInCreateIndex, kMsg);
    i.table = Name(dberr::kSyntaxInCreateIndex, kMsg);
    Expect(Tok::LParen, dberr::kSyntaxInCreateIndex, kMsg);
    i.column = Name(dberr::kSyntaxInCreateIndex, kMsg);
    Expect(Tok::RParen, dberr::kSyntaxInCreateIndex, kMsg);
    ExpectEnd(dberr::kSyntaxInCreateIndex, kMsg);
    return i;
  }

  bool PeekIs(char c) const {
    size_t p = next_;
    while (p < src_.size() && IsSpace(src_[p])) ++p;
    return p < src_.size() && src_[p] == c;
  }
};

}  // namespace

Statement Parse(std::string_view text) { return Parser(text).ParseStatement(); }

Expr ParseCriteria(std::string_view text) { return Parser(text).ParseCriteriaOnly(); }

}  // namespace prax::db::sql
