// The scenario assembler. The source is read character by character with the
// interpreter's own view of the stream in mind: text mode and command mode
// are tracked exactly as the interpreter will switch them, so a source line
// break can become a newline byte in text and a harmless separator between
// commands, and "}" can close a block in text while it calls a segment in a
// command group.
#include "kvs_assembler_internal.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>

namespace kvs_asm {

namespace {

constexpr uint32_t SEGMENT_COUNT = 512;
// Message offsets and the segment table's offset are 16-bit words.
constexpr size_t TABLES_ADDRESSABLE = 0x10000;
constexpr uint32_t MESSAGE_NUMBER_MAX = 0xFFFE;  // the count, one more, is a 16-bit word
constexpr uint16_t TABLES_PARAM_COUNT = 2;       // variable 0's start value and the start segment
constexpr size_t TABLES_HEADER_SIZE = 12;

void put_u16(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void append_u32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// How a character that cannot be converted is named in a message.
std::string describe_char(const std::string& text, size_t at)
{
    const auto lead = static_cast<uint8_t>(text[at]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    char buffer[64];
    if (length == 0 || at + length > text.size()) {
        snprintf(buffer, sizeof buffer, "byte 0x%02X (not UTF-8)", lead);
        return buffer;
    }
    uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; i++)
        code = (code << 6) | (static_cast<uint8_t>(text[at + i]) & 0x3F);
    snprintf(buffer, sizeof buffer, " (U+%04X)", code);
    return "'" + text.substr(at, length) + "'" + buffer;
}

}  // namespace

Assembler::Assembler(const std::string& source)
{
    // Windows line ends read like Unix ones.
    src_.reserve(source.size());
    for (size_t i = 0; i < source.size(); i++)
        if (!(source[i] == '\r' && i + 1 < source.size() && source[i + 1] == '\n'))
            src_.push_back(source[i]);
}

int Assembler::peek(size_t ahead) const
{
    return pos_ + ahead < src_.size() ? static_cast<uint8_t>(src_[pos_ + ahead]) : -1;
}

void Assembler::advance()
{
    if (pos_ >= src_.size())
        return;
    if (src_[pos_] == '\n')
        line_++;
    pos_++;
}

bool Assembler::at_comment() const
{
    return peek() == '/' && peek(1) == '/';
}

void Assembler::skip_blanks()
{
    while (is_blank(peek()))
        advance();
}

void Assembler::skip_to_line_end()
{
    while (peek() != -1 && peek() != '\n')
        advance();
}

void Assembler::expect_line_end(const char* after)
{
    skip_blanks();
    if (at_comment())
        skip_to_line_end();
    if (peek() != -1 && peek() != '\n') {
        error(line_, std::string("unexpected text after ") + after);
        skip_to_line_end();
    }
}

void Assembler::error(int line, const std::string& message)
{
    if (errors_.size() < KVS_MAX_ERRORS)
        errors_.push_back({line, message});
}

bool Assembler::read_number(uint32_t* out, const char* what)
{
    skip_blanks();
    if (!is_digit(peek())) {
        error(line_, std::string(what) + " needs a number");
        return false;
    }
    uint64_t value = 0;
    while (is_digit(peek())) {
        value = value * DECIMAL_BASE + static_cast<uint64_t>(peek() - '0');
        if (value > UINT32_MAX) {
            error(line_, std::string("number too large after ") + what);
            while (is_digit(peek()))
                advance();
            return false;
        }
        advance();
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

// ---------------------------------------------------------------------------
// Top level: start, var0, message and segment lines
// ---------------------------------------------------------------------------

KvsOutput Assembler::run()
{
    while (peek() != -1) {
        skip_blanks();
        if (peek() == '\n') {
            advance();
            continue;
        }
        if (at_comment()) {
            skip_to_line_end();
            continue;
        }
        if (peek() == -1)
            break;
        const int line = line_;
        std::string word;
        while (is_keyword_char(peek())) {
            word.push_back(static_cast<char>(peek()));
            advance();
        }
        if (word == "start") {
            if (read_number(&start_, "start")) {
                has_start_ = true;
                start_line_ = line;
            }
            expect_line_end("the start segment");
        } else if (word == "var0") {
            uint32_t value = 0;
            if (read_number(&value, "var0")) {
                if (value > 0xFFFF)
                    error(line, "var0 takes a value from 0 to 65535");
                var0_ = static_cast<uint16_t>(value);
            }
            expect_line_end("var0's value");
        } else if (word == "message") {
            parse_message();
        } else if (word == "segment") {
            parse_segment();
        } else {
            error(line, word.empty() ? "expected start, var0, message or segment"
                                     : "unknown directive '" + word + "' (expected start, var0, message or segment)");
            skip_to_line_end();
        }
    }
    check_references();

    KvsOutput out;
    if (errors_.empty())
        build_tables(&out);
    if (!errors_.empty()) {
        std::stable_sort(errors_.begin(), errors_.end(),
                         [](const KvsError& a, const KvsError& b) { return a.line < b.line; });
        out.tables.clear();
        out.errors = errors_;
        return out;
    }
    out.code = code_;
    return out;
}

void Assembler::parse_message()
{
    const int line = line_;
    uint32_t number = 0;
    if (!read_number(&number, "message")) {
        skip_to_line_end();
        return;
    }
    if (number > MESSAGE_NUMBER_MAX)
        error(line, "message numbers run from 0 to 65534");
    skip_blanks();

    // Text up to the line end or a comment; the escapes are the text ones.
    std::string bytes;
    std::string utf8;
    auto convert = [&](bool line_end) {
        if (line_end)
            while (!utf8.empty() && is_blank(utf8.back()))
                utf8.pop_back();
        std::string sjis;
        std::string bad;
        if (!kvs_utf8_to_sjis(utf8, &sjis, &bad))
            error(line, "text has no Shift-JIS form: " + bad);
        bytes += sjis;
        utf8.clear();
    };
    while (peek() != -1 && peek() != '\n' && !at_comment()) {
        if (peek() != '\\') {
            utf8.push_back(static_cast<char>(peek()));
            advance();
            continue;
        }
        advance();
        convert(false);
        const int c = peek();
        if (c == 'n' || c == 's' || c == '\\' || c == '/') {
            bytes.push_back(c == 'n' ? '\n' : c == 's' ? ' ' : static_cast<char>(c));
            advance();
        } else if (c == 'x' && hex_value(peek(1)) >= 0 && hex_value(peek(2)) >= 0) {
            const int value = hex_value(peek(1)) * 16 + hex_value(peek(2));
            if (value == 0)
                error(line, "a message cannot hold the byte 0, which ends it");
            bytes.push_back(static_cast<char>(value));
            advance();
            advance();
            advance();
        } else {
            error(line, "unknown escape in a message (use \\n, \\s, \\\\, \\/ or \\xHH)");
            advance();
        }
    }
    convert(true);
    skip_to_line_end();
    if (message_lines_.count(number)) {
        error(line, "message " + std::to_string(number) + " is already defined on line " +
                        std::to_string(message_lines_[number]));
        return;
    }
    messages_[number] = bytes;
    message_lines_[number] = line;
}

void Assembler::parse_segment()
{
    const int line = line_;
    uint32_t number = 0;
    if (!read_number(&number, "segment")) {
        skip_to_line_end();
        return;
    }
    bool usable = true;
    if (number >= SEGMENT_COUNT) {
        error(line, "segment numbers run from 0 to 511");
        usable = false;
    } else if (segment_lines_.count(number)) {
        error(line, "segment " + std::to_string(number) + " is already defined on line " +
                        std::to_string(segment_lines_[number]));
        usable = false;
    }
    skip_blanks();
    if (peek() != '{') {
        error(line, "expected '{' after segment " + std::to_string(number));
        skip_to_line_end();
        return;
    }
    if (usable) {
        segment_offsets_[number] = static_cast<uint32_t>(code_.size());
        segment_lines_[number] = line;
        if (first_segment_ == NO_SEGMENT)
            first_segment_ = number;
    }
    advance();
    open_block();
    if (parse_body())
        expect_line_end("the segment's '}'");
}

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

void Assembler::check_references()
{
    if (segment_offsets_.empty()) {
        error(1, "no segment defined");
        return;
    }
    if (!has_start_)
        start_ = first_segment_;
    else if (!segment_offsets_.count(start_))
        error(start_line_, "start names segment " + std::to_string(start_) + ", which is not defined");
    for (const Reference& ref : references_) {
        if (ref.segment && !segment_offsets_.count(ref.number))
            error(ref.line, "no segment " + std::to_string(ref.number) + " is defined");
        if (!ref.segment && !messages_.count(ref.number))
            error(ref.line, "no message " + std::to_string(ref.number) + " is defined");
    }
}

// Header words, the string offsets, the table's offset, the strings, then the
// segment table; numbers without a string share one empty string.
void Assembler::build_tables(KvsOutput* out)
{
    std::vector<uint8_t>& tables = out->tables;
    const uint32_t string_count = messages_.empty() ? 0 : messages_.rbegin()->first + 1;
    const size_t offsets_at = TABLES_HEADER_SIZE;
    const size_t table_word_at = offsets_at + 2 * size_t{string_count};
    tables.assign(table_word_at + 2, 0);
    put_u16(tables, 2, TABLES_PARAM_COUNT);
    put_u16(tables, 4, string_count);
    put_u16(tables, 8, var0_);
    put_u16(tables, 10, start_);

    size_t empty_at = 0;
    if (messages_.size() < string_count) {
        empty_at = tables.size();
        tables.push_back(0);
    }
    bool fits = true;
    for (uint32_t number = 0; number < string_count; number++) {
        auto found = messages_.find(number);
        size_t at = empty_at;
        if (found != messages_.end()) {
            at = tables.size();
            tables.insert(tables.end(), found->second.begin(), found->second.end());
            tables.push_back(0);
        }
        fits = fits && at < TABLES_ADDRESSABLE;
        put_u16(tables, offsets_at + 2 * size_t{number}, static_cast<uint32_t>(at));
    }
    const size_t table_at = tables.size();
    if (!fits || table_at >= TABLES_ADDRESSABLE) {
        error(message_lines_.empty() ? 1 : message_lines_.rbegin()->second,
              "the messages need more than the 64 KiB the tables file can address");
        return;
    }
    put_u16(tables, table_word_at, static_cast<uint32_t>(table_at));
    const uint32_t last_segment = segment_offsets_.rbegin()->first;
    for (uint32_t number = 0; number <= last_segment; number++) {
        auto found = segment_offsets_.find(number);
        append_u32(tables, found == segment_offsets_.end() ? NO_SEGMENT : found->second);
    }
}

}  // namespace kvs_asm

bool kvs_utf8_to_sjis(const std::string& text, std::string* out, std::string* bad)
{
    out->clear();
    if (text.empty())
        return true;
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        *bad = "no CP932 converter on this system";
        return false;
    }
    // Every character takes at most two bytes, never more than its UTF-8 form.
    std::string buffer(text.size() * 2, '\0');
    char* in = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char* write = &buffer[0];
    size_t out_left = buffer.size();
    const size_t result = iconv(converter, &in, &in_left, &write, &out_left);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1)) {
        *bad = kvs_asm::describe_char(text, text.size() - in_left);
        return false;
    }
    buffer.resize(buffer.size() - out_left);
    *out = buffer;
    return true;
}

KvsOutput kvs_assemble(const std::string& source)
{
    kvs_asm::Assembler assembler(source);
    return assembler.run();
}

