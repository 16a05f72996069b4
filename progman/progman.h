// The Program Manager link: groups and items over DDE, one conversation per
// command. Nothing here reports to the user or writes the log.
#ifndef TARNLINK_PROGMAN_H
#define TARNLINK_PROGMAN_H

#include <windows.h>

struct ProgmanLink {
    DWORD instanceId;
    bool isOpen;
};

extern ProgmanLink progmanLink;

int ProgmanOpen();
int ProgmanExecute(DWORD instanceId, const char *command);
// Arguments holding "(", ")", ",", "[", "]" or a blank at either end are
// sent in double quotes; names that hold '"', '[', ']' or a control
// character are never sent (IsUsableProgmanName).
// 0 when the link could not start or the group cannot be named (then no
// item may follow); else 1 whatever the Program Manager did with it.
int ProgmanCreateGroup(const char *groupName);
// Makes a group the Program Manager's current one, which DeleteItem and
// AddItem act on.
int ProgmanShowGroup(const char *groupName);
// 0 when the item could not be sent or the Program Manager refused it; 1
// when it was added or no Program Manager answered.
int ProgmanAddItem(const char *itemName, const char *workingDirectory, const char *fileName,
                   const char *commandLine);
int ProgmanDeleteItem(const char *itemName, const char *filePath);
int ProgmanClose();
int ProgmanCloseAndDeleteGroup(const char *groupName);
// Fills the combo box with the existing groups; returns the reply buffer, or
// nullptr when no conversation was made.
const char *ProgmanListGroups(HWND comboBox);

#endif
