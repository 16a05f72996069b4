#include "table.h"

#include "../base/product.h"
#include "../base/session.h"

PayloadEntry payloadTable[] = {
    {"EXEFILE", 1, "tarnlink.exe", "tarnlink.exe", 1, 1, PRODUCT_NAME, DIR_PROGRAM, 0},
    {"HLPFILE", 1, "tarnlink.hlp", "tarnlink.hlp", 1, 1, "Tarnlink Suite Help File", DIR_PROGRAM, 0},
    {"CNTFILE", 1, "tarnlink.cnt", "tarnlink.cnt", 1, 0, "", DIR_PROGRAM, 0},
    {"DLLFILE", 1, "tarnlink.dll", "tarnlink.dll", 1, 0, "", DIR_PROGRAM, 0},
    {"TXTFILE", 1, "tarnlink.txt", "tarnlink.txt", 1, 1, "Tarnlink Suite Release Notes", DIR_PROGRAM, 0},
    {"REMFILE", 1, UNINSTALLER_NAME, UNINSTALLER_NAME, 1, 1, "Uninstall Tarnlink Suite", DIR_PROGRAM, 0},
    // The only optional row: a failure to copy it never stops the installation.
    {"MIBFILE", 1, "mib.txt", "mib.txt", 0, 0, "", DIR_PROGRAM, 0},
};

static_assert(sizeof payloadTable / sizeof payloadTable[0] == PAYLOAD_ROWS, "every row counted");
int payloadCount = PAYLOAD_ROWS;
