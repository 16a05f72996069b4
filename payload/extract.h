// Extraction of the carried files into the temporary directory, and clean-up.
#ifndef TARNLINK_EXTRACT_H
#define TARNLINK_EXTRACT_H

#include <windows.h>

int ExtractPayload(HINSTANCE instance, HWND owner);
int ExtractResourceFile(HINSTANCE instance, HWND statusLine, const char *resourceName,
                        const char *directory, const char *fileName);
int RemoveTempFiles();

#endif
