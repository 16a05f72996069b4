// What the records say of the directory an uninstaller is asked to empty.
#ifndef TARNLINK_RECORDS_H
#define TARNLINK_RECORDS_H

#include "../base/outcome.h"
#include "args.h"

// What the records say of this directory: WIN.INI's DIR and the Uninstall
// entry's InstallLocation. A record too long to be read whole names none.
struct Records {
    Outcome profileRead;    // ReadProfileValue's answer for DIR
    int profileHere;
    Outcome locationRead;   // ReadRegistryText's answer for InstallLocation
    int locationHere;
};

Records ReadRecords(const Arguments &args);

// The product is recorded as installed in the directory it is asked to
// empty: nothing is removed from any other.
int RecordedHere(const Arguments &args);

// The first payload file still in the directories given; 0 when none is.
int FindProductFile(const Arguments &args, char *path, size_t size);

#endif
