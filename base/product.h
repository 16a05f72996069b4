// The product's names, as the records, the registry and the shell know
// them: one home, so that every program names them alike.
#ifndef TARNLINK_PRODUCT_H
#define TARNLINK_PRODUCT_H

// The product's display name: the profile section, the default group and
// the Uninstall key's name.
extern const char PRODUCT_NAME[];
// The uninstaller's file name, in the installation directory.
extern const char UNINSTALLER_NAME[];
// The record of the installation directory: WIN.INI's key, and the
// Uninstall entry's value.
extern const char DIR_RECORD[];
extern const char LOCATION_VALUE[];

#endif
