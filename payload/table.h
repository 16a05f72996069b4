// The table of the files the setup program carries.
#ifndef TARNLINK_TABLE_H
#define TARNLINK_TABLE_H

enum DestDirKind { DIR_PROGRAM = 0, DIR_DATA = 1, DIR_WEB = 2 };

// Run-time marks in PayloadEntry::state.
constexpr unsigned PAYLOAD_COPIED = 1;
constexpr unsigned PAYLOAD_EXTRACTED = 2;

struct PayloadEntry {
    const char *resourceName;   // resource of type "EXE" carrying the file
    unsigned diskNumber;
    const char *sourceName;     // name in the source directory
    const char *destName;       // name in the destination (and temporary) directory
    int required;               // a failed copy fails the installation
    int makeItem;               // gets a Program Manager item
    const char *itemTitle;
    int destDirKind;
    unsigned state;
};

// The rows the program carries.
constexpr int PAYLOAD_ROWS = 7;

extern PayloadEntry payloadTable[];
extern int payloadCount;

#endif
