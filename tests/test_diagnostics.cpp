#include <gtest/gtest.h>

#include "code_builder.h"
#include "vm.h"
#include "vm_harness.h"

#include <climits>
#include <string>

namespace {

TEST(DiagnosticsTest, EventLogWrapsAndCutsLongLines)
{
    VmHarness vm;
    Engine* e = vm.engine();
    for (int i = 0; i < DBG_EVENT_LOG_LINES + 1; i++)
        dbg_log(e, "line %d", i);
    EXPECT_STREQ(e->dbg_event_log[0], "line 64");
    EXPECT_STREQ(e->dbg_event_log[1], "line 1");
    EXPECT_EQ(e->dbg_event_log_count, DBG_EVENT_LOG_LINES + 1);

    dbg_log(e, "%s", std::string(300, 'x').c_str());
    EXPECT_EQ(std::string(e->dbg_event_log[1]), std::string(DBG_EVENT_LOG_LINE_LEN - 1, 'x'));
    dbg_log(nullptr, "nothing");
}

TEST(DiagnosticsTest, RingCountersPastInt32MaxStayInsideTheirRings)
{
    VmHarness vm;
    Engine* e = vm.engine();
    e->dbg_event_log_count = INT32_MAX;
    dbg_log(e, "last");
    dbg_log(e, "wrapped");
    EXPECT_STREQ(e->dbg_event_log[DBG_EVENT_LOG_LINES - 1], "last");
    EXPECT_STREQ(e->dbg_event_log[0], "wrapped");

    e->dbg_jump_trace_count = UINT32_MAX;
    dbg_trace_jump(e, 4, '/');
    dbg_trace_jump(e, 5, '/');
    EXPECT_EQ(e->dbg_jump_trace[DBG_JUMP_TRACE_SIZE - 1].target_segment, 4);
    EXPECT_EQ(e->dbg_jump_trace[0].target_segment, 5);

    // The hit log wraps after ten lines, and a damaged line number still lands inside it.
    e->dbg_breakpoints[0] = Breakpoint{BP_KIND_ADDRESS, 0, 0, 1};
    e->dbg_breakpoint_count = 1;
    for (int i = 0; i < DBG_HIT_LOG_LINES + 1; i++)
        dbg_check_breakpoint(e, 'x', 0);
    EXPECT_EQ(e->dbg_hit_log_next, 1);
    e->dbg_hit_log_next = -3;
    EXPECT_TRUE(dbg_check_breakpoint(e, 'x', 0));
    EXPECT_GE(e->dbg_hit_log_next, 0);
    EXPECT_LT(e->dbg_hit_log_next, DBG_HIT_LOG_LINES);
}

TEST(DiagnosticsTest, JumpTraceRecordsPositionsRelativeToTheRunningSegment)
{
    VmHarness vm;
    Engine* e = vm.engine();
    e->segment_offsets[2] = 100;
    e->vm_segment = 2;
    e->vm_pc = 130;
    dbg_trace_jump(e, 7, '}');
    e->vm_pc = 40;
    dbg_trace_jump(e, 8, '<');
    dbg_trace_jump(e, -1, '<');
    e->vm_segment = 70000;  // from a damaged save: no entry to subtract
    e->vm_pc = 150;
    dbg_trace_jump(e, 9, '.');

    ASSERT_EQ(e->dbg_jump_trace_count, 3u);
    EXPECT_EQ(e->dbg_jump_trace[0].segment, 2u);
    EXPECT_EQ(e->dbg_jump_trace[0].pc, 30u);
    EXPECT_EQ(e->dbg_jump_trace[1].pc, 40u);
    EXPECT_EQ(e->dbg_jump_trace[2].pc, 150u);
}

TEST(DiagnosticsTest, BreakpointsStopTheInstructionAndLogAHit)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code()).segment(3, Code().cmd("=5,2 }7")));
    Engine* e = vm.engine();
    const uint32_t entry = e->segment_offsets[3];
    e->vm_segment = 3;
    e->vm_command_mode = 1;
    const uint32_t assign = entry + 4;
    const uint32_t call = entry + 9;

    struct {
        Breakpoint bp;
        uint8_t command;
        uint32_t pc;
        bool hit;
        const char* line;
    } cases[] = {
        {{BP_KIND_COMMAND, '=', 0, 1}, '=', assign, true, "[003:0004] BP Hit: =5,2 "},
        {{BP_KIND_COMMAND, '=', 0, 0}, '=', assign, false, ""},
        {{BP_KIND_COMMAND_VALUE, '=', 5, 1}, '=', assign, true, "[003:0004] BP Hit: '=5'"},
        {{BP_KIND_COMMAND_VALUE, '=', 6, 1}, '=', assign, false, ""},
        {{BP_KIND_SEGMENT_CALL, '}', 7, 1}, '}', call, true, "[003:0009] BP Hit: SUB 7"},
        {{BP_KIND_SEGMENT_CALL, '}', 7, 1}, '=', assign, false, ""},
        {{BP_KIND_ADDRESS, call, 0, 1}, '}', call, true, "[003:0009] BP Hit: Address"},
        {{4, '=', 0, 1}, '=', assign, false, ""},
    };
    for (const auto& c : cases) {
        e->dbg_breakpoints[0] = c.bp;
        e->dbg_breakpoint_count = 1;
        e->dbg_hit_log_next = 0;
        e->dbg_hit_log[0][0] = '\0';
        e->vm_pc = 1;
        EXPECT_EQ(dbg_check_breakpoint(e, c.command, c.pc), c.hit) << c.line;
        EXPECT_STREQ(e->dbg_hit_log[0], c.line);
        EXPECT_EQ(e->vm_pc, 1u);  // reading the operand does not move the interpreter
    }

    // Through vm_step: the instruction waits, and passes once skip_once is set.
    e->dbg_breakpoints[0] = Breakpoint{BP_KIND_COMMAND, '=', 0, 1};
    e->vm_pc = entry + 3;
    vm_step(e);  // "["
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(e->bp_paused, 1);
    EXPECT_EQ(e->vm_pc, assign);
    EXPECT_EQ(vm.var(5), 0);
    e->dbg_skip_once = 1;
    vm_step(e);
    EXPECT_EQ(vm.var(5), 2);
    EXPECT_EQ(e->dbg_skip_once, 0);
}

TEST(DiagnosticsTest, ResetClearsTheBreakpointsButKeepsTheRings)
{
    VmHarness vm;
    Engine* e = vm.engine();
    dbg_log(e, "kept");
    dbg_trace_jump(e, 3, '}');
    e->dbg_breakpoints[0] = Breakpoint{BP_KIND_ADDRESS, 0, 0, 1};
    e->dbg_breakpoint_count = 1;
    dbg_check_breakpoint(e, 'x', 0);
    e->dbg_flag = 1;
    e->dbg_spare[5] = 9;
    e->dbg_spare_word = 9;
    e->bp_paused = 1;

    dbg_reset(e);
    EXPECT_EQ(e->dbg_breakpoint_count, 0u);
    EXPECT_EQ(e->dbg_hit_log[0][0], '\0');
    EXPECT_EQ(e->dbg_hit_log_next, 0);
    EXPECT_EQ(e->dbg_flag, 0);
    EXPECT_EQ(e->dbg_spare[5], 0);
    EXPECT_EQ(e->dbg_spare_word, 0u);
    EXPECT_STREQ(e->dbg_event_log[0], "kept");
    EXPECT_EQ(e->dbg_jump_trace_count, 1u);
    EXPECT_EQ(e->dbg_breakpoints[0].kind, BP_KIND_ADDRESS);
    EXPECT_EQ(e->bp_paused, 1);
    EXPECT_FALSE(dbg_check_breakpoint(e, 'x', 0));
}

}  // namespace
