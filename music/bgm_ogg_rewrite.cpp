// Giving a checked OGG file an empty comment header, in place, before the
// decoder opens it.
//
// The decoder copies every comment into its own memory a byte at a time, so a
// file carrying cover art would hold its comments twice and keep the main
// thread busy copying them. The player never shows a comment, so the decoder
// is shown the file with an empty comment header instead. The first page
// moves up to meet a page holding the empty comment, laid out to end where
// the setup header begins; every page from there on stays where and as it is.
#include "bgm_private.h"

#include <array>
#include <cstring>

namespace {

// Type, signature, an empty vendor string, no comments, the framing bit.
constexpr uint8_t EMPTY_COMMENT_PACKET[] = {VORBIS_COMMENT_PACKET_TYPE, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0,
                                            0, 0, 0, 0, 1};
constexpr size_t OGG_MAX_SEGMENTS = 255;
constexpr uint32_t OGG_CRC_POLYNOMIAL = 0x04C11DB7;
constexpr uint32_t OGG_COMMENT_PAGE_SEQUENCE = 1;  // the page after the first

constexpr std::array<uint32_t, 256> make_crc_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < table.size(); ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? crc << 1 ^ OGG_CRC_POLYNOMIAL : crc << 1;
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> OGG_CRC_TABLE = make_crc_table();

// The page's checksum, taken with its own checksum field zero.
uint32_t ogg_crc(const uint8_t* page, size_t len)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < len; ++i) {
        crc = crc << 8 ^ OGG_CRC_TABLE[(crc >> 24 ^ page[i]) & 0xFF];
    }
    return crc;
}

void put_u32le(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

size_t bgm_drop_comments(uint8_t* data, const OggHeaderLayout& layout)
{
    // The comment's page: its header and lacing table, gathered here because
    // the bytes they go over may still be read.
    uint8_t header[OGG_PAGE_HEADER_SIZE + OGG_MAX_SEGMENTS];
    size_t kept = 0;  // segments of the setup's page that follow the comment onto its page
    size_t comment_end = layout.setup_page;
    size_t page_end = layout.setup_page;
    if (layout.setup_segment == 0) {
        // The setup opens its page, which may have no segment to spare, so
        // the comment gets a page of its own, a header page like the first.
        memcpy(header, data, OGG_PAGE_HEADER_SIZE);
        header[OGG_FLAGS_OFFSET] = 0;
        put_u32le(header + OGG_SEQUENCE_OFFSET, OGG_COMMENT_PAGE_SEQUENCE);
    } else {
        // The comment takes the place of the segments before the setup.
        const uint8_t* setup_page = data + layout.setup_page;
        const uint8_t* lacing = setup_page + OGG_PAGE_HEADER_SIZE;
        size_t segments = setup_page[OGG_SEGMENT_COUNT_OFFSET];
        kept = segments - layout.setup_segment;
        memcpy(header, setup_page, OGG_PAGE_HEADER_SIZE);
        memcpy(header + OGG_PAGE_HEADER_SIZE + 1, lacing + layout.setup_segment, kept);
        header[OGG_FLAGS_OFFSET] &= static_cast<uint8_t>(~OGG_FLAG_CONTINUED);
        comment_end = layout.setup_at;
        page_end = layout.setup_page_end;
    }
    header[OGG_SEGMENT_COUNT_OFFSET] = static_cast<uint8_t>(kept + 1);
    header[OGG_PAGE_HEADER_SIZE] = sizeof EMPTY_COMMENT_PACKET;
    size_t header_size = OGG_PAGE_HEADER_SIZE + 1 + kept;

    // This always fits: the comment took at least as many bytes as the empty
    // one and at least one lacing value, and where the setup opens its page
    // the comment's own pages ended just before it.
    size_t comment_at = comment_end - sizeof EMPTY_COMMENT_PACKET;
    size_t page_at = comment_at - header_size;
    size_t start = page_at - layout.id_page_size;
    memmove(data + start, data, layout.id_page_size);
    memcpy(data + page_at, header, header_size);
    memcpy(data + comment_at, EMPTY_COMMENT_PACKET, sizeof EMPTY_COMMENT_PACKET);
    put_u32le(data + page_at + OGG_CRC_OFFSET, 0);
    put_u32le(data + page_at + OGG_CRC_OFFSET, ogg_crc(data + page_at, page_end - page_at));
    return start;
}
