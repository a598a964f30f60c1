// The keyword commands, ".NAME operands": one table from name to handler.
#include "vm_private.h"

#include "save.h"
#include "vm.h"

#include <cstdint>
#include <cstring>

using KeywordHandler = void (*)(Engine*);

static constexpr size_t VM_KEYWORD_MAX_LEN = 31;
static constexpr uint32_t VAR_INDEX_MASK = VM_VAR_COUNT - 1;

// The slot-chooser hook lets a test answer the slot screen without a window.
static int32_t open_slot_screen(Engine* engine, int32_t mode)
{
    if (engine->slot_screen_hook)
        return engine->slot_screen_hook(engine, mode);
    return save_slot_screen(engine, mode);
}

static void skip_comma(Engine* engine)
{
    if (vm_peek(engine, engine->vm_pc) == ',')
        engine->vm_pc++;
}

// Two operands, the first followed directly by an optional ",".
static bool read_pair(Engine* engine, uint32_t* first, uint32_t* second)
{
    if (!vm_read_operand(engine, first))
        return false;
    skip_comma(engine);
    if (!vm_read_operand(engine, second))
        return false;
    skip_comma(engine);
    return true;
}

static void kw_nothing(Engine*) {}

static void kw_load(Engine* engine)
{
    engine->vm_vars[VAR_LOAD_FLAG] = 1;
}

static void jump_to_segment(Engine* engine, uint32_t segment)
{
    const uint8_t* entry = script_scene_entry(engine, segment);
    if (!entry)
        return;
    dbg_trace_jump(engine, static_cast<int32_t>(segment), '.');
    engine->vm_pc = static_cast<uint32_t>(entry - engine->code_base);
    engine->vm_segment = segment;
    // The running blocks and calls unwind on the leave request and execution
    // goes on at the new segment's entry.
    engine->vm_leave = 1;
}

static void kw_change(Engine* engine)
{
    static constexpr uint32_t CHG_SYSTEM = 1;
    static constexpr uint32_t CHG_NOTHING = 1;
    static constexpr uint32_t CHG_LOAD_SCREEN = 3;
    uint32_t a = 0;
    uint32_t b = 0;
    if (!read_pair(engine, &a, &b))
        return;
    if (a == CHG_SYSTEM && b == CHG_LOAD_SCREEN) {
        const int32_t slot = open_slot_screen(engine, SAVE_SLOT_SCREEN_LOAD);
        if (slot >= 0)
            save_load_slot(engine, slot);
        return;
    }
    if (a == CHG_SYSTEM && b == CHG_NOTHING)
        return;
    jump_to_segment(engine, b);
}

static void kw_save(Engine* engine)
{
    const int32_t slot = open_slot_screen(engine, SAVE_SLOT_SCREEN_SAVE);
    if (slot < 0) {
        engine->vm_vars[VAR_RESULT] = 1;
        return;
    }
    // Written at the start of the next step, once this instruction is done.
    g_pending_save_slot = slot;
    engine->vm_vars[VAR_RESULT] = 0;
}

static void kw_multiply(Engine* engine)
{
    uint32_t v = 0;
    uint32_t n = 0;
    if (!read_pair(engine, &v, &n))
        return;
    int32_t* var = &engine->vm_vars[v & VAR_INDEX_MASK];
    *var = static_cast<int32_t>(static_cast<uint32_t>(*var) * n);
}

// The variable and the divisor of DIV and MOD; false when an operand is
// missing or the divisor is 0, which leaves the variable as it is.
static bool read_division(Engine* engine, int32_t** var, int32_t* divisor)
{
    uint32_t v = 0;
    uint32_t n = 0;
    if (!read_pair(engine, &v, &n) || n == 0)
        return false;
    *var = &engine->vm_vars[v & VAR_INDEX_MASK];
    *divisor = static_cast<int32_t>(n);
    return true;
}

static void kw_divide(Engine* engine)
{
    int32_t* var = nullptr;
    int32_t divisor = 0;
    if (!read_division(engine, &var, &divisor))
        return;
    // Dividing by -1 is a negation; the lowest value wraps onto itself
    // instead of overflowing.
    if (divisor == -1)
        *var = static_cast<int32_t>(0u - static_cast<uint32_t>(*var));
    else
        *var /= divisor;
}

static void kw_modulo(Engine* engine)
{
    int32_t* var = nullptr;
    int32_t divisor = 0;
    if (!read_division(engine, &var, &divisor))
        return;
    // Every remainder by -1 is 0; computing it would overflow for the lowest value.
    if (divisor == -1)
        *var = 0;
    else
        *var %= divisor;
}

static void kw_protect(Engine* engine)
{
    uint32_t v = 0;
    if (!vm_read_operand(engine, &v))
        return;
    skip_comma(engine);
    engine->vm_vars[v & VAR_INDEX_MASK] = 0;
}

struct KeywordEntry {
    const char* name;
    KeywordHandler handler;
};

static const KeywordEntry KEYWORDS[] = {
    {"LOAD", kw_load},      // VAR_LOAD_FLAG = 1
    {"CHG", kw_change},     // a, b: the load screen, nothing, or a jump to segment b
    {"SAVE", kw_save},      // the save screen; the slot is written at the next step
    {"SWAP", kw_nothing},
    {"KEY", kw_nothing},
    {"MUL", kw_multiply},   // v, n: variable v *= n
    {"DIV", kw_divide},     // v, n: variable v /= n
    {"MOD", kw_modulo},     // v, n: variable v %= n
    {"PROT", kw_protect},   // v: variable v = 0
};

static bool is_keyword_char(int byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
}

void vm_exec_keyword(Engine* engine)
{
    char name[VM_KEYWORD_MAX_LEN + 1];
    size_t length = 0;
    while (length < VM_KEYWORD_MAX_LEN && is_keyword_char(vm_peek(engine, engine->vm_pc)))
        name[length++] = static_cast<char>(engine->code_base[engine->vm_pc++]);
    name[length] = '\0';
    vm_skip_spaces(engine);
    for (const KeywordEntry& keyword : KEYWORDS) {
        if (strcmp(keyword.name, name) == 0) {
            keyword.handler(engine);
            return;
        }
    }
}
