#include "ogg_writer.h"

#include <vorbis/vorbisenc.h>

#include <string>

namespace {

constexpr size_t OGG_WRITER_CHUNK_FRAMES = 1024;
constexpr float OGG_WRITER_SAMPLE_SCALE = 32768.0f;
constexpr int OGG_WRITER_SERIAL = 0x4B56524C;  // any fixed value keeps the output reproducible
constexpr long OGG_WRITER_COMMENT_TAIL = 5;       // a comment header ends with its tag count and framing bit

// Owns the libvorbis and libogg encoder records for one stream.
struct VorbisEncoder {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
    bool dsp_ready = false;
    bool stream_ready = false;

    VorbisEncoder()
    {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~VorbisEncoder()
    {
        if (stream_ready) {
            ogg_stream_clear(&stream);
        }
        if (dsp_ready) {
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
        }
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
    VorbisEncoder(const VorbisEncoder&) = delete;
    VorbisEncoder& operator=(const VorbisEncoder&) = delete;
};

void append_page(std::vector<uint8_t>* out, const ogg_page& page)
{
    out->insert(out->end(), page.header, page.header + page.header_len);
    out->insert(out->end(), page.body, page.body + page.body_len);
}

// Moves every finished block of the analysis into pages.
void drain_blocks(VorbisEncoder* enc, std::vector<uint8_t>* out)
{
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&enc->dsp, &enc->block) == 1) {
        vorbis_analysis(&enc->block, nullptr);
        vorbis_bitrate_addblock(&enc->block);
        while (vorbis_bitrate_flushpacket(&enc->dsp, &packet) == 1) {
            ogg_stream_packetin(&enc->stream, &packet);
            while (ogg_stream_pageout(&enc->stream, &page) != 0) {
                append_page(out, page);
            }
        }
    }
}

void append_u32le(std::vector<uint8_t>* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// The comment header with one COMMENT tag, laid out from the library's header
// without tags. The library packs a tag a bit at a time into a buffer that it
// grows a few hundred bytes at a go, which a sanitizer's copying realloc turns
// into hours for a tag of many megabytes.
std::vector<uint8_t> comment_header_with(const ogg_packet& without_tags, const char* text)
{
    size_t kept = static_cast<size_t>(without_tags.bytes - OGG_WRITER_COMMENT_TAIL);
    std::vector<uint8_t> header(without_tags.packet, without_tags.packet + kept);
    const std::string tag = std::string("COMMENT=") + text;
    append_u32le(&header, 1);
    append_u32le(&header, static_cast<uint32_t>(tag.size()));
    header.insert(header.end(), tag.begin(), tag.end());
    header.push_back(1);
    return header;
}

}  // namespace

std::vector<uint8_t> ogg_encode_vorbis(const int16_t* samples, size_t frames, int channels,
                                       int rate, float quality, const char* comment)
{
    std::vector<uint8_t> out;
    if (channels < 1 || channels > OGG_WRITER_MAX_CHANNELS || rate <= 0 || (frames > 0 && samples == nullptr)) {
        return out;
    }

    VorbisEncoder enc;
    if (vorbis_encode_init_vbr(&enc.info, channels, rate, quality) != 0) {
        return out;
    }
    if (vorbis_analysis_init(&enc.dsp, &enc.info) != 0) {
        return out;
    }
    vorbis_block_init(&enc.dsp, &enc.block);
    enc.dsp_ready = true;
    ogg_stream_init(&enc.stream, OGG_WRITER_SERIAL);
    enc.stream_ready = true;

    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    vorbis_analysis_headerout(&enc.dsp, &enc.comment, &identification, &comments, &codebooks);
    std::vector<uint8_t> tagged;
    if (comment != nullptr) {
        tagged = comment_header_with(comments, comment);
        comments.packet = tagged.data();
        comments.bytes = static_cast<long>(tagged.size());
    }
    ogg_stream_packetin(&enc.stream, &identification);
    ogg_stream_packetin(&enc.stream, &comments);
    ogg_stream_packetin(&enc.stream, &codebooks);
    // Audio must start on a fresh page after the headers.
    ogg_page page;
    while (ogg_stream_flush(&enc.stream, &page) != 0) {
        append_page(&out, page);
    }

    for (size_t done = 0; done < frames; done += OGG_WRITER_CHUNK_FRAMES) {
        size_t count = frames - done < OGG_WRITER_CHUNK_FRAMES ? frames - done : OGG_WRITER_CHUNK_FRAMES;
        float** buffer = vorbis_analysis_buffer(&enc.dsp, static_cast<int>(count));
        const int16_t* src = samples + done * static_cast<size_t>(channels);
        for (size_t i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                buffer[c][i] = static_cast<float>(src[i * static_cast<size_t>(channels) + static_cast<size_t>(c)]) /
                               OGG_WRITER_SAMPLE_SCALE;
            }
        }
        vorbis_analysis_wrote(&enc.dsp, static_cast<int>(count));
        drain_blocks(&enc, &out);
    }
    vorbis_analysis_wrote(&enc.dsp, 0);
    drain_blocks(&enc, &out);
    while (ogg_stream_flush(&enc.stream, &page) != 0) {
        append_page(&out, page);
    }
    return out;
}
