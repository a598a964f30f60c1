// The interpreter's control flow: steps, blocks, segment calls and chains,
// and the call stack they share.
#include "vm.h"
#include "vm_private.h"

#include <SDL.h>

#include <cstdlib>

#include "save.h"
#include "screen.h"

int32_t g_pending_save_slot = -1;

constexpr uint8_t BLOCK_OPEN = '{';
constexpr uint8_t CALL_OPEN = '}';
constexpr uint8_t COMMAND_MODE_ON = '[';
constexpr uint8_t COMMAND_MODE_OFF = ']';
constexpr uint8_t KEYWORD_LEAD = '.';
constexpr uint8_t NEWLINE = 0x0A;
constexpr uint8_t ESCAPE = 0x1B;
constexpr uint32_t BLOCK_HEAD_SIZE = 3;  // '{' and the u16 length
constexpr uint32_t FRAME_DELAY_MS = 16;
constexpr int32_t RESULT_FAILED = 1;
constexpr uint8_t TEXT_MODE = 0;
constexpr uint8_t COMMAND_MODE = 1;
constexpr uint8_t TRACE_CALL = '}';
constexpr uint8_t TRACE_CHAIN = '/';
constexpr uint8_t TRACE_RETURN = '<';

// Blocks and calls run inside each other on the native stack. Sound scenarios
// stay within the 16 frames of vm_stack; a scenario that recurses without end
// ("}" calling its own segment) would otherwise exhaust the native stack, so
// a block asked to run deeper than this is passed over instead.
constexpr int32_t VM_RUN_NESTING_LIMIT = 1024;
static int32_t s_run_nesting = 0;

static bool is_sjis_lead(int c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// A depth restored from a damaged save must not index outside the stack.
static int32_t sound_depth(Engine* engine)
{
    if (engine->vm_depth < 0)
        engine->vm_depth = 0;
    if (engine->vm_depth > VM_STACK_DEPTH)
        engine->vm_depth = VM_STACK_DEPTH;
    return engine->vm_depth;
}

// End offset of the block whose '{' is at start; false when the code ends
// before its length field. An end past the code is cut to code_size, where
// every loop stops anyway.
static bool block_end_at(const Engine* engine, uint32_t start, uint32_t* end)
{
    if (!engine->code_base || static_cast<uint64_t>(start) + BLOCK_HEAD_SIZE > engine->code_size)
        return false;
    const uint8_t* head = engine->code_base + start;
    uint64_t full_end = static_cast<uint64_t>(start) + BLOCK_HEAD_SIZE + (head[1] | (head[2] << 8));
    *end = full_end > engine->code_size ? engine->code_size : static_cast<uint32_t>(full_end);
    return true;
}

bool vm_segment_bounds(Engine* engine, uint32_t segment, uint32_t* entry, uint32_t* end)
{
    const uint8_t* head = script_scene_entry(engine, segment);
    if (!head)
        return false;
    *entry = static_cast<uint32_t>(head - engine->code_base);
    return block_end_at(engine, *entry, end);
}

static void push_frame(Engine* engine, uint32_t resume_pc, uint8_t kind)
{
    int32_t depth = sound_depth(engine);
    if (depth >= VM_STACK_DEPTH)
        return;
    VmFrame* frame = &engine->vm_stack[depth];
    frame->resume_pc = resume_pc;
    frame->block_end = engine->vm_block_end;
    frame->segment = engine->vm_segment;
    frame->command_mode = engine->vm_command_mode;
    frame->kind = kind;
    engine->vm_depth = depth + 1;
}

// Takes the top frame off the stack, or null when it is empty.
static const VmFrame* pop_frame(Engine* engine)
{
    int32_t depth = sound_depth(engine);
    if (depth < 1)
        return nullptr;
    engine->vm_depth = depth - 1;
    return &engine->vm_stack[depth - 1];
}

static void return_pop(Engine* engine)
{
    if (sound_depth(engine) < 1)
        return;
    const VmFrame* top = &engine->vm_stack[engine->vm_depth - 1];
    dbg_trace_jump(engine, static_cast<int32_t>(top->segment), TRACE_RETURN);
    const VmFrame* frame = pop_frame(engine);
    engine->vm_pc = frame->resume_pc;
    engine->vm_block_end = frame->block_end;
    engine->vm_segment = frame->segment;
    engine->vm_command_mode = frame->command_mode;
}

static void block_pop(Engine* engine)
{
    const VmFrame* frame = pop_frame(engine);
    if (!frame)
        return;
    engine->vm_block_end = frame->block_end;
    engine->vm_command_mode = frame->command_mode;
}

static void drop_frame(Engine* engine)
{
    const VmFrame* frame = pop_frame(engine);
    if (frame)
        engine->vm_command_mode = frame->command_mode;
}

void vm_render_frame(Engine* engine)
{
    if (!engine->renderer)
        return;
    SDL_SetRenderDrawColor(engine->renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(engine->renderer);
    gfx_compose_frame(engine);
    gfx_present_frame(engine);
}

// Nothing but the pump callback can lift a pause, so without one the spin
// would never end. Its frames keep the window live: a menu opened during the
// pause is shown and answers.
static void pause_spin(Engine* engine)
{
    while (engine->paused_flag_ptr && *engine->paused_flag_ptr && engine->pump_events_cb) {
        engine->pump_events_cb(engine);
        vm_render_frame(engine);
        SDL_Delay(FRAME_DELAY_MS);
    }
}

// A wait set inside a block is shown at once, divided by the game speed. The
// count is fixed before the first frame: a Reset or a load through the pump
// callback changes wait_frames without shortening these frames.
static void render_wait(Engine* engine)
{
    int64_t divisor = engine->game_speed > 0 ? engine->game_speed : 1;
    int64_t frames = (static_cast<int64_t>(engine->wait_frames) - 1 + divisor) / divisor;
    for (int64_t i = 0; i < frames; i++) {
        vm_render_frame(engine);
        if (engine->pump_events_cb)
            engine->pump_events_cb(engine);
        SDL_Delay(FRAME_DELAY_MS);
        pause_spin(engine);
    }
    engine->wait_frames = 0;
}

bool vm_run_block(Engine* engine, uint16_t mode)
{
    if (engine->vm_pc >= engine->code_size)
        return false;
    vm_skip_spaces(engine);
    if (engine->vm_pc >= engine->code_size || vm_peek(engine, engine->vm_pc) != BLOCK_OPEN)
        return false;

    const uint32_t start = engine->vm_pc;
    uint32_t end = 0;
    if (!block_end_at(engine, start, &end)) {
        // A '{' without room for its length: nothing after it can run.
        engine->vm_pc = engine->code_size;
        return false;
    }
    if (mode != VM_BLOCK_RUN || s_run_nesting >= VM_RUN_NESTING_LIMIT) {
        engine->vm_pc = end;
        return false;
    }

    push_frame(engine, end, VM_FRAME_BLOCK);
    engine->vm_block_end = end;
    engine->vm_pc = start + BLOCK_HEAD_SIZE;
    engine->vm_command_mode = TEXT_MODE;

    // The callbacks may run any menu command (Reset, Load) in the middle of
    // this loop, so everything but the block's end is read afresh each pass.
    s_run_nesting++;
    while (engine->vm_pc < end) {
        if (engine->vm_pc >= engine->code_size || engine->vm_leave || engine->vm_blocked)
            break;
        pause_spin(engine);
        if (!vm_step(engine))
            break;
        if (engine->step_cb)
            engine->step_cb(engine);
        if (engine->wait_frames != 0)
            render_wait(engine);
    }
    s_run_nesting--;

    if (engine->vm_leave && engine->vm_pc != 0 && vm_peek(engine, engine->vm_pc - 1) == COMMAND_MODE_OFF)
        engine->vm_leave = 0;
    if (!engine->vm_blocked)
        block_pop(engine);
    return true;
}

void vm_skip_block(Engine* engine)
{
    vm_skip_spaces(engine);
    if (vm_peek(engine, engine->vm_pc) != BLOCK_OPEN)
        return;
    uint32_t end = 0;
    engine->vm_pc = block_end_at(engine, engine->vm_pc, &end) ? end : engine->code_size;
}

bool vm_enter_segment(Engine* engine, uint32_t segment)
{
    uint32_t entry = 0;
    uint32_t end = 0;
    if (!vm_segment_bounds(engine, segment, &entry, &end))
        return false;
    engine->vm_pc = entry;
    engine->vm_block_end = end;
    engine->vm_segment = segment;
    engine->vm_leave = 0;
    engine->vm_next_segment = VM_NEXT_NONE;
    engine->vm_command_mode = TEXT_MODE;
    return true;
}

// A segment that keeps chaining to itself inside a call is handed to the main
// loop: it becomes the restart segment of an empty stack, so the synchronous
// loop cannot run for ever.
static void give_up_self_chain(Engine* engine, uint32_t segment)
{
    vm_enter_segment(engine, segment);
    engine->vm_restart_segment = static_cast<int32_t>(segment);
    engine->vm_depth = 0;
}

void vm_call_segment(Engine* engine)
{
    uint32_t target = 0;
    if (!vm_read_operand(engine, &target) || target >= VM_SEGMENT_COUNT)
        return;
    push_frame(engine, engine->vm_pc, VM_FRAME_CALL);

    uint32_t segment = target;
    uint32_t self_chains = 0;
    for (bool first = true;; first = false) {
        dbg_trace_jump(engine, static_cast<int32_t>(segment), first ? TRACE_CALL : TRACE_CHAIN);
        engine->vm_segment = segment;
        if (!vm_enter_segment(engine, segment))
            break;
        vm_run_block(engine, VM_BLOCK_RUN);

        if (!engine->vm_leave)
            break;
        uint32_t next = engine->vm_next_segment;
        if (next >= VM_SEGMENT_COUNT)
            break;
        if (next == segment && !engine->vm_blocked && engine->wait_frames == 0) {
            self_chains++;
            if (self_chains > VM_SELF_CHAIN_LIMIT) {
                give_up_self_chain(engine, segment);
                return;
            }
        }
        engine->vm_leave = 0;
        if (next != segment)
            self_chains = 0;
        segment = next;
    }

    if (engine->vm_blocked)
        return;
    if (engine->vm_segment != segment) {
        // A jump moved the running segment: the call never returns.
        drop_frame(engine);
        engine->vm_leave = 0;
    } else if (sound_depth(engine) >= 1) {
        return_pop(engine);
        engine->vm_leave = 0;
    }
}

static void write_pending_save(Engine* engine)
{
    int32_t slot = g_pending_save_slot;
    g_pending_save_slot = -1;
    uint8_t* png = nullptr;
    int32_t size = 0;
    gfx_capture_thumbnail(engine, &png, &size);
    int32_t result = save_write_slot(engine, slot, png, size);
    free(png);
    if (result != SAVE_RESULT_OK)
        engine->vm_vars[VAR_RESULT] = RESULT_FAILED;
}

// The running block or segment has ended: return into the frame below, or
// restart the top-level segment; false when the scenario stands still.
static bool finish_block(Engine* engine)
{
    if (sound_depth(engine) >= 1) {
        return_pop(engine);
        engine->vm_leave = 0;
        return true;
    }
    int32_t restart = engine->vm_restart_segment;
    uint32_t entry = 0;
    uint32_t end = 0;
    if (restart >= 0 && restart < VM_SEGMENT_COUNT &&
        vm_segment_bounds(engine, static_cast<uint32_t>(restart), &entry, &end)) {
        engine->vm_pc = entry;
        engine->vm_segment = static_cast<uint32_t>(restart);
        engine->vm_leave = 0;
        engine->vm_block_end = end;
        return true;
    }
    engine->vm_leave = 1;
    return false;
}

static void dispatch(Engine* engine, int c)
{
    switch (c) {
    case BLOCK_OPEN:
        vm_run_block(engine, VM_BLOCK_RUN);
        return;
    case CALL_OPEN:
        engine->vm_pc++;
        vm_call_segment(engine);
        return;
    case COMMAND_MODE_ON:
        engine->vm_pc++;
        engine->vm_command_mode = COMMAND_MODE;
        return;
    case COMMAND_MODE_OFF:
        engine->vm_pc++;
        engine->vm_command_mode = TEXT_MODE;
        return;
    case NEWLINE:
        vm_exec_newline(engine);
        return;
    case ESCAPE:
        vm_exec_escape(engine);
        return;
    default:
        break;
    }
    if (is_sjis_lead(c) || !engine->vm_command_mode) {
        vm_exec_text(engine);
        return;
    }
    engine->vm_pc++;
    if (c == KEYWORD_LEAD)
        vm_exec_keyword(engine);
    else
        vm_exec_command(engine, static_cast<uint8_t>(c));
}

static bool block_has_ended(const Engine* engine)
{
    return engine->vm_block_end != 0 && engine->vm_pc >= engine->vm_block_end;
}

static bool leave_pops_a_frame(Engine* engine)
{
    return engine->vm_leave && sound_depth(engine) >= 1;
}

uint8_t vm_step(Engine* engine)
{
    if (!engine->code_base)
        return 0;
    // A block or called segment that is the last thing in the code ends at
    // code_size; its return or restart must still happen, or the game would
    // stand still there while the same segment elsewhere in the file goes on.
    if (engine->vm_pc >= engine->code_size && !leave_pops_a_frame(engine) && !block_has_ended(engine))
        return 0;
    if (g_pending_save_slot >= 0)
        write_pending_save(engine);
    if (engine->vm_blocked)
        return 1;

    if (leave_pops_a_frame(engine)) {
        return_pop(engine);
        if (engine->vm_next_segment < VM_SEGMENT_COUNT)
            engine->vm_leave = 0;
        return 1;
    }
    if (block_has_ended(engine))
        return finish_block(engine) ? 1 : 0;

    if (engine->vm_command_mode)
        vm_skip_spaces(engine);
    // Separators that run to the end of the code leave nothing to execute.
    int c = vm_peek(engine, engine->vm_pc);
    if (c < 0)
        return 0;
    if (dbg_check_breakpoint(engine, static_cast<uint8_t>(c), engine->vm_pc)) {
        engine->bp_paused = 1;
        return 1;
    }
    dispatch(engine, c);
    return 1;
}
