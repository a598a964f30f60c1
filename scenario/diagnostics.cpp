// What the interpreter records about itself: the event log, the jump ring
// and the breakpoint table with its hit log. The command and variable rings
// are written by the commands themselves.
#include "vm.h"
#include "vm_private.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

constexpr uint8_t SEGMENT_CALL_BYTE = '}';
constexpr int COMMAND_TEXT_TAIL = 14;  // code bytes shown after the command byte
constexpr uint32_t NO_OPERAND = 0xFFFFFFFFu;

// The counters only grow and are taken as unsigned, so a count past
// INT32_MAX still lands inside its ring.
static uint32_t ring_index(int32_t count, uint32_t size)
{
    return static_cast<uint32_t>(count) % size;
}

static int32_t count_up(int32_t count)
{
    return static_cast<int32_t>(static_cast<uint32_t>(count) + 1u);
}

void dbg_log(Engine* engine, const char* format, ...)
{
    if (!engine)
        return;
    char* line = engine->dbg_event_log[ring_index(engine->dbg_event_log_count, DBG_EVENT_LOG_LINES)];
    va_list args;
    va_start(args, format);
    vsnprintf(line, DBG_EVENT_LOG_LINE_LEN, format, args);
    va_end(args);
    engine->dbg_event_log_count = count_up(engine->dbg_event_log_count);
}

// Entry offset of the running segment; 0 for a number the table does not
// hold, so offsets are then shown as they are.
static uint32_t running_segment_entry(const Engine* engine)
{
    if (engine->vm_segment >= VM_SEGMENT_COUNT)
        return 0;
    return engine->segment_offsets[engine->vm_segment];
}

void dbg_trace_jump(Engine* engine, int32_t target, uint8_t kind)
{
    if (target < 0)
        return;
    JumpTraceEntry* entry = &engine->dbg_jump_trace[engine->dbg_jump_trace_count % DBG_JUMP_TRACE_SIZE];
    uint32_t segment_entry = running_segment_entry(engine);
    entry->target_segment = target;
    entry->segment = engine->vm_segment;
    entry->pc = engine->vm_pc >= segment_entry ? engine->vm_pc - segment_entry : engine->vm_pc;
    entry->kind = kind;
    engine->dbg_jump_trace_count++;
}

// The operand after the command byte at pc, read without moving vm_pc.
static uint32_t peek_operand(Engine* engine, uint8_t command, uint32_t pc)
{
    const uint32_t saved_pc = engine->vm_pc;
    engine->vm_pc = pc;
    if (vm_peek(engine, engine->vm_pc) == command)
        engine->vm_pc++;
    uint32_t value = NO_OPERAND;
    if (!vm_read_operand(engine, &value))
        value = NO_OPERAND;
    engine->vm_pc = saved_pc;
    return value;
}

static bool is_command_text_byte(int c)
{
    return c > 0 && (c == ' ' || (c >= '0' && c <= '9') || strchr("$+,-.=@[]", c));
}

// The command byte and the operand text that follows it in the code.
static void command_text(const Engine* engine, uint8_t command, uint32_t pc, char* out)
{
    int length = 0;
    out[length++] = static_cast<char>(command);
    for (int i = 1; i <= COMMAND_TEXT_TAIL; i++) {
        int c = vm_peek(engine, pc + static_cast<uint32_t>(i));
        if (!is_command_text_byte(c))
            break;
        out[length++] = static_cast<char>(c);
    }
    out[length] = '\0';
}

static bool breakpoint_matches(Engine* engine, const Breakpoint* bp, uint8_t command, uint32_t pc,
                               uint32_t* operand)
{
    switch (bp->kind) {
    case BP_KIND_COMMAND:
        return bp->arg1 == command;
    case BP_KIND_COMMAND_VALUE:
        if (bp->arg1 != command)
            return false;
        *operand = peek_operand(engine, command, pc);
        return *operand == bp->arg2;
    case BP_KIND_SEGMENT_CALL:
        if (command != SEGMENT_CALL_BYTE || bp->arg1 != SEGMENT_CALL_BYTE)
            return false;
        *operand = peek_operand(engine, command, pc);
        return *operand == bp->arg2;
    case BP_KIND_ADDRESS:
        return bp->arg1 == pc;
    default:
        return false;
    }
}

static void log_hit(Engine* engine, const Breakpoint* bp, uint8_t command, uint32_t pc, uint32_t operand)
{
    char line[DBG_HIT_LOG_LINE_LEN];
    const int segment = static_cast<int>(engine->vm_segment);
    const unsigned relative = pc - running_segment_entry(engine);
    if (bp->kind == BP_KIND_COMMAND) {
        char text[COMMAND_TEXT_TAIL + 2];
        command_text(engine, command, pc, text);
        snprintf(line, sizeof line, "[%03d:%04X] BP Hit: %s", segment, relative, text);
    } else if (bp->kind == BP_KIND_COMMAND_VALUE) {
        snprintf(line, sizeof line, "[%03d:%04X] BP Hit: '%c%d'", segment, relative, command,
                 static_cast<int32_t>(operand));
    } else if (bp->kind == BP_KIND_SEGMENT_CALL) {
        snprintf(line, sizeof line, "[%03d:%04X] BP Hit: SUB %d", segment, relative, static_cast<int32_t>(operand));
    } else {
        snprintf(line, sizeof line, "[%03d:%04X] BP Hit: Address", segment, relative);
    }
    uint32_t next = ring_index(engine->dbg_hit_log_next, DBG_HIT_LOG_LINES);
    snprintf(engine->dbg_hit_log[next], DBG_HIT_LOG_LINE_LEN, "%s", line);
    engine->dbg_hit_log_next = static_cast<int32_t>((next + 1) % DBG_HIT_LOG_LINES);
}

bool dbg_check_breakpoint(Engine* engine, uint8_t command, uint32_t pc)
{
    if (engine->dbg_skip_once) {
        engine->dbg_skip_once = 0;
        return false;
    }
    uint32_t count = engine->dbg_breakpoint_count;
    if (count > DBG_BREAKPOINT_CAPACITY)
        count = DBG_BREAKPOINT_CAPACITY;
    for (uint32_t i = 0; i < count; i++) {
        const Breakpoint* bp = &engine->dbg_breakpoints[i];
        uint32_t operand = NO_OPERAND;
        if (bp->enabled && breakpoint_matches(engine, bp, command, pc, &operand)) {
            log_hit(engine, bp, command, pc, operand);
            return true;
        }
    }
    return false;
}

void dbg_reset(Engine* engine)
{
    engine->dbg_breakpoint_count = 0;
    engine->dbg_flag = 0;
    memset(engine->dbg_spare, 0, sizeof engine->dbg_spare);
    engine->dbg_spare_word = 0;
    memset(engine->dbg_hit_log, 0, sizeof engine->dbg_hit_log);
    engine->dbg_hit_log_next = 0;
}
