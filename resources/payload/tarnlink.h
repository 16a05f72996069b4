// The product library's interface.
#ifndef TARNLINK_PRODUCT_H
#define TARNLINK_PRODUCT_H

#include <windows.h>

extern "C" __declspec(dllimport) const char *WINAPI TarnlinkVersion(void);

#endif
