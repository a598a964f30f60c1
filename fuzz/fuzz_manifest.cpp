// Feeds arbitrary bytes to the manifest reader as the text of manifest.json.
#include "archive.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ManifestImage images[MANIFEST_IMAGE_CAPACITY];
    static BgmTrack tracks[BGM_TRACK_CAPACITY];
    int32_t image_count = 0;
    int32_t track_count = 0;
    asset_parse_manifest(data, size, images, &image_count, tracks, &track_count);
    return 0;
}
