#pragma once
// The History database on a PostgreSQL server, through libpq: the same
// tables, columns and rows as the SQLite file, in the connection's default
// schema.
//
// Rows are buffered and reach the server in one COPY per table when the day
// commits (or when a read needs them), inside one transaction per day; each
// value is checked (CheckValue) before it is buffered, so a refused row
// stores nothing and leaves the others. The server cannot hold a NUL
// character in text: such a value is refused as a data Error (3146) the same
// way. Failures of the connection (an unreachable server, a refused login,
// a connection lost in the middle) throw environment Errors naming the
// server and database, never the password.

#include <memory>
#include <string>

#include "store/history_store.h"

namespace prax::store {

// Connects with a libpq connection string and creates any of our tables
// (and their indexes) that are missing.
std::unique_ptr<HistoryStore> OpenPgHistory(const std::string& connect);

// Drops our tables, and only ours, and creates them empty, in one
// transaction: a failure leaves the earlier tables.
void CreatePgHistory(const std::string& connect);

}  // namespace prax::store
