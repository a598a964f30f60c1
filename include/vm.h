// The scenario interpreter: scenario files, the byte-code interpreter, text
// windows, choice menus and diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

// ---------------------------------------------------------------------------
// Scenario files
// ---------------------------------------------------------------------------

constexpr const char* SCENARIO_FILE_STEM = "S00000";

// Longest tables file read. Its two word tables hold at most 65535 words
// each, every string and the segment table start in the first 64 KiB (their
// offsets are 16 bits wide), and the segment table adds 2 KiB: 1 MiB leaves
// room for long strings besides.
constexpr size_t SCRIPT_TABLES_CAP = 1u << 20;
// Longest code file read: 512 segments of the longest body (a 3-byte head and
// 65535 bytes) laid end to end, 32 MiB and 1 KiB; a game's scenario is a small
// part of it.
constexpr size_t SCRIPT_CODE_CAP = static_cast<size_t>(VM_SEGMENT_COUNT) * (3 + UINT16_MAX);

// Loads <name>.KVL and <name>.KVY through asset_read_capped. True when both
// were read; a file longer than its cap is refused unread, as a missing one.
bool script_load(Engine* engine, const char* name);

// Takes ownership of two malloc'd buffers as the loaded pair (freeing the
// previous ones), then reads the segment table and parameter 0 from the tables.
// Header words a short tables file lacks read as 0; no segment entry changes
// when the table's position word is missing.
void script_install(Engine* engine, uint8_t* tables, size_t tables_size, uint8_t* code, size_t code_size);

// Message string number index inside kvl_data; null when no scenario is loaded;
// "[KVL_ERR]" when the number or its offset is out of range, or when the string
// has no terminating zero before the end of the file.
const char* script_string(Engine* engine, int32_t index);

// Address of the segment's first byte inside code_base; null when the number is
// above 511 or its entry leaves no room for the 3-byte segment head before code_size.
const uint8_t* script_scene_entry(Engine* engine, uint32_t segment);

// The start segment named by the tables file (0 before a load).
uint32_t script_start_segment(const Engine* engine);

// ---------------------------------------------------------------------------
// Interpreter core
// ---------------------------------------------------------------------------

constexpr uint32_t VM_SELF_CHAIN_LIMIT = 65536;
constexpr uint16_t VM_BLOCK_RUN = 0;
constexpr uint16_t VM_BLOCK_SKIP = 1;

// A slot chosen by the scenario's SAVE keyword, written at the start of the
// next step; -1 when none.
extern int32_t g_pending_save_slot;

// Executes one instruction, text character or control-flow action at vm_pc.
// Returns 0 when there is nothing to run (no code, the end of the code, or a
// finished top-level segment without a restart segment), else 1.
uint8_t vm_step(Engine* engine);

// Runs (VM_BLOCK_RUN) or passes over (any other mode) the block at vm_pc;
// true when it ran, false when it was passed over or vm_pc holds no block.
bool vm_run_block(Engine* engine, uint16_t mode);

// Passes over the block at vm_pc; leaves vm_pc on any other byte.
void vm_skip_block(Engine* engine);

// The '}' command, with vm_pc just after the '}': calls the segment named by
// the operand, carrying out the chains it requests.
void vm_call_segment(Engine* engine);

// Puts the interpreter at the segment's entry, in text mode, with no leave
// request: vm_pc, vm_block_end (cut at code_size) and vm_segment. False, with
// nothing changed, when the segment has no entry.
bool vm_enter_segment(Engine* engine, uint32_t segment);

// Reads one operand at vm_pc into *out. False when it is missing (*out keeps its value).
bool vm_read_operand(Engine* engine, uint32_t* out);

// Reads a variable or indirect-variable form and returns the variable's
// address, or null when there is no such form.
int32_t* vm_eval_ref(Engine* engine);

// Advances vm_pc over TAB, CR, SPACE and ','; stops at code_size.
void vm_skip_spaces(Engine* engine);

// ---------------------------------------------------------------------------
// Text windows
// ---------------------------------------------------------------------------

constexpr int DIGITAL8_COLOURS = 8;
extern const uint32_t DIGITAL8_PALETTE[DIGITAL8_COLOURS];

// Puts window 0 back to the whole screen, selects it, and resets the text speed and the stack depth.
void vm_reset_text_windows(Engine* engine);

// False for an active window no play can make in either mode: its rectangle
// leaves the HD text layer, it has more cells than the 80 by 25 grid, or its
// cursor is negative or past where the cursor keys stop. Inactive windows
// are never drawn and always pass.
bool vm_window_fits_layer(const TextWindow* window);

// ---------------------------------------------------------------------------
// Choice menus and prompt overlay
// ---------------------------------------------------------------------------

// Draws the choice list or the "Press any key" prompt onto the current render target.
void menu_draw_overlay(Engine* engine);

// Where the choice list stands, in text-layer pixels: entry i at
// (origin_x + (i mod columns) x column_width, origin_y + (i div columns) x row_height).
struct ChoiceGrid {
    int64_t origin_x, origin_y;
    int32_t columns;       // at least 1
    int32_t column_width;  // positive
    int32_t row_height;    // positive
};

// The grid from the choice variables, the windows, the layout and the
// fallback position, by the first origin rule that applies.
ChoiceGrid menu_choice_grid(const Engine* engine);

// Top-left corner of entry index in the grid.
void menu_choice_position(const ChoiceGrid* grid, int32_t index, int64_t* x, int64_t* y);

// The index of the accumulated choice whose grid cell holds the point, or -1
// when the point lies in none (left of or above the grid, in a column past
// the last, or in a cell past the last entry).
int32_t menu_choice_at(const Engine* engine, int32_t px, int32_t py);

// The "Press any key" prompt's place and hit rectangle, in text-layer pixels.
struct PromptRect {
    int64_t x, y;
    int32_t w, h;
};

// The prompt's rectangle from the layout (meaningful once menu_layout_set).
PromptRect menu_prompt_rect(const Engine* engine);

// True when the point lies inside the prompt's rectangle.
bool menu_prompt_contains(const Engine* engine, int32_t px, int32_t py);

// ---------------------------------------------------------------------------
// Diagnostics
// ---------------------------------------------------------------------------

// Formats one line into the event-log ring (cut at 127 characters); nothing without an Engine.
void dbg_log(Engine* engine, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Records a control transfer to target (nothing for a negative target).
void dbg_trace_jump(Engine* engine, int32_t target, uint8_t kind);

// True when a breakpoint stops the instruction at pc whose byte is command.
bool dbg_check_breakpoint(Engine* engine, uint8_t command, uint32_t pc);

// Clears the diagnostic tables and rings.
void dbg_reset(Engine* engine);
