#pragma once
// Alert logs (.PXL) of one user into AlertSystem, EMSSystemUsage and UserNotes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/engine.h"
#include "logs/file_list.h"

namespace prax {

struct RunContext;

// Alert-parser state that lives for the whole job and carries over across
// lines, days and users.
struct AlertParserState {
  std::array<std::string, 12> AlertFields;  // words of the last sample lines
  std::string ToolName, DiscomfortName, BodyPartName, NoteText;
};

// Loads every listed day not yet in alertRs (the user's AlertSystem rows).
// Returns the number of days parsed and written. A failure from the first
// write on ends the loader and reaches the caller with the file named.
int LoadAlertLogs(RunContext& ctx, AlertParserState& state, std::string_view userDir,
                  const FileList& fileList, db::Recordset& alertRs);

}  // namespace prax
