#pragma once
// The HTML run report: one self-contained page (inline SVG, nothing fetched)
// with what a run did and, read from the History database, the days loaded
// per date and the users whose clients stopped sending logs.

#include <string>

#include "command/run_context.h"
#include "command/run_summary.h"

namespace prax {

class Status;

// Where the report of a run goes unless told otherwise: PRAXLOAD.html in the
// program folder.
std::string RunReportPath(const RunContext& ctx);

// Writes the report of `summary` to pathText (path text), reading the History
// database and the roster of ctx. Throws Error naming the file when it
// cannot be written.
void WriteRunReport(const RunContext& ctx, const RunSummary& summary, const std::string& pathText);

// WriteRunReport of status.Summary(), for the end of a run: a report that
// cannot be written is said (a warning line and the status line) and
// changes nothing else. Returns whether it was written.
bool ReportRun(const RunContext& ctx, Status& status, const std::string& pathText);

// The summary as the JSON of praxload --summary: one object whose fields
// the README's table names (they are stable).
std::string SummaryJson(const RunSummary& summary);

}  // namespace prax
