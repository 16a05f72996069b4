#include "extract.h"

// Placeholder until the extraction lands: nothing is extracted, so there is
// nothing to remove.
int RemoveTempFiles()
{
    return 0;
}
