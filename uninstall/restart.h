// Deletions at the next restart: Windows NT keeps the requests in the
// registry; Windows 95 reads WININIT.INI, for files only.
#ifndef TARNLINK_RESTART_H
#define TARNLINK_RESTART_H

// Asks the system to delete a file, or an empty directory, at the next
// restart.
void DeleteAtRestart(const char *path);

// The copy's own file, its marker and its directory go at the next restart,
// in that order.
void DeleteSelfAtRestart();

#endif
