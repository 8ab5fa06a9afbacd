#pragma once
// The HTML run report: one self-contained page (inline SVG, nothing fetched)
// with what a run did and, read from the History database, the days loaded
// per date and the users whose clients stopped sending logs.

#include <string>

#include "command/run_context.h"
#include "command/run_summary.h"

namespace prax {

// Where the report of a run goes unless told otherwise: PRAXLOAD.html in the
// program folder.
std::string RunReportPath(const RunContext& ctx);

// Writes the report of `summary` to pathText (path text), reading the History
// database and the roster of ctx. Throws Error naming the file when it
// cannot be written.
void WriteRunReport(const RunContext& ctx, const RunSummary& summary, const std::string& pathText);

}  // namespace prax
