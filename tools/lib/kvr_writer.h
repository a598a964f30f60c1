// Writes KVR1 archives, plain or packed, with stored or zlib-compressed entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KvrInputEntry {
    std::string name;  // written as given, so any form (assets/, backslashes) can be stored
    std::vector<uint8_t> data;
    bool compress = false;
};

struct KvrArchiveSpec {
    std::vector<KvrInputEntry> entries;
    uint32_t flags = 0;  // header flags, e.g. ARC_FLAG_HD_ASSETS
    bool packed = false;  // raw-deflate the whole image behind its length
};

// The archive file's bytes. Names longer than 56 bytes are cut to 56.
std::vector<uint8_t> kvr_build_archive(const KvrArchiveSpec& spec);

// The plain image alone (entry table and data), before any packing.
std::vector<uint8_t> kvr_build_image(const KvrArchiveSpec& spec);

// Packs a plain image: its length, then the image as a raw deflate stream.
std::vector<uint8_t> kvr_pack_image(const std::vector<uint8_t>& image);

// A zlib stream (with header and checksum) of the data.
std::vector<uint8_t> kvr_zlib_compress(const std::vector<uint8_t>& data);

// Writes bytes to a file; false on failure.
bool kvr_write_file(const std::string& path, const std::vector<uint8_t>& bytes);
