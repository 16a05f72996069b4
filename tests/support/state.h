// The machine as an installation leaves it, taken whole and compared whole:
// one line per item, so that a suite names every difference at once.
#ifndef TARNLINK_STATE_H
#define TARNLINK_STATE_H

#include <map>
#include <string>
#include <vector>

extern const char DEFAULT_DIR[];
extern const char UNINSTALL_KEY[];
extern const char SETTINGS_PATH[];

// Everything a run leaves, one line per item, by full path: "file PATH" (a
// directory's ends in "\"), "item PATH" (shortcuts with their targets),
// "temp PATH", "reg ROOT\KEY" and "reg ROOT\KEY : VALUE" (with its type),
// "ini KEY", "log NNN". In an expected state an empty text stands for an item
// that must not be there; "+" lays one state over another.
using MachineState = std::map<std::string, std::string>;
MachineState operator+(MachineState state, const MachineState &overrides);
// The items of a state whose names begin with `prefix`.
MachineState Only(const MachineState &state, const std::string &prefix);
// The size and CRC-32 of a file's bytes, as the state shows them.
std::string FileState(const std::string &bytes);
// The log lines of a state, in order.
MachineState LogState(const std::vector<std::string> &lines);
// A directory and the parents it needed, where the state looks.
MachineState DirectoryState(const std::string &dir);

// The whole state now: files under C:\tltest, the three default destinations
// and drives T: and U:, the files in the root of C:, our keys in both hives
// and the Uninstall entry, WIN.INI's section, the Programs folder, the
// temporary directory, and the log read from `log`. `skip` (a file or a
// directory, with what it holds) is left out.
MachineState TakeState(const std::string &skip, const std::string &log);
// Compares a whole state with `expected`; each difference is a line.
void ExpectState(const MachineState &expected, const MachineState &actual,
                 const std::string &row = "");

#endif
