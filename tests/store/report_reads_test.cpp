#include "support/report_reads.h"
#include "support/temp_dir.h"
TEST(HistoryStore, ReadsWhatTheRunReportShows) {
  praxtest::TempDir dir;
  prax::store::CreateSqliteHistory((dir.Path() / "PRAXDATA.MDB").string());
  praxtest::CheckReportReads(*prax::store::OpenSqliteHistory(dir.Path() / "PRAXDATA.MDB"));
}
