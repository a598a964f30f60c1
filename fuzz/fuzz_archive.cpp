// Whole archive files, plain or packed: open, then look up and extract every entry.

#include "archive.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t* file_bytes = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (!file_bytes)
        return 0;
    memcpy(file_bytes, data, size);

    Archive arc{};
    if (arc_open_image(&arc, file_bytes, size)) {
        for (uint32_t i = 0; i < arc.entry_count; i++) {
            char stored[ARC_ENTRY_NAME_LEN + 1];
            memcpy(stored, arc.entries[i].name, ARC_ENTRY_NAME_LEN);
            stored[ARC_ENTRY_NAME_LEN] = '\0';
            char name[ASSET_NAME_CAPACITY];
            asset_normalise_path(stored, name, sizeof name);

            const ArchiveEntry* entry = arc_find(&arc, name);
            if (!entry)
                abort();  // every stored name must find an entry
            size_t len = 0;
            uint8_t* bytes = arc_extract(&arc, entry, &len);
            if (bytes && len != arc_entry_size(entry))
                abort();
            free(bytes);
        }
    }
    arc_close(&arc);
    return 0;
}
