#pragma once
// Activity logs (.PXT) of one user into ActivitySystem and ProjectNotes.

#include <string>
#include <string_view>

#include "store/engine.h"
#include "logs/file_list.h"

namespace prax {

struct RunContext;
struct ActivityParserState;  // defined with the activity parser; lives for the whole job

// Loads every listed day not yet in activityRs (the user's ActivitySystem
// rows). Tolerant throughout. Returns the number of days parsed.
int LoadActivityLogs(RunContext& ctx, ActivityParserState& state, std::string_view userDir,
                     const FileList& fileList, db::Recordset& activityRs);

}  // namespace prax
