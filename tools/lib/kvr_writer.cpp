#include "kvr_writer.h"

#include "archive.h"

#include "stb_compress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void put_u32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> kvr_zlib_compress(const std::vector<uint8_t>& data)
{
    int out_len = 0;
    unsigned char* compressed = stbi_zlib_compress(const_cast<unsigned char*>(data.data()),
                                                   static_cast<int>(data.size()), &out_len, 8);
    std::vector<uint8_t> result(compressed, compressed + out_len);
    free(compressed);
    return result;
}

std::vector<uint8_t> kvr_build_image(const KvrArchiveSpec& spec)
{
    const size_t table_end = ARC_HEADER_SIZE + ARC_ENTRY_SIZE * spec.entries.size();
    std::vector<uint8_t> image(table_end, 0);
    memcpy(image.data(), "KVR1", 4);
    put_u32(image, 8, static_cast<uint32_t>(spec.entries.size()));
    put_u32(image, 12, spec.flags);

    for (size_t i = 0; i < spec.entries.size(); i++) {
        const KvrInputEntry& entry = spec.entries[i];
        const size_t record = ARC_HEADER_SIZE + ARC_ENTRY_SIZE * i;
        memcpy(&image[record], entry.name.data(), std::min(entry.name.size(), ARC_ENTRY_NAME_LEN));

        std::vector<uint8_t> stored = entry.compress ? kvr_zlib_compress(entry.data) : entry.data;
        put_u32(image, record + 56, static_cast<uint32_t>(entry.data.size()));
        put_u32(image, record + 60, static_cast<uint32_t>(image.size()));
        put_u32(image, record + 64, entry.compress ? static_cast<uint32_t>(stored.size()) : 0);
        put_u32(image, record + 68, entry.compress ? ARC_ENTRY_FLAG_ZLIB : 0);
        image.insert(image.end(), stored.begin(), stored.end());
    }
    return image;
}

std::vector<uint8_t> kvr_pack_image(const std::vector<uint8_t>& image)
{
    // The packed form holds a raw deflate stream: the zlib stream without its
    // two-byte header and four-byte checksum.
    std::vector<uint8_t> wrapped = kvr_zlib_compress(image);
    std::vector<uint8_t> packed(4, 0);
    put_u32(packed, 0, static_cast<uint32_t>(image.size()));
    packed.insert(packed.end(), wrapped.begin() + 2, wrapped.end() - 4);
    return packed;
}

std::vector<uint8_t> kvr_build_archive(const KvrArchiveSpec& spec)
{
    std::vector<uint8_t> image = kvr_build_image(spec);
    return spec.packed ? kvr_pack_image(image) : image;
}

bool kvr_write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}
