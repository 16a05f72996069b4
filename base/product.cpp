#include "product.h"

const char PRODUCT_NAME[] = "Tarnlink Suite";
const char UNINSTALLER_NAME[] = "removetl.exe";
const char DIR_RECORD[] = "DIR";
const char LOCATION_VALUE[] = "InstallLocation";

const char MAKER_KEY[] = "Software\\Quorvale";
const char PRODUCT_KEY[] = "Software\\Quorvale\\Tarnlink";
const char SETTINGS_KEY[] = "Software\\Quorvale\\Tarnlink\\Settings";
const char PRODUCT_UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnlink Suite";

const char RUN_PREFIX[] = "~tl";
const char COPY_PREFIX[] = "~rt";
const char RUN_MARKER_NAME[] = "setup.run";
// Windows 2000 and later give each logon session names of its own; the
// prefix makes the lock the machine's (older systems take the name after it).
const char RUN_LOCK_NAME[] = "Global\\Quorvale Tarnlink Setup";
