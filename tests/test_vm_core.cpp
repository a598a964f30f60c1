#include <gtest/gtest.h>

#include "code_builder.h"
#include "vm.h"
#include "vm_harness.h"

#include <string>

namespace {

constexpr uint32_t HEAD = 3;  // '{' and the length in front of a segment body
constexpr uint32_t UNTOUCHED = 0xDEADBEEF;

// Segment 0 holds exactly these bytes, the last ones of the code; vm_pc on them.
void load_stream(VmHarness& vm, const std::string& bytes)
{
    vm.install(ScenarioBuilder().segment(0, Code().text(bytes)));
    vm.engine()->vm_pc = HEAD;
}

struct OperandCase {
    const char* stream;
    bool read;
    uint32_t value;
    uint32_t pc_after;  // relative to the stream's start
};

TEST(VmCoreTest, OperandSyntax)
{
    const OperandCase cases[] = {
        {"5", true, 5, 1},
        {" ,\t\r5x", true, 5, 5},
        {"4294967296", true, 0, 10},
        {"4294967301", true, 5, 10},
        {"@7", true, 3, 2},
        {"@@7", true, 44, 3},
        {"(@7)", true, 44, 4},
        {"( @ 7 ) x", true, 44, 7},
        {"((@7))", true, 44 + 0, 6},
        {"(@7", true, 44, 3},
        {"@1025", true, 11, 5},
        {"@@9", true, 44, 3},
        {"(7)", false, 0, 1},
        {"  x", false, 0, 2},
        {"@", false, 0, 1},
        {"@ x", false, 0, 2},
        {"(@(7", false, 0, 3},
        {"", false, 0, 0},
    };
    for (const OperandCase& c : cases) {
        VmHarness vm;
        load_stream(vm, c.stream);
        vm.var(7) = 3;
        vm.var(3) = 44;
        vm.var(44) = 44;  // so the doubly indirect ((@7)) lands on 44 again
        vm.var(1) = 11;
        vm.var(9) = 1027;  // indices are taken AND 0x3FF: 1027 is variable 3
        uint32_t value = UNTOUCHED;
        bool read = vm_read_operand(vm.engine(), &value);
        EXPECT_EQ(read, c.read) << c.stream;
        EXPECT_EQ(value, c.read ? c.value : UNTOUCHED) << c.stream;
        EXPECT_EQ(vm.engine()->vm_pc, HEAD + c.pc_after) << c.stream;
    }
}

TEST(VmCoreTest, VariableReferenceNeedsAVariableForm)
{
    VmHarness vm;
    load_stream(vm, " (@7) @5 5");
    vm.var(7) = 1024 + 3;
    EXPECT_EQ(vm_eval_ref(vm.engine()), &vm.engine()->vm_vars[3]);
    EXPECT_EQ(vm_eval_ref(vm.engine()), &vm.engine()->vm_vars[5]);
    EXPECT_EQ(vm_eval_ref(vm.engine()), nullptr);
    EXPECT_EQ(vm.engine()->vm_pc, HEAD + 9);

    // Any number of "@" is read without recursion.
    load_stream(vm, std::string(200000, '@') + "0");
    EXPECT_EQ(vm_eval_ref(vm.engine()), &vm.engine()->vm_vars[0]);
    EXPECT_EQ(vm.engine()->vm_pc, vm.engine()->code_size);
}

TEST(VmCoreTest, BlockBodiesStartInTextModeAndRestoreTheCallersMode)
{
    VmHarness vm;
    // "=9,9" inside the block is text; after the block command mode is back.
    vm.install(ScenarioBuilder().segment(
        0, Code().text("[").block(Code().text("=9,9").cmd("=5,2")).text("=3,3]")));
    vm.run();
    EXPECT_EQ(vm.var(9), 0);
    EXPECT_EQ(vm.var(5), 2);
    EXPECT_EQ(vm.var(3), 3);
    EXPECT_EQ(vm.engine()->vm_command_mode, 0);
    EXPECT_EQ(vm.engine()->vm_depth, 0);
}

TEST(VmCoreTest, StartSegmentFallsThroughIntoTheNextOne)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().cmd("=1,1")).segment(1, Code().cmd("=2,2")));
    EXPECT_EQ(vm.run(), 2);  // one step runs each segment synchronously
    EXPECT_EQ(vm.var(1), 1);
    EXPECT_EQ(vm.var(2), 2);
    EXPECT_EQ(vm.engine()->vm_pc, vm.engine()->code_size);
}

TEST(VmCoreTest, SegmentCallsThatNameNoSegmentReturnAtOnce)
{
    VmHarness vm;
    // Segment 5 is in the table but has no entry; 600 is not a segment number.
    vm.install(ScenarioBuilder().segment(0, Code().cmd("}600=1,1}5=2,2}x")).segment(6, Code()));
    vm_step(vm.engine());
    EXPECT_EQ(vm.var(1), 1);
    EXPECT_EQ(vm.var(2), 2);
    EXPECT_EQ(vm.engine()->dbg_jump_trace_count, 2u);  // "}5" and its return
    EXPECT_EQ(vm.engine()->vm_depth, 0);
}

TEST(VmCoreTest, ChainInsideACallContinuesTheCall)
{
    VmHarness vm;
    vm.install(ScenarioBuilder()
                   .segment(0, Code().cmd("}1=7,1"))
                   .segment(1, Code().cmd("=5,1/9=5,2"))
                   .segment(9, Code().cmd("=8,1")));
    vm_step(vm.engine());
    EXPECT_EQ(vm.var(5), 1);
    EXPECT_EQ(vm.var(8), 1);
    EXPECT_EQ(vm.var(7), 1);
    EXPECT_EQ(vm.engine()->vm_segment, 0u);
    EXPECT_EQ(vm.engine()->vm_depth, 0);
    // The call, the chain and the return are traced; block ends are not.
    const JumpTraceEntry* trace = vm.engine()->dbg_jump_trace;
    EXPECT_EQ(vm.engine()->dbg_jump_trace_count, 3u);
    EXPECT_EQ(trace[0].kind, '}');
    EXPECT_EQ(trace[1].kind, '/');
    EXPECT_EQ(trace[1].target_segment, 9);
    EXPECT_EQ(trace[2].kind, '<');
    EXPECT_EQ(trace[2].target_segment, 0);
}

TEST(VmCoreTest, JumpInsideACallDropsTheCall)
{
    VmHarness vm;
    vm.install(ScenarioBuilder()
                   .segment(0, Code().cmd("}1=7,1"))
                   .segment(1, Code().cmd(".CHG 0,20=6,1"))
                   .segment(20, Code().cmd("=8,1")));
    vm.run();
    EXPECT_EQ(vm.var(8), 1);
    EXPECT_EQ(vm.var(6) + vm.var(7), 0);  // neither the called segment nor its caller goes on
    EXPECT_EQ(vm.engine()->vm_depth, 0);
    EXPECT_EQ(vm.engine()->vm_segment, 20u);
}

TEST(VmCoreTest, LeaveWithoutSegmentReturnsFromTheCall)
{
    VmHarness vm;
    vm.install(ScenarioBuilder()
                   .segment(0, Code().cmd("}1=7,1"))
                   .segment(1, Code().block(Code().cmd("/=6,1")).cmd("=6,2")));
    vm_step(vm.engine());
    EXPECT_EQ(vm.var(6), 0);
    EXPECT_EQ(vm.var(7), 1);
    EXPECT_EQ(vm.engine()->vm_leave, 0);
    EXPECT_EQ(vm.engine()->vm_depth, 0);
}

TEST(VmCoreTest, SelfChainBecomesTheRestartSegmentAfterTheLimit)
{
    VmHarness vm;
    vm.install(ScenarioBuilder()
                   .segment(0, Code().cmd("=1,1}1=2,2"))
                   .segment(1, Code().cmd("+5/1")));
    vm_step(vm.engine());
    const Engine* e = vm.engine();
    EXPECT_EQ(vm.var(5), static_cast<int32_t>(VM_SELF_CHAIN_LIMIT) + 1);
    EXPECT_EQ(vm.var(2), 0);
    EXPECT_EQ(e->vm_restart_segment, 1);
    EXPECT_EQ(e->vm_depth, 0);
    EXPECT_EQ(e->vm_pc, e->segment_offsets[1]);
    EXPECT_EQ(e->vm_block_end, e->code_size);
    EXPECT_EQ(e->vm_leave, 0);
    EXPECT_EQ(e->vm_next_segment, VM_NEXT_NONE);
}

TEST(VmCoreTest, FullStackRecordsNoFrameAndPopsTheOneBelow)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().cmd("=1,1")));
    Engine* e = vm.engine();
    e->vm_depth = VM_STACK_DEPTH;
    for (int i = 0; i < VM_STACK_DEPTH; i++)
        e->vm_stack[i] = VmFrame{100u + i, 200u + i, 300u + i, 1, VM_FRAME_BLOCK};
    e->vm_command_mode = 0;
    vm_run_block(e, VM_BLOCK_RUN);
    EXPECT_EQ(vm.var(1), 1);
    EXPECT_EQ(e->vm_depth, VM_STACK_DEPTH - 1);
    EXPECT_EQ(e->vm_block_end, 200u + VM_STACK_DEPTH - 1);  // the frame below's caller state
    EXPECT_EQ(e->vm_command_mode, 1);
    EXPECT_EQ(e->vm_stack[VM_STACK_DEPTH - 1].resume_pc, 100u + VM_STACK_DEPTH - 1);
}

TEST(VmCoreTest, DamagedStackDepthsAreClamped)
{
    for (int32_t depth : {-5, VM_STACK_DEPTH + 40}) {
        VmHarness vm;
        vm.install(ScenarioBuilder().segment(0, Code().cmd("=1,1")).segment(1, Code()));
        Engine* e = vm.engine();
        e->vm_depth = depth;
        e->vm_leave = 1;
        e->vm_next_segment = VM_NEXT_NONE;
        vm.run();
        EXPECT_GE(e->vm_depth, 0) << depth;
        EXPECT_LE(e->vm_depth, VM_STACK_DEPTH) << depth;
    }
}

TEST(VmCoreTest, EndOfAChainedSegmentRestartsItEvenAtTheEndOfTheCode)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code()).segment(7, Code().cmd("+1")));
    Engine* e = vm.engine();
    const uint32_t entry = e->segment_offsets[7];
    // As the main loop leaves a chain to 7: the top level runs 7 with its end set.
    e->vm_pc = entry;
    e->vm_segment = 7;
    e->vm_block_end = e->code_size;
    e->vm_restart_segment = 7;
    EXPECT_EQ(vm_step(e), 1);  // the segment's block
    EXPECT_EQ(vm.var(1), 1);
    EXPECT_EQ(vm_step(e), 1);  // its end: restart
    EXPECT_EQ(e->vm_pc, entry);
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(vm.var(1), 2);

    e->vm_restart_segment = VM_RESTART_NONE;
    EXPECT_EQ(vm_step(e), 0);
    EXPECT_EQ(e->vm_leave, 1);
    EXPECT_EQ(vm_step(e), 0);
}

TEST(VmCoreTest, LeaveAtTopLevelPopsOneFramePerStep)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().text("abcdefgh")));
    Engine* e = vm.engine();
    e->vm_stack[0] = VmFrame{5, 0, 0, 0, VM_FRAME_BLOCK};
    e->vm_stack[1] = VmFrame{6, 9, 0, 1, VM_FRAME_CALL};
    e->vm_depth = 2;
    e->vm_leave = 1;
    e->vm_next_segment = VM_NEXT_NONE;
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(e->vm_pc, 6u);
    EXPECT_EQ(e->vm_block_end, 9u);
    EXPECT_EQ(e->vm_command_mode, 1);
    EXPECT_EQ(e->vm_leave, 1);
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(e->vm_pc, 5u);
    EXPECT_EQ(e->vm_depth, 0);
    EXPECT_EQ(e->vm_leave, 1);
    // No frames left: the step runs the code with the request still set.
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(e->vm_pc, 6u);

    e->vm_stack[0] = VmFrame{3, 0, 0, 0, VM_FRAME_BLOCK};
    e->vm_depth = 1;
    e->vm_next_segment = 12;
    vm_step(e);
    EXPECT_EQ(e->vm_leave, 0);  // a named segment is the main loop's to chain to
}

TEST(VmCoreTest, LeaveInAnInnerBlockUnwindsToTheTopLevel)
{
    VmHarness vm;
    Code inner = Code().cmd("/").text("[=6,1]");
    vm.install(ScenarioBuilder().segment(0, Code().block(inner).cmd("=7,1")));
    Engine* e = vm.engine();
    e->vm_block_end = e->code_size;  // as after a chain
    vm_step(e);
    EXPECT_EQ(e->vm_depth, 0);
    EXPECT_EQ(e->vm_leave, 1);
    EXPECT_EQ(e->code_base[e->vm_pc], ']');
    EXPECT_EQ(vm.var(6), 0);
    vm.run(20);
    EXPECT_EQ(vm.var(6), 1);
    EXPECT_EQ(vm.var(7), 1);
}

TEST(VmCoreTest, JumpBehindACommandModeEndKeepsTheEnclosingBlockRunning)
{
    VmHarness vm;
    Code inner = Code().cmd("=1,1=1,2");
    Code outer = Code().block(inner).text("]").block(Code().cmd("=2,2"));
    vm.install(ScenarioBuilder().segment(0, Code().block(outer).cmd("=3,3")));
    const uint32_t target = HEAD + HEAD + static_cast<uint32_t>(Code().block(inner).size()) + 1;
    vm.hook_callbacks();
    // A jump as the CHG keyword makes it, out of the inner block to just behind a "]".
    vm.on_step = [&](Engine* e) {
        if (vm.var(1) == 1 && !e->vm_leave) {
            vm.var(1) = 9;
            e->vm_pc = target;
            e->vm_leave = 1;
        }
    };
    vm_step(vm.engine());
    EXPECT_EQ(vm.var(1), 9);  // the rest of the inner block did not run
    EXPECT_EQ(vm.var(2), 2);
    EXPECT_EQ(vm.var(3), 3);
    EXPECT_EQ(vm.engine()->vm_leave, 0);
}

TEST(VmCoreTest, TextWaitsInABlockRenderDividedBySpeed)
{
    // A pump that changes the wait (as a Reset would) changes nothing: the
    // frame count is fixed before the first frame.
    const struct {
        int32_t speed;
        int frames;
        bool pump_resets_wait;
    } cases[] = {{0, 7, false}, {1, 7, false}, {2, 4, false}, {3, 3, false}, {2, 4, true}};
    for (const auto& c : cases) {
        VmHarness vm;
        vm.install(ScenarioBuilder().segment(0, Code().text("\x82\xA0")));
        vm.hook_callbacks();
        if (c.pump_resets_wait)
            vm.on_pump = [](Engine* e) { e->wait_frames = 100; };
        vm.var(VAR_TEXT_SPEED) = 7;
        vm.engine()->game_speed = c.speed;
        vm_step(vm.engine());
        EXPECT_EQ(vm.pump_calls, c.frames) << c.speed;
        EXPECT_EQ(vm.engine()->wait_frames, 0);
    }
}

TEST(VmCoreTest, NestedLoopCallsTheStepHookAndSpinsWhilePaused)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().cmd("=1,1")));
    vm.hook_callbacks();
    vm.paused = 1;
    vm.on_pump = [&](Engine*) {
        if (vm.pump_calls == 2)
            vm.paused = 0;
    };
    vm.on_step = [&](Engine*) { EXPECT_EQ(vm.paused, 0); };
    vm_step(vm.engine());
    EXPECT_EQ(vm.pump_calls, 2);
    EXPECT_EQ(vm.step_calls, 3);  // "[", "=1,1" and "]"
}

TEST(VmCoreTest, BlockedCallLeavesItsFramesAndFinishesStepByStep)
{
    VmHarness vm;
    vm.install(ScenarioBuilder()
                   .segment(0, Code().cmd("}1=7,1"))
                   .segment(1, Code().cmd("$=6,1")));
    Engine* e = vm.engine();
    EXPECT_EQ(vm_step(e), 1);
    EXPECT_EQ(e->vm_blocked, 1);
    EXPECT_EQ(e->vm_depth, 3);
    EXPECT_EQ(e->vm_stack[1].kind, VM_FRAME_CALL);
    EXPECT_EQ(vm_step(e), 1);  // nothing runs while blocked
    EXPECT_EQ(vm.var(6), 0);

    // The called segment is the last in the code: its end still returns.
    e->vm_blocked = 0;
    for (int i = 0; i < 30 && e->vm_depth > 0; i++)
        vm_step(e);
    EXPECT_EQ(vm.var(6), 1);
    EXPECT_EQ(vm.var(7), 1);
    EXPECT_EQ(e->vm_depth, 0);
    EXPECT_EQ(e->vm_segment, 0u);
    EXPECT_EQ(e->vm_pc, e->segment_offsets[1]);  // the start segment's end
}

TEST(VmCoreTest, RunawayRecursionIsCutWithoutCrashing)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().cmd("+1}0")));
    vm_step(vm.engine());
    EXPECT_GT(vm.var(1), VM_STACK_DEPTH);
    EXPECT_EQ(vm.engine()->vm_pc, vm.engine()->code_size);
}

TEST(VmCoreTest, TheEndOfTheCodeIsNeverReadPast)
{
    // Each stream is the last bytes of the code (buffers are exactly its size).
    const char* tails[] = {"[  ,", "{", "{\x05", "}", "[}", "[}@", "[=(@7", "[=1,", "\x82"};
    for (const char* tail : tails) {
        VmHarness vm;
        vm.install(ScenarioBuilder().segment(0, Code()).tail(Code().text(tail)));
        vm.engine()->vm_pc = HEAD;
        vm.run();
        EXPECT_EQ(vm_step(vm.engine()), 0) << tail;
    }
}

TEST(VmCoreTest, BlockLongerThanTheCodeEndsWithIt)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code()).tail(Code().raw({'{', 0xFF, 0xFF}).cmd("=1,1")));
    Engine* e = vm.engine();
    e->vm_pc = HEAD;
    vm.run();
    EXPECT_EQ(vm.var(1), 1);
    EXPECT_EQ(e->vm_depth, 0);
    EXPECT_EQ(e->vm_pc, e->code_size);
}

}  // namespace
