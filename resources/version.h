// The product's version and names: the one place the version resources of
// every program and the product library's version text take them from.
#ifndef TARNLINK_VERSION_H
#define TARNLINK_VERSION_H

#define VERSION_MAJOR 2
#define VERSION_MINOR 1
#define VERSION_TEXT "2.1"
#define VERSION_COMPANY "Quorvale"
#define VERSION_PRODUCT "Tarnlink Suite"
#define VERSION_COPYRIGHT "Copyright (C) Quorvale"

#endif
