#pragma once
// One libpq connection to the History server, and how its failures become
// Errors: a lost or refused connection, a server shutting down or out of
// resources is the machine (Cause::kEnvironment) and names the server and
// database, never the password; a value the server refuses is the data.
//
// Text goes to the server and comes back unchanged except for the NUL
// character, which the server cannot hold in text: it is sent as U+FFFD
// (a character Windows-1252 log text never turns into) and read back as NUL.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace prax::store::pg {

using Param = std::optional<std::string>;
using ResultRow = std::vector<std::optional<std::string>>;

// Text read back from the server (U+FFFD as NUL).
std::string FromServerText(std::string_view text);

// Appends an element of an array literal ({...}) for a bound array
// parameter: NULL, or the text quoted, a NUL as U+FFFD.
void AppendArrayNull(std::string& out);
void AppendArrayText(std::string& out, std::string_view text);

// Appends a value in COPY's text format: \N for Null, the escapes of
// backslash, tab and line ends, a NUL as U+FFFD.
void AppendCopyNull(std::string& out);
void AppendCopyText(std::string& out, std::string_view text);

// A connection string refused before connecting: one that carries a
// password (the password comes from the password file or the environment).
// Returns why, or nullopt when it may be used; `source` names where it was
// read.
std::optional<std::string> ConnectProblem(const std::string& connect, std::string_view source);

// How long a command waits on the History server, in seconds: for a
// connection to be made, and for a lock another session holds on a table
// it needs; a server gone from the network without a word is noticed in
// about as long (TCP keepalives and the TCP user timeout, on TCP
// connections). A connection string's own connect_timeout or keepalives
// settings win. One statement runs kStatementSeconds at most. 0 stands for
// kDefaultTimeout.
inline constexpr int kDefaultTimeout = 60;
inline constexpr int kMaxTimeout = 1800;
inline constexpr int kStatementSeconds = 1800;

class Connection {
 public:
  // Connects, waiting `timeout` seconds at most (and so long for locks);
  // throws an environment Error naming the server when it cannot.
  explicit Connection(const std::string& connect, int timeout = 0);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // "server <host or socket folder> port <port>, database <name>".
  const std::string& Server() const { return server_; }

  void Begin();
  void Commit();
  void Rollback();
  bool InTransaction() const { return inTransaction_; }

  // Runs one statement with its values bound, in text form; returns its rows
  // (text read back with FromServerText).
  std::vector<ResultRow> Run(const std::string& sql, const std::vector<Param>& params = {});
  // Runs statements that return no rows in one round trip (libpq's pipeline
  // mode), in order; the first failure is thrown once the rest were
  // skipped by the server. A BEGIN or COMMIT among them counts as Begin or
  // Commit. A statement with values is prepared on the server the first
  // time and executed by name after.
  struct Statement {
    std::string sql;
    std::vector<Param> params;
  };
  void RunAll(const std::vector<Statement>& statements);
  // Sends rows of COPY text (AppendCopy*, tab between values, a new line
  // after each row) to the columns of a table. The server's answer is read
  // by the next call on the connection, so that the server stores the rows
  // while the caller prepares what comes next; a refusal is thrown there.
  void Copy(std::string_view table, const std::vector<std::string>& columns, const std::string& data);
  // The same as a stream: CopyBegin opens the COPY, each CopyPut sends whole
  // rows of COPY text as they are made, so that the server stores them while
  // the caller makes the next; the next other call on the connection ends
  // it, and its answer is read as Copy's is.
  void CopyBegin(std::string_view table, const std::vector<std::string>& columns);
  void CopyPut(std::string_view data);
  bool CopyOpen() const { return copyOpen_; }

  // Takes the session lock `key` without waiting; false when another
  // session holds it. It is released with the connection.
  bool TryLock(int64_t key);

 private:
  void Settle(bool endOnly = false);
  [[noreturn]] void Fail(PGresult* r);
  [[noreturn]] void Fail(const std::string& code, const std::string& why);
  std::string Message() const;

  int timeout_;  // seconds (see kDefaultTimeout)
  PGconn* conn_;
  std::string server_;
  std::map<std::string, std::string> prepared_;  // statement text to its name on the server
  int preparedCount_ = 0;
  bool copyOpen_ = false;     // a COPY takes rows (CopyPut)
  bool copyPending_ = false;  // a COPY's answer is still to be read
  bool inTransaction_ = false;
};

}  // namespace prax::store::pg
