#include "store/pg_history_store.h"
#include "support/pg_server.h"
#include "support/report_reads.h"
TEST(PgStore, ReadsWhatTheRunReportShows) {
  const std::string connect = praxtest::TestPgServer().Connect();
  prax::store::CreatePgHistory(connect);
  praxtest::CheckReportReads(*prax::store::OpenPgHistory(connect));
}
