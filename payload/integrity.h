// The check that the carried files are the ones the build packed.
#ifndef TARNLINK_INTEGRITY_H
#define TARNLINK_INTEGRITY_H

#include <stddef.h>
#include <windows.h>

#include "table.h"
#include "../base/tempdirs.h"

// What the build recorded for one carried file. The name is held in the
// row itself: resource names are short ("EXEFILE"), and a longer one does
// not compile.
struct PayloadSum {
    char resourceName[8];
    DWORD packedLength;
    DWORD packedCrc;
    DWORD expandedLength;
    DWORD expandedCrc;
};

// Written by the packer when it packed the resources, never by hand
// (payload/sums.cpp, built apart so that the carried uninstaller, which
// shares this library, does not depend on its own packed bytes). Nothing
// writes it; it is not const only because the program's initialised data
// has room for it and its constants have none.
extern PayloadSum payloadSums[];
extern const int payloadSumCount;

// 1 when every payload resource of `instance` is there and whole: its SZDD
// signature and mode, the expanded length in its header, its own length and
// CRC-32, each as the build recorded them.
int PayloadIntact(HINSTANCE instance);

// 1 when the file at `path` holds exactly the file the row carries: the
// expanded length and CRC-32 the build recorded.
int ExpandedFileIntact(const PayloadEntry &row, const char *path);

// The carried files as a run leaves them in a directory of its own: each
// row's destName with its packed bytes (`packed` 1) or its expanded ones
// (0). Returns how many of `size` were filled.
int CarriedRunFiles(RunFile *files, int size, int packed);

#endif
