#include <gtest/gtest.h>

#include "code_builder.h"
#include "vm.h"
#include "vm_harness.h"

#include <string>

namespace {

constexpr int RAN = 9;  // the guarded block sets this variable

struct ConditionCase {
    const char* condition;  // command mode text in front of the block
    int32_t var3;
    bool runs;
};

TEST(ConditionsTest, ConditionDecidesWhetherItsBlockRuns)
{
    const ConditionCase cases[] = {
        {": @3", 0, true},
        {": @3", 1, false},
        {": @3,1,2,7", 2, true},
        {": @3,1,2,7", 3, false},
        {": 5", 0, false},
        {":", 0, false},
        {"< @3,10", -5, true},
        {"< @3,10", 10, false},
        {"< @3", -1, true},
        {"> @3,1,2", 2, false},
        {"> @3,1,2", 3, true},
        {"^ @3,1,2", 0, true},
        {"^ @3,1,2", 2, false},
        {"<", 0, true},
        {">", 0, true},
        {"^", 0, true},
        {"< 4294967295", 0, true},  // literals compare as signed
        {"> 4294967295", 0, false},
        {": 4294967295,@3", -1, true},
        {": ( @ 3 ) ,0", 0, true},
        {"^ 1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1", 0, true},  // 16 read; the block then runs as plain code
        {"< 1,(2)", 0, true},  // the malformed operand is plain code, then the block runs
    };
    for (const ConditionCase& c : cases) {
        VmHarness vm;
        vm.install(ScenarioBuilder().segment(
            0, Code().text(std::string("[") + c.condition).block(Code().cmd("=9,1")).text("=8,1]")));
        vm.var(3) = c.var3;
        vm.run();
        EXPECT_EQ(vm.var(RAN), c.runs ? 1 : 0) << c.condition << " with " << c.var3;
        EXPECT_EQ(vm.var(8), 1) << c.condition;  // code after the block runs either way
    }
}

TEST(ConditionsTest, ConditionWithoutBlockConsumesOnlyItsOperands)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().cmd(": 0 =9,1")));
    vm.run();
    EXPECT_EQ(vm.var(RAN), 1);

    // Operands that run to the end of the code: nothing is read past it.
    VmHarness last;
    last.install(ScenarioBuilder().segment(0, Code()).tail(Code().text("[< 1,")));
    last.engine()->vm_pc = 3;
    last.run();
    EXPECT_EQ(last.engine()->vm_pc, last.engine()->code_size);
}

TEST(ConditionsTest, FalseConditionPassesOverTheWholeBlock)
{
    VmHarness vm;
    Code nested = Code().cmd("=9,1").block(Code().cmd("=9,2"));
    vm.install(ScenarioBuilder().segment(0, Code().text("[^ 0").block(nested).text("=8,1]")));
    vm.run();
    EXPECT_EQ(vm.var(RAN), 0);
    EXPECT_EQ(vm.var(8), 1);
    EXPECT_EQ(vm.engine()->vm_depth, 0);
}

struct RepeatCase {
    const char* segment_body;
    int32_t var5;
    int32_t runs;  // variable 6 counts the runs
};

TEST(ConditionsTest, RepeatRunsItsSegmentUntilTheVariableMatches)
{
    const RepeatCase cases[] = {
        {"+6", 3, 0},            // already equal: nothing runs
        {"+6+5", 0, 3},          // reaches 3 on the third run
        {"+6", 0, 10000},        // never equal: stops at the limit
        {"+6/65533", 0, 1},      // a leave to 65533 ends the repetition
        {"+6/7", 0, 10000},      // any other leave ends only that run
    };
    for (const RepeatCase& c : cases) {
        VmHarness vm;
        vm.install(ScenarioBuilder()
                       .segment(0, Code().cmd("R5,3,1=8,1"))
                       .segment(1, Code().cmd(c.segment_body))
                       .segment(7, Code().cmd("=7,1")));
        vm.var(5) = c.var5;
        vm_step(vm.engine());
        const Engine* e = vm.engine();
        EXPECT_EQ(vm.var(6), c.runs) << c.segment_body;
        EXPECT_EQ(vm.var(7), 0) << c.segment_body;
        EXPECT_EQ(vm.var(8), 1) << c.segment_body;  // goes on after the operands
        EXPECT_EQ(e->vm_segment, 0u);
        EXPECT_EQ(e->vm_leave, 0);
        EXPECT_EQ(e->vm_depth, 0);
    }
}

TEST(ConditionsTest, RepeatWithUnusableOperandsDoesNothing)
{
    // Segment 2 is in the table without an entry.
    for (const char* command : {"R5,3", "R1024,3,1", "R5,3,512", "R5,3,2"}) {
        VmHarness vm;
        vm.install(ScenarioBuilder()
                       .segment(0, Code().cmd(command).cmd("=8,1"))
                       .segment(1, Code().cmd("+6"))
                       .segment(3, Code()));
        vm_step(vm.engine());
        EXPECT_EQ(vm.var(6), 0) << command;
        EXPECT_EQ(vm.var(8), 1) << command;
    }
}

TEST(ConditionsTest, RepeatThatBlocksContinuesAfterItsOperands)
{
    VmHarness vm;
    vm.install(ScenarioBuilder().segment(0, Code().cmd("R5,3,1=8,1")).segment(1, Code().cmd("+6$")));
    Engine* e = vm.engine();
    vm_step(e);
    EXPECT_EQ(vm.var(6), 1);
    EXPECT_EQ(e->vm_blocked, 1);
    EXPECT_EQ(e->vm_segment, 0u);
    EXPECT_EQ(vm.var(8), 0);
    EXPECT_EQ(e->code_base[e->vm_pc], '=');
}

}  // namespace
