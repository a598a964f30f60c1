// The one state record of a running game and the records it holds.
//
// Every function that works on game state takes an Engine pointer as its first
// argument. The field order follows the design; save files write fields one by
// one, so the in-memory layout (padding, alignment) carries no meaning.
#pragma once

#include <cstdint>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

// ---------------------------------------------------------------------------
// Limits and named values
// ---------------------------------------------------------------------------

constexpr int VRAM_PLANE_COUNT = 3;
constexpr int VRAM_PLANE_BYTES = 32000;  // 80 bytes x 400 lines
constexpr int VRAM_AUX_BYTES = 8192;
constexpr int PALETTE_SIZE = 16;

constexpr int VM_VAR_COUNT = 1024;
constexpr int VM_STACK_DEPTH = 16;
constexpr int VM_SEGMENT_COUNT = 512;

// Values of vm_next_segment that name no segment.
constexpr uint32_t VM_NEXT_END_REPEAT = 65533;  // ends an 'R' repetition
constexpr uint32_t VM_NEXT_NONE = 65534;        // start value, default of '/'
constexpr uint32_t VM_NEXT_NONE_ALT = 65535;    // default of the backslash command
constexpr int32_t VM_RESTART_NONE = -1;

constexpr uint8_t VM_FRAME_BLOCK = 0;
constexpr uint8_t VM_FRAME_CALL = 1;

// Script variables the engine reads or writes as settings.
constexpr int VAR_RESULT = 4;
constexpr int VAR_CHOICE_WINDOW = 690;
constexpr int VAR_CHOICE_COLUMNS = 698;
constexpr int VAR_CHOICE_ROW_HEIGHT = 700;
constexpr int VAR_CUR_WINDOW = 719;
constexpr int VAR_LOAD_FLAG = 721;
constexpr int VAR_TEXT_SPEED = 727;

constexpr int TEXT_WINDOW_COUNT = 256;
constexpr int MENU_LAYOUT_VALUES = 7;
constexpr int MENU_MAX_CHOICES = 20;

constexpr int IMAGE_SLOT_COUNT = 256;
constexpr int GFX_LOG_CAPACITY = 4096;

constexpr uint16_t GFX_CMD_BLIT = 0;
constexpr uint16_t GFX_CMD_BLIT_PART = 1;
constexpr uint16_t GFX_CMD_CLEAR = 2;
constexpr uint16_t GFX_CMD_CLEAR_RECT = 3;

constexpr int32_t EFFECT_REVEAL_LEFT = 1;
constexpr int32_t EFFECT_REVEAL_RIGHT = 2;
constexpr int32_t EFFECT_REVEAL_TOP = 3;
constexpr int32_t EFFECT_REVEAL_BOTTOM = 4;
constexpr int32_t EFFECT_FADE = 5;

constexpr int DBG_BREAKPOINT_CAPACITY = 16;
constexpr int DBG_SPARE_BYTES = 64;
constexpr int DBG_HIT_LOG_LINES = 10;
constexpr int DBG_HIT_LOG_LINE_LEN = 80;
constexpr int DBG_JUMP_TRACE_SIZE = 32;
constexpr int DBG_CMD_TRACE_SIZE = 32;
constexpr int DBG_EVENT_LOG_LINES = 64;
constexpr int DBG_EVENT_LOG_LINE_LEN = 128;
constexpr int DBG_VAR_TRACE_SIZE = 16;

constexpr uint32_t BP_KIND_COMMAND = 1;
constexpr uint32_t BP_KIND_COMMAND_VALUE = 2;
constexpr uint32_t BP_KIND_SEGMENT_CALL = 3;
constexpr uint32_t BP_KIND_ADDRESS = 5;

constexpr int HIST_CAPACITY = 200;

// The logical screen is 640x400, doubled in HD mode.
constexpr int SCREEN_WIDTH = 640;
constexpr int SCREEN_HEIGHT = 400;

// ---------------------------------------------------------------------------
// Records held by the Engine
// ---------------------------------------------------------------------------

struct TextWindow {
    uint16_t id;
    uint8_t active;
    int32_t x, y;
    int32_t w, h;
    int32_t col, row;
    uint16_t attribute;  // bits 5-7: colour index (5 blue, 6 red, 7 green)
    int32_t cols, rows;
    uint32_t spare[4];
};

struct ImageSlot {
    SDL_Texture* tex_sd;
    SDL_Texture* tex_hd;
    int32_t sd_w, sd_h;
    int32_t hd_w, hd_h;
    uint8_t hd_loaded;
    int32_t vram;
    int32_t x, y;
    int32_t home_x, home_y;
    uint8_t loaded;
    uint8_t sprite_visible;
    uint32_t aux0, aux1, aux2, aux3;
    int32_t effect_type;
    int32_t effect_progress;
    int32_t effect_duration;
    int32_t effect_aux;
    uint8_t effect_active;
};

struct GfxCommand {
    uint16_t image_id;  // 0xFFFF for a clear-rectangle record
    uint16_t kind;      // GFX_CMD_*
    int16_t src_x8, src_y2, w8, h2;
    int16_t dst_x8, dst_y2;
    int32_t x, y;
    int16_t rect_x, rect_y, rect_w, rect_h;
};

struct VmFrame {
    uint32_t resume_pc;
    uint32_t block_end;
    uint32_t segment;
    uint8_t command_mode;
    uint8_t kind;  // VM_FRAME_BLOCK or VM_FRAME_CALL
};

struct JumpTraceEntry {
    int32_t target_segment;
    uint32_t segment;
    uint32_t pc;  // relative to the running segment's entry when it lies at or past it
    uint8_t kind;  // '}', '/', '<' or '.'
};

struct CmdTraceEntry {
    uint32_t segment;
    uint8_t command;  // '"', '~', '\'' or '#'
    uint32_t operand;
};

struct VarTraceEntry {
    uint32_t var;
    int32_t before;
    int32_t after;
    uint8_t op;  // '+', '-' or '='
};

struct Breakpoint {
    uint32_t kind;  // BP_KIND_*
    uint32_t arg1;
    uint32_t arg2;
    uint8_t enabled;
};

struct HistoryEntry {
    uint8_t* pixels;  // w*h RGBA8888 pixels, owned; null for an empty slot
    int32_t x, y;
    int32_t w, h;
    int32_t window_id;
};

struct HistoryBuffer {
    HistoryEntry entries[HIST_CAPACITY];
    int32_t write_index;
    int32_t count;
    uint8_t open;
    int32_t scroll;
    uint8_t dragging;
    int32_t bar_x, bar_y, bar_h;
};

struct Engine;
using EngineCallback = void (*)(Engine*);
using SlotScreenHook = int32_t (*)(Engine*, int32_t mode);

// ---------------------------------------------------------------------------
// The Engine
// ---------------------------------------------------------------------------

struct Engine {
    uint8_t vram_planes[VRAM_PLANE_COUNT][VRAM_PLANE_BYTES];
    uint8_t vram_aux[VRAM_AUX_BYTES];
    uint32_t vm_pc;
    uint16_t bgm_track;
    uint16_t spare_word;
    uint32_t palette[PALETTE_SIZE];
    uint32_t palette_spare;
    uint8_t tint[3];
    uint8_t palette_changed;
    int32_t vm_vars[VM_VAR_COUNT];
    uint16_t text_cursor_x;
    uint16_t text_cursor_y;
    uint8_t spare_byte;
    uint8_t vm_blocked;
    int32_t spare_int;
    uint8_t spare_flag;
    int32_t wait_frames;
    uint32_t kvl_loaded;
    uint8_t* kvl_data;
    uint64_t kvl_size;
    TextWindow text_windows[TEXT_WINDOW_COUNT];
    uint32_t menu_layout[MENU_LAYOUT_VALUES];
    uint8_t menu_layout_set;
    uint32_t choice_ids[MENU_MAX_CHOICES];
    int32_t choice_count;
    int32_t choice_x;
    int32_t choice_y;
    ImageSlot image_slots[IMAGE_SLOT_COUNT];
    GfxCommand gfx_log[GFX_LOG_CAPACITY];
    int32_t gfx_log_count;
    int32_t placed_image_slot;
    Breakpoint dbg_breakpoints[DBG_BREAKPOINT_CAPACITY];
    uint32_t dbg_breakpoint_count;
    uint8_t dbg_spare[DBG_SPARE_BYTES];
    uint32_t dbg_spare_word;
    char dbg_hit_log[DBG_HIT_LOG_LINES][DBG_HIT_LOG_LINE_LEN];
    int32_t dbg_hit_log_next;
    JumpTraceEntry dbg_jump_trace[DBG_JUMP_TRACE_SIZE];
    uint32_t dbg_jump_trace_count;
    CmdTraceEntry dbg_cmd_trace[DBG_CMD_TRACE_SIZE];
    int32_t dbg_cmd_trace_count;
    uint8_t dbg_flag;
    uint8_t hd_mode;
    uint8_t bp_paused;
    uint8_t dbg_skip_once;
    int32_t current_image;
    int32_t blit_x8;
    int32_t blit_y2;
    uint16_t image_text_x;
    uint16_t image_text_y;
    uint32_t spare_vm_word;
    uint8_t choice_active;
    int32_t choice_cursor;
    int32_t choice_result;
    uint8_t vm_leave;
    uint32_t vm_next_segment;
    int32_t vm_restart_segment;
    uint32_t vm_block_end;
    uint8_t vm_command_mode;
    uint8_t vm_halfwidth_toggle;
    VmFrame vm_stack[VM_STACK_DEPTH];
    int32_t vm_depth;
    uint8_t* code_base;
    uint32_t code_size;
    EngineCallback step_cb;
    EngineCallback pump_events_cb;
    EngineCallback splash_pump_cb;
    SlotScreenHook slot_screen_hook;
    uint8_t* paused_flag_ptr;
    uint32_t segment_offsets[VM_SEGMENT_COUNT];
    uint32_t vm_segment;
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* vram_texture;
    SDL_Texture* text_layer;
    SDL_Texture* canvas_texture;
    char dbg_event_log[DBG_EVENT_LOG_LINES][DBG_EVENT_LOG_LINE_LEN];
    int32_t dbg_event_log_count;
    VarTraceEntry dbg_var_trace[DBG_VAR_TRACE_SIZE];
    int32_t dbg_var_trace_count;
    int32_t game_speed;
    uint8_t mute;
    uint8_t scanlines;
    uint8_t antialias;
    HistoryBuffer history;
};

// The display scale k: 2 in HD mode, else 1.
inline int engine_scale(const Engine* engine) { return engine->hd_mode ? 2 : 1; }

// Sets the record to its start-up state: all zero except spare_flag, the
// chain and restart sentinels, and hd_mode taken from the argument.
void engine_init(Engine* engine, uint8_t hd_mode);
