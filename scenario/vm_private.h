// What the interpreter's files share among themselves: the handlers that
// vm_step dispatches to, and small helpers over the code stream.
#pragma once

#include <cstdint>

#include "engine.h"

// The byte at offset, or -1 at or past code_size (or without code). Every read
// of the code stream goes through here or checks code_size itself.
int vm_peek(const Engine* engine, uint32_t offset);

// Entry offset and end offset (entry + 3 + length, cut at code_size) of a
// segment that script_scene_entry finds; false when it has none.
bool vm_segment_bounds(Engine* engine, uint32_t segment, uint32_t* entry, uint32_t* end);

// Renders one frame synchronously: clear to black, compose, present. Nothing
// without a renderer.
void vm_render_frame(Engine* engine);

// Command set (vm_commands.cpp and its neighbours). vm_pc stands just after
// the byte that selected the handler, except for the text and stream handlers,
// which start on their byte.
void vm_exec_command(Engine* engine, uint8_t command);  // one-character command table
void vm_exec_keyword(Engine* engine);                   // after '.'
void vm_exec_newline(Engine* engine);                   // on 0x0A
void vm_exec_escape(Engine* engine);                    // on 0x1B
void vm_exec_text(Engine* engine);                      // on a text byte or Shift-JIS lead byte

// Conditions and repeat.
void vm_cmd_if_equal(Engine* engine);
constexpr int VM_COMPARE_GREATER = 0;
constexpr int VM_COMPARE_LESS = 1;
constexpr int VM_COMPARE_NOT_EQUAL = 2;
void vm_cmd_if_compare(Engine* engine, int mode);
void vm_cmd_repeat_segment(Engine* engine);

// Text windows.
TextWindow* vm_current_window(Engine* engine);  // VAR_CUR_WINDOW when usable, else null
void vm_cmd_define_window(Engine* engine);
void vm_put_char(Engine* engine, uint16_t code);
void vm_cmd_print_messages(Engine* engine);

// Choice menus.
void menu_add_or_open(Engine* engine);
void vm_cmd_menu_layout(Engine* engine);
