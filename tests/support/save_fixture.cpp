#include "save_fixture.h"

#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "../../save/save_private.h"
#include "config.h"
#include "save.h"
#include "stb_compress.h"

void SaveFolderTest::SetUp()
{
    g_config.script_lang[0] = '\0';
    g_config.use_hd_graphics = 0;
    save_set_folder((scratch.path() + "/sav/").c_str());
}

std::string SaveFolderTest::slot_path(uint32_t slot) const
{
    char path[SAVE_PATH_CAPACITY];
    save_build_path(slot, path, sizeof path);
    return path;
}

static void append_u32(Bytes* out, uint32_t v)
{
    uint8_t bytes[4];
    save_put_u32(bytes, v);
    out->insert(out->end(), bytes, bytes + 4);
}

Bytes build_save_head(const SaveFileSpec& spec)
{
    Bytes out(spec.magic, spec.magic + SAVE_MAGIC_BYTES);
    append_u32(&out, spec.version);
    append_u32(&out, spec.segment);
    append_u32(&out, spec.time);
    append_u32(&out, static_cast<uint32_t>(spec.png.size()));
    uint8_t sizes[4];
    save_put_u16(sizes, SAVE_PREVIEW_W);
    save_put_u16(sizes + 2, SAVE_PREVIEW_H);
    out.insert(out.end(), sizes, sizes + 4);
    out.insert(out.end(), spec.png.begin(), spec.png.end());
    return out;
}

Bytes build_save_file(const SaveFileSpec& spec, const Bytes& body)
{
    Bytes packed;
    if (spec.zlib_level >= 0) {
        uLongf len = compressBound(static_cast<uLong>(body.size()));
        packed.resize(len);
        compress2(packed.data(), &len, body.data(), static_cast<uLong>(body.size()), spec.zlib_level);
        packed.resize(len);
    } else {
        int len = 0;
        Bytes raw = body;
        unsigned char* stream = stbi_zlib_compress(raw.data(), static_cast<int>(raw.size()), &len,
                                                   SAVE_COMPRESS_QUALITY);
        packed.assign(stream, stream + len);
        free(stream);
    }
    packed.insert(packed.end(), spec.stream_padding, 0);
    Bytes out = build_save_head(spec);
    append_u32(&out, static_cast<uint32_t>(body.size()));
    append_u32(&out, static_cast<uint32_t>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}
