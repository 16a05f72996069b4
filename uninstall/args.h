// The uninstaller's command line: -f <dir> -d <dir> -g <group>, each value
// quoted or, as earlier versions wrote it, not; -q or -s for a quiet run;
// and the copy's -w <process> -o <pipe>. Without arguments the recorded
// line is read back.
#ifndef TARNLINK_ARGS_H
#define TARNLINK_ARGS_H

#include <stddef.h>
#include <windows.h>

#include "../base/product.h"
#include "../base/session.h"

struct Arguments {
    char programDir[DIR_SIZE];
    char dataDir[DIR_SIZE];   // checked; data files lie beside the program
    char group[TEXT_FIELD];
    HANDLE firstProcess;   // set in the copy only
    HANDLE outcome;        // the pipe to the first process, in the copy only
    unsigned seen;         // the switches read, a bit a letter ('a' the lowest)
    int quiet;             // -q or -s stands among them
};

// Reads the line into `args`: 1 when it is whole and usable. A switch counts
// only where it stands as one, never inside a value; those read before a
// part that cannot be used are in `seen` and `quiet` all the same.
int ParseArguments(const char *text, Arguments &args);

// The arguments of the recorded UninstallString, what follows its program:
// 1 when they were read whole and name a directory (-f).
int ReadRecordedArguments(char *arguments, size_t size);

// The text from its first character that is not a blank.
const char *SkipBlanks(const char *text);

#endif
