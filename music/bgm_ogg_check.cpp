// A bounds check of the Vorbis comment header before the decoder sees it.
//
// The decoder trusts the vendor length, the comment count and each comment's
// length as the file states them: a negative length makes it write before its
// buffer, and a huge one makes it allocate and read gigabytes. Music comes from
// archives that a player may have damaged, so the header is checked here first.
#include "bgm_private.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint8_t OGG_CAPTURE[] = {'O', 'g', 'g', 'S'};
constexpr size_t OGG_PAGE_HEADER_SIZE = 27;
constexpr size_t OGG_SEGMENT_COUNT_OFFSET = 26;
constexpr uint8_t OGG_LACING_CONTINUES = 255;

constexpr uint8_t VORBIS_COMMENT_PACKET_TYPE = 3;
constexpr uint8_t VORBIS_SIGNATURE[] = {'v', 'o', 'r', 'b', 'i', 's'};
constexpr size_t VORBIS_FRAMING_SIZE = 1;

uint32_t read_u32le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The packet that starts on the page at `pos`, following it across pages as
// the decoder does. False when the data ends or breaks before the packet does.
bool collect_packet(const uint8_t* data, size_t len, size_t pos, std::vector<uint8_t>* packet)
{
    while (true) {
        if (len - pos < OGG_PAGE_HEADER_SIZE || memcmp(data + pos, OGG_CAPTURE, sizeof OGG_CAPTURE) != 0) {
            return false;
        }
        size_t segments = data[pos + OGG_SEGMENT_COUNT_OFFSET];
        size_t lacing_at = pos + OGG_PAGE_HEADER_SIZE;
        if (len - lacing_at < segments) {
            return false;
        }
        size_t body = lacing_at + segments;
        for (size_t i = 0; i < segments; ++i) {
            size_t seg_len = data[lacing_at + i];
            if (len - body < seg_len) {
                return false;
            }
            packet->insert(packet->end(), data + body, data + body + seg_len);
            body += seg_len;
            if (seg_len < OGG_LACING_CONTINUES) {
                return true;
            }
        }
        pos = body;
    }
}

// Where the page after the one at `pos` starts, or 0 when the page is cut short.
size_t next_page(const uint8_t* data, size_t len, size_t pos)
{
    if (len - pos < OGG_PAGE_HEADER_SIZE) {
        return 0;
    }
    size_t segments = data[pos + OGG_SEGMENT_COUNT_OFFSET];
    size_t lacing_at = pos + OGG_PAGE_HEADER_SIZE;
    if (len - lacing_at < segments) {
        return 0;
    }
    size_t body_len = 0;
    for (size_t i = 0; i < segments; ++i) {
        body_len += data[lacing_at + i];
    }
    size_t end = lacing_at + segments;
    return len - end < body_len ? 0 : end + body_len;
}

}  // namespace

bool bgm_check_comment_header(const uint8_t* data, size_t len)
{
    // The decoder reads the comment header from the start of the second page.
    size_t second_page = next_page(data, len, 0);
    std::vector<uint8_t> packet;
    if (second_page == 0 || !collect_packet(data, len, second_page, &packet)) {
        return false;
    }
    const uint8_t* p = packet.data();
    size_t left = packet.size();
    if (left < 1 + sizeof VORBIS_SIGNATURE || p[0] != VORBIS_COMMENT_PACKET_TYPE ||
        memcmp(p + 1, VORBIS_SIGNATURE, sizeof VORBIS_SIGNATURE) != 0) {
        return false;
    }
    p += 1 + sizeof VORBIS_SIGNATURE;
    left -= 1 + sizeof VORBIS_SIGNATURE;

    // Vendor string, comment count, then each comment: every length must fit
    // in what is left of the packet.
    if (left < 4) {
        return false;
    }
    uint32_t vendor_len = read_u32le(p);
    p += 4;
    left -= 4;
    if (vendor_len > left) {
        return false;
    }
    p += vendor_len;
    left -= vendor_len;
    if (left < 4) {
        return false;
    }
    uint32_t comment_count = read_u32le(p);
    p += 4;
    left -= 4;
    for (uint32_t i = 0; i < comment_count; ++i) {
        if (left < 4) {
            return false;
        }
        uint32_t comment_len = read_u32le(p);
        p += 4;
        left -= 4;
        if (comment_len > left) {
            return false;
        }
        p += comment_len;
        left -= comment_len;
    }
    return left >= VORBIS_FRAMING_SIZE;
}
