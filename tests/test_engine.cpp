#include <gtest/gtest.h>

#include "engine.h"

#include <memory>

TEST(EngineTest, InitialStateIsZeroButForTheSeededFields)
{
    auto engine = std::make_unique<Engine>();
    memset(engine.get(), 0xAB, sizeof(Engine));
    engine_init(engine.get(), 1);

    EXPECT_EQ(engine->spare_flag, 1);
    EXPECT_EQ(engine->vm_next_segment, 65534u);
    EXPECT_EQ(engine->vm_restart_segment, -1);
    EXPECT_EQ(engine->hd_mode, 1);
    EXPECT_EQ(engine->vm_pc, 0u);
    EXPECT_EQ(engine->vm_vars[1023], 0);
    EXPECT_EQ(engine->history.entries[HIST_CAPACITY - 1].pixels, nullptr);
    EXPECT_EQ(engine->renderer, nullptr);
}
