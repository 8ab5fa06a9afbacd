#pragma once
// The window choices that persist in PXSERVER.SET, and the closing work of
// the window (saved choices, Restore.KTR, bringing the console forward).

#include <string>

#include "command/run_context.h"

namespace prax {

// The choices of the window, numbered as PXSERVER.SET and the window's option
// buttons hold them.
// The users a command loads: all, a range, or those of the networks merged.
enum class Universe { kFull = 0, kRange = 1, kMultipleNetworks = 2 };
// What a command does with the History database.
enum class CreationRule { kCreateFresh = 0, kUpdateExisting = 1 };
// The box "Update Master database with UserDefs.Prn".
enum class MasterImport { kUnticked = 0, kTicked = 1, kGreyed = 2 };

// The choices of the window that drive a command.
struct WindowChoices {
  Universe universe = Universe::kFull;
  std::string startText, endText;  // the range's first and last user, as typed
  CreationRule creationRule = CreationRule::kCreateFresh;
  MasterImport masterImport = MasterImport::kUnticked;
  bool onlyCreate = false;   // only create the History database (never saved)
};

// Reads the program folder's PXSERVER.SET into choices. A missing or
// unreadable file, or one whose format number is not 2, changes nothing.
// A damaged item falls back to its design value: a universe index outside
// 0..2 (or not a number) selects the full universe, a creation-rule index
// outside 0..2 selects create fresh (1 and 2 select update existing) and a
// Master import state outside 0..2 leaves the box unticked; the other items
// of the file are still taken.
// A file that ends early keeps what was read up to there.
void LoadSettings(const RunContext& ctx, WindowChoices& choices);

// The five lines of PXSERVER.SET for the choices: 2, the universe index,
// "start","end", 1 (update existing is always what the next start selects)
// and the Master import state, each ended by CR LF.
std::string SettingsBytes(const WindowChoices& choices);

// Creates or overwrites the program folder's PXSERVER.SET. Throws Error when
// the file cannot be written.
void SaveSettings(const RunContext& ctx, const WindowChoices& choices);

// Creates or overwrites the program folder's Restore.KTR with one empty line.
void WriteRestoreMarker(const RunContext& ctx);

// Brings the console program's window, titled "Praxilo Kontorium", forward
// where the platform allows it; nothing happens when there is no such window
// or no means to find it. Never throws, never waits long.
void ActivateConsoleWindow();

// The closing work of the window. Returns false (refuse: the window stays
// open, the caller beeps) while a command is running; otherwise saves the
// settings, makes the program folder the current directory, writes
// Restore.KTR and activates the console window, each step's failure passed
// over, and returns true.
bool CloseWork(const RunContext& ctx, const WindowChoices& choices, bool commandRunning);

}  // namespace prax
