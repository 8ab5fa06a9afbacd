#pragma once
// A throwaway database server for the tests: a new cluster in a temporary
// folder, reached only through a Unix socket in that folder.

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace praxtest {

class PgServer {
 public:
  PgServer();  // creates and starts it; throws std::runtime_error
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // A libpq connection string to the server's first database.
  const std::string& Connect() const { return connect_; }
  // The rows of a statement, values joined by '|' (Null empty); throws when refused.
  std::vector<std::string> Rows(const std::string& sql) const;
  void Start();
  void Stop();

 private:
  void Control(const std::vector<std::string>& args) const;

  TempDir dir_;
  std::string connect_;
  bool running_ = false;
};

// The server of this test program: started at first use, stopped when the program ends.
PgServer& TestPgServer();

}  // namespace praxtest
