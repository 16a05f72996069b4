// The product's names and the sizes of what the programs hold, as the
// records, the registry and the shell know them: one home, so that every
// program names and sizes them alike.
#ifndef TARNLINK_PRODUCT_H
#define TARNLINK_PRODUCT_H

#include <stddef.h>
#include <windows.h>

// The product's display name: the profile section, the default group and
// the Uninstall key's name.
extern const char PRODUCT_NAME[];
// The uninstaller's file name, in the installation directory.
extern const char UNINSTALLER_NAME[];
// The record of the installation directory: WIN.INI's key, and the
// Uninstall entry's value.
extern const char DIR_RECORD[];
extern const char LOCATION_VALUE[];

// The maker's key, the product's below it and the product's settings, in
// both hives; the product's Uninstall entry under HKEY_LOCAL_MACHINE.
extern const char MAKER_KEY[];
extern const char PRODUCT_KEY[];
extern const char SETTINGS_KEY[];
extern const char PRODUCT_UNINSTALL_KEY[];

// The runs' own directories under the temporary directory: a setup run's
// "~tlNNNNN.tmp", an uninstaller copy's "~rtNNNNN.tmp", each with its
// marker while the run lives; and the lock one setup or uninstall at a time
// holds.
extern const char RUN_PREFIX[];
extern const char COPY_PREFIX[];
extern const char RUN_MARKER_NAME[];
extern const char RUN_LOCK_NAME[];

// The sizes, each with its terminating NUL.
constexpr size_t DIR_SIZE = 256;        // a directory as recorded or typed (255 characters)
constexpr size_t PATH_SIZE = MAX_PATH;  // a path the file functions take
constexpr size_t COMMAND_SIZE = 2048;   // the uninstaller's command line
constexpr size_t MESSAGE_SIZE = 512;    // a message as shown
constexpr size_t TEMPLATE_SIZE = 1024;  // a message's template as loaded

#endif
