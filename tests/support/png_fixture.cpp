#include "png_fixture.h"

#include <zlib.h>

#include <algorithm>

static void append_u32(Bytes* out, uint32_t v)
{
    out->insert(out->end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

static void append_chunk(Bytes* png, const char* type, const Bytes& data)
{
    Bytes chunk(type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    append_u32(png, static_cast<uint32_t>(data.size()));
    png->insert(png->end(), chunk.begin(), chunk.end());
    append_u32(png, static_cast<uint32_t>(crc32(0, chunk.data(), uInt(chunk.size()))));
}

Bytes png_file(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced, const Bytes& data)
{
    uLongf size = compressBound(data.size());
    Bytes packed(size);
    compress(packed.data(), &size, data.data(), data.size());
    packed.resize(size);
    return png_from_stream(w, h, depth, colour, interlaced, packed, packed.size());
}

Bytes png_from_stream(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced,
                      const Bytes& stream, size_t chunk_bytes)
{
    Bytes header;
    append_u32(&header, w);
    append_u32(&header, h);
    header.insert(header.end(), {depth, colour, 0, 0, uint8_t(interlaced)});
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    append_chunk(&png, "IHDR", header);
    for (size_t at = 0; at < stream.size(); at += chunk_bytes) {
        const size_t end = std::min(stream.size(), at + chunk_bytes);
        append_chunk(&png, "IDAT", Bytes(stream.begin() + at, stream.begin() + end));
    }
    append_chunk(&png, "IEND", {});
    return png;
}

Bytes png_blank(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced, size_t extra,
                bool zlib_refuses)
{
    static const uint32_t channels[] = {1, 0, 3, 1, 2, 0, 4};
    const size_t bits = size_t(depth) * channels[colour];
    const auto rows = [&](size_t pass_w, size_t pass_h) {
        return pass_w && pass_h ? pass_h * (1 + (pass_w * bits + 7) / 8) : 0;
    };
    // Adam7's passes: every dx-th pixel of every dy-th row from x0, y0.
    static const uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    size_t size = interlaced ? 0 : rows(w, h);
    for (const auto& p : passes)
        if (interlaced && w > p[0] && h > p[1])
            size += rows((w - p[0] + p[2] - 1) / p[2], (h - p[1] + p[3] - 1) / p[3]);
    const Bytes data(size + extra, 0);
    if (zlib_refuses)
        return png_from_stream(w, h, depth, colour, interlaced, stream_with_fixed_last_block(data, true), 1 << 16);
    return png_file(w, h, depth, colour, interlaced, data);
}

Bytes stream_with_fixed_last_block(const Bytes& data, bool unused_symbol)
{
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    Bytes stream(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = stream.data();
    z.avail_out = uInt(stream.size());
    deflate(&z, Z_SYNC_FLUSH);
    stream.resize(z.total_out);
    deflateEnd(&z);
    int bit = 8;
    const auto put = [&](uint32_t code, int bits) {  // codes go most significant bit first
        for (int i = bits - 1; i >= 0; i--, bit++) {
            if (bit == 8)
                stream.push_back(0), bit = 0;
            stream.back() |= static_cast<uint8_t>((code >> i & 1) << bit);
        }
    };
    put(0b110, 3);  // the last block, then type 1 (fixed codes) least significant bit first
    if (unused_symbol)
        put(0xC6 << 5, 8 + 5);  // symbol 286, then its distance
    put(0, 7);  // the end of the block
    append_u32(&stream, static_cast<uint32_t>(adler32(1, data.data(), uInt(data.size()))));
    return stream;
}
