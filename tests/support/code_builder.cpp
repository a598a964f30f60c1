#include "code_builder.h"

#include "vm.h"

#include <cstdlib>
#include <cstring>

Code& Code::text(const std::string& bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

Code& Code::cmd(const std::string& commands)
{
    return text("[" + commands + "]");
}

Code& Code::raw(std::initializer_list<uint8_t> bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

Code& Code::u16(uint16_t value)
{
    return raw({static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

Code& Code::block(const Code& body)
{
    raw({'{'});
    u16(static_cast<uint16_t>(body.size()));
    bytes_.insert(bytes_.end(), body.bytes().begin(), body.bytes().end());
    return *this;
}

ScenarioBuilder& ScenarioBuilder::segment(uint32_t number, const Code& body)
{
    segments_[number] = body;
    return *this;
}

ScenarioBuilder& ScenarioBuilder::string(uint32_t number, const std::string& bytes)
{
    strings_[number] = bytes;
    return *this;
}

ScenarioBuilder& ScenarioBuilder::start(uint16_t segment)
{
    start_ = segment;
    return *this;
}

ScenarioBuilder& ScenarioBuilder::param0(uint16_t value)
{
    param0_ = value;
    has_param0_ = true;
    return *this;
}

static void put_u16(Bytes& out, size_t at, uint16_t value)
{
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

static void append_u32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes ScenarioBuilder::tables() const
{
    // Header words, two parameters (variable 0 and the start segment), the
    // string offsets, the table offset, then the strings and the table.
    const uint16_t n1 = 2;
    const uint16_t n2 = strings_.empty() ? 0 : static_cast<uint16_t>(strings_.rbegin()->first + 1);
    const size_t string_offsets_at = 8 + 2 * n1;
    const size_t table_word_at = string_offsets_at + 2 * n2;
    Bytes out(table_word_at + 2, 0);
    put_u16(out, 2, n1);
    put_u16(out, 4, n2);
    put_u16(out, 8, has_param0_ ? param0_ : 0);
    put_u16(out, 10, start_);

    // Numbers without a string point at an empty one.
    const size_t empty_string_at = out.size();
    out.push_back(0);
    for (uint16_t i = 0; i < n2; i++) {
        auto found = strings_.find(i);
        size_t at = empty_string_at;
        if (found != strings_.end()) {
            at = out.size();
            out.insert(out.end(), found->second.begin(), found->second.end());
            out.push_back(0);
        }
        put_u16(out, string_offsets_at + 2 * i, static_cast<uint16_t>(at));
    }

    put_u16(out, table_word_at, static_cast<uint16_t>(out.size()));
    const uint32_t segment_count = segments_.empty() ? 0 : segments_.rbegin()->first + 1;
    for (uint32_t n = 0; n < segment_count; n++)
        append_u32(out, segments_.count(n) ? offset_of(n) : 0xFFFFFFFFu);
    return out;
}

ScenarioBuilder& ScenarioBuilder::tail(const Code& bytes)
{
    tail_ = bytes;
    return *this;
}

Bytes ScenarioBuilder::code() const
{
    Code all;
    for (const auto& [number, body] : segments_)
        all.block(body);
    all.text(std::string(tail_.bytes().begin(), tail_.bytes().end()));
    return all.bytes();
}

uint32_t ScenarioBuilder::offset_of(uint32_t number) const
{
    uint32_t offset = 0;
    for (const auto& [n, body] : segments_) {
        if (n == number)
            return offset;
        offset += 3 + static_cast<uint32_t>(body.size());
    }
    return 0xFFFFFFFFu;
}

// Exactly as large as the bytes, so a sanitized test catches a read past the end.
static uint8_t* malloc_copy(const Bytes& bytes)
{
    uint8_t* copy = static_cast<uint8_t*>(malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty())
        memcpy(copy, bytes.data(), bytes.size());
    return copy;
}

void ScenarioBuilder::install(Engine* engine) const
{
    const Bytes table_bytes = tables();
    const Bytes code_bytes = code();
    script_install(engine, malloc_copy(table_bytes), table_bytes.size(), malloc_copy(code_bytes),
                   code_bytes.size());
    const uint8_t* entry = script_scene_entry(engine, start_);
    if (entry) {
        engine->vm_pc = static_cast<uint32_t>(entry - engine->code_base);
        engine->vm_segment = start_;
    }
}
