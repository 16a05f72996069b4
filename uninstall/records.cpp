#include "records.h"

#include "../base/names.h"
#include "../base/text.h"
#include "../payload/table.h"

Records ReadRecords(const Arguments &args)
{
    Records records;
    char recorded[DIR_SIZE];
    records.profileRead = ReadProfileValue(DIR_RECORD, "", recorded, sizeof recorded);
    records.profileHere = records.profileRead == OUTCOME_DONE && SameText(recorded, args.programDir);
    records.locationRead = ReadRegistryText(HKEY_LOCAL_MACHINE, PRODUCT_UNINSTALL_KEY,
                                            LOCATION_VALUE, recorded, sizeof recorded);
    records.locationHere = records.locationRead == OUTCOME_DONE && SameText(recorded, args.programDir);
    return records;
}

int RecordedHere(const Arguments &args)
{
    Records records = ReadRecords(args);
    return records.profileHere || records.locationHere;
}

int FindProductFile(const Arguments &args, char *path, size_t size)
{
    for (int i = 0; i < payloadCount; i++) {
        const PayloadEntry &row = payloadTable[i];
        const char *format = row.destDirKind == DIR_WEB ? "%s\\web\\%s" : "%s\\%s";
        if (FormatText(path, size, format, args.programDir, row.destName) &&
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return 1;
    }
    return 0;
}
