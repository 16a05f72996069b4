#include "product.h"

const char PRODUCT_NAME[] = "Tarnlink Suite";
const char UNINSTALLER_NAME[] = "removetl.exe";
const char DIR_RECORD[] = "DIR";
const char LOCATION_VALUE[] = "InstallLocation";
