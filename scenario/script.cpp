// The scenario pair: the tables file (parameters, message strings, segment
// table) and the code file the interpreter runs.
#include "vm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive.h"

constexpr size_t SCRIPT_NAME_CAPACITY = 256;
constexpr uint64_t KVL_WORD_SIZE = 2;
constexpr uint64_t KVL_SEGMENT_ENTRY_SIZE = 4;
constexpr uint64_t KVL_WORD_PARAM_COUNT = 1;
constexpr uint64_t KVL_WORD_STRING_COUNT = 2;
constexpr uint64_t KVL_WORD_PARAM_0 = 4;
constexpr uint64_t KVL_WORD_START_SEGMENT = 5;
constexpr uint64_t KVL_WORD_FIRST_PARAM = 4;  // string offsets follow the N1 parameters
constexpr uint16_t KVL_WORD_MASK = 0xFFFF;
// Parameter 0 seeds variable 0 only when the file declares a second parameter.
constexpr uint16_t KVL_PARAMS_FOR_VAR0 = 2;
constexpr int SCRIPT_VAR0 = 0;
constexpr uint64_t SEGMENT_HEAD_SIZE = 3;  // '{' and the u16 length

static const char KVL_ERR[] = "[KVL_ERR]";

static uint16_t read_u16_le(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

static uint32_t read_u32_le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

static bool kvl_has_word_at(const Engine* engine, uint64_t offset)
{
    return engine->kvl_data && engine->kvl_size >= KVL_WORD_SIZE &&
           offset <= engine->kvl_size - KVL_WORD_SIZE;
}

// A header word that a short file does not reach reads as 0, so a truncated
// file still loads as one without parameters, strings or segments.
static uint16_t kvl_word(const Engine* engine, uint64_t index)
{
    uint64_t offset = index * KVL_WORD_SIZE;
    if (!kvl_has_word_at(engine, offset))
        return 0;
    return read_u16_le(engine->kvl_data + offset);
}

static void script_keep_tables(Engine* engine, uint8_t* tables, size_t tables_size)
{
    free(engine->kvl_data);
    engine->kvl_data = tables;
    engine->kvl_size = tables_size;
}

static void script_keep_code(Engine* engine, uint8_t* code, size_t code_size)
{
    free(engine->code_base);
    engine->code_base = code;
    // Segment offsets are 32 bits wide, so nothing past 4 GiB could be reached.
    engine->code_size = code_size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(code_size);
}

// Reads the segment table and the parameters of the tables file in place.
static void script_apply_tables(Engine* engine)
{
    uint16_t param_count = kvl_word(engine, KVL_WORD_PARAM_COUNT);
    uint16_t string_count = kvl_word(engine, KVL_WORD_STRING_COUNT);

    // The stored format wraps the position of T at 16 bits, twice: once for the
    // word index and once for the byte offset. Files rely on it, so keep it.
    uint16_t t_index = static_cast<uint16_t>((KVL_WORD_FIRST_PARAM + param_count + string_count) & KVL_WORD_MASK);
    uint16_t t_offset = static_cast<uint16_t>((t_index * KVL_WORD_SIZE) & KVL_WORD_MASK);
    if (kvl_has_word_at(engine, t_offset)) {
        uint64_t table = read_u16_le(engine->kvl_data + t_offset);
        if (table < engine->kvl_size) {
            uint64_t count = (engine->kvl_size - table) / KVL_SEGMENT_ENTRY_SIZE;
            if (count > VM_SEGMENT_COUNT)
                count = VM_SEGMENT_COUNT;
            for (uint64_t n = 0; n < count; n++)
                engine->segment_offsets[n] =
                    read_u32_le(engine->kvl_data + table + n * KVL_SEGMENT_ENTRY_SIZE);
        }
    }

    if (param_count >= KVL_PARAMS_FOR_VAR0)
        engine->vm_vars[SCRIPT_VAR0] = kvl_word(engine, KVL_WORD_PARAM_0);
    engine->kvl_loaded = 1;
}

void script_install(Engine* engine, uint8_t* tables, size_t tables_size, uint8_t* code, size_t code_size)
{
    script_keep_tables(engine, tables, tables_size);
    script_keep_code(engine, code, code_size);
    script_apply_tables(engine);
}

bool script_load(Engine* engine, const char* name)
{
    char file_name[SCRIPT_NAME_CAPACITY];

    snprintf(file_name, sizeof file_name, "%s.KVL", name);
    size_t tables_size = 0;
    uint8_t* tables = asset_read_capped(file_name, SCRIPT_TABLES_CAP, &tables_size);
    if (!tables)
        return false;
    script_keep_tables(engine, tables, tables_size);

    snprintf(file_name, sizeof file_name, "%s.KVY", name);
    size_t code_size = 0;
    uint8_t* code = asset_read_capped(file_name, SCRIPT_CODE_CAP, &code_size);
    if (!code)
        return false;
    script_keep_code(engine, code, code_size);

    script_apply_tables(engine);
    return true;
}

const char* script_string(Engine* engine, int32_t index)
{
    if (!engine->kvl_loaded || !engine->kvl_data)
        return nullptr;
    uint16_t string_count = kvl_word(engine, KVL_WORD_STRING_COUNT);
    if (index < 0 || index >= string_count)
        return KVL_ERR;
    // Unlike T, the string offsets are located without a 16-bit wrap.
    uint64_t word = KVL_WORD_FIRST_PARAM + kvl_word(engine, KVL_WORD_PARAM_COUNT) + static_cast<uint64_t>(index);
    uint64_t word_offset = word * KVL_WORD_SIZE;
    if (!kvl_has_word_at(engine, word_offset))
        return KVL_ERR;
    uint64_t offset = read_u16_le(engine->kvl_data + word_offset);
    if (offset >= engine->kvl_size)
        return KVL_ERR;
    // Callers read the string to its zero, so a string cut off by the end of
    // the file must not be handed out.
    if (!memchr(engine->kvl_data + offset, '\0', engine->kvl_size - offset))
        return KVL_ERR;
    return reinterpret_cast<const char*>(engine->kvl_data + offset);
}

const uint8_t* script_scene_entry(Engine* engine, uint32_t segment)
{
    if (segment >= VM_SEGMENT_COUNT)
        return nullptr;
    uint64_t offset = engine->segment_offsets[segment];
    if (offset >= engine->code_size || !engine->code_base)
        return nullptr;
    // Callers read the '{' and the length right after the entry; a head cut
    // off by the end of the code makes the segment one that does not exist.
    if (engine->code_size - offset < SEGMENT_HEAD_SIZE)
        return nullptr;
    return engine->code_base + offset;
}

uint32_t script_start_segment(const Engine* engine)
{
    if (!engine->kvl_loaded)
        return 0;
    return kvl_word(engine, KVL_WORD_START_SEGMENT);
}
