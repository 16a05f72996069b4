// Extraction of the carried files into the temporary directory, and clean-up.
#ifndef TARNLINK_EXTRACT_H
#define TARNLINK_EXTRACT_H

#include <windows.h>

#include "../base/tempdirs.h"

// Creates a new directory of this run's own under the temporary directory and
// writes every row's resource, unchanged, into it under its destName, marking
// each written row PAYLOAD_EXTRACTED. Returns the number of rows written;
// only the log tells what failed.
int ExtractPayload(HINSTANCE instance, HWND owner);

// The directory ExtractPayload created, ending in a backslash; empty before
// the extraction and after the clean-up.
const char *ExtractionDirectory();

// Deletes the extracted file of every row marked PAYLOAD_EXTRACTED, then the
// run's directory. Returns 0.
int RemoveTempFiles();

// For the suites.
// Writes resource `resourceName` of type "EXE" into `directory` (ending in a
// backslash) followed by `fileName`, a file that must not exist yet. Returns 1
// when the whole resource was written; a short file is deleted. A path that
// does not fit is never cut: the file counts as one that could not be created.
int ExtractResourceFile(HINSTANCE instance, HWND statusLine, const char *resourceName,
                        const char *directory, const char *fileName);

#endif
