// The Program Manager link: groups and items over DDE, one conversation per
// command, each made by the link's worker thread with the link's DDE
// instance. Nothing here reports to the user or writes the log.
#ifndef TARNLINK_PROGMAN_H
#define TARNLINK_PROGMAN_H

#include <windows.h>

#include "../base/outcome.h"

struct ProgmanLink {
    DWORD instanceId;   // the worker's DDE instance
    bool isOpen;
};

extern ProgmanLink progmanLink;

int ProgmanOpen();
// Arguments holding "(", ")", ",", "[", "]" or a blank at either end are
// sent in double quotes; names that hold '"', '[', ']' or a control
// character are never sent (IsUsableProgmanName).
// NONE when the link could not start or the group cannot be named (the
// link stays closed for the items), or the Program Manager refused it (the
// link is open); UNUSABLE when no Program Manager answered: no item may
// follow either. DONE when it was made, or the Program Manager did not
// answer in time (it may make it still).
Outcome ProgmanCreateGroup(const char *groupName);
// Makes a group the Program Manager's current one, which DeleteItem and
// AddItem act on.
int ProgmanShowGroup(const char *groupName);
// DONE when the item was added; NONE when it could not be sent or the
// Program Manager refused it; UNUSABLE when none answered, or not in time
// (it may still add it).
Outcome ProgmanAddItem(const char *itemName, const char *workingDirectory, const char *fileName,
                       const char *commandLine);
int ProgmanDeleteItem(const char *itemName, const char *filePath);
int ProgmanClose();
// Deletes the group only when it carries the default name, then closes.
int ProgmanCloseAndDeleteGroup(const char *groupName);
// Where the shell keeps an item's shortcut in the user's (`common` 0) or all
// users' (1) Start Menu: "<Programs>\<group>\<item>.lnk" in `path` (with no
// item, the group's folder): DONE. UNUSABLE when it would not fit `size`;
// NONE when the system names no such Programs folder.
Outcome ProgmanItemPath(int common, const char *group, const char *itemName, char *path,
                        size_t size);
// Fills the combo box with the existing groups; returns the reply buffer, or
// nullptr when no conversation was made.
const char *ProgmanListGroups(HWND comboBox);

// For the suites.
int ProgmanExecute(const char *command);

// Deletes the named group, whatever its name; 1 when the Program Manager took it.
int ProgmanDeleteGroup(const char *groupName);

#endif
