// Plays an assembled scenario in an Engine without a window, as the main loop
// would, answering key waits and choices through the Engine's state the way
// the event handler does.
//
//   ScenarioPlayer player;
//   ASSERT_TRUE(player.load(source));          // kvs_assemble + script_install
//   PlayResult result = player.play(choose_first);
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kvs_assembler.h"
#include "vm_harness.h"

struct PlayResult {
    bool ended = false;  // the interpreter had nothing left to run
    int steps = 0;       // main-loop steps made
    int key_waits = 0;   // key waits answered
    std::vector<std::vector<uint32_t>> menus;  // the ids of each choice menu opened
    // Picture and music commands in the order they ran: (command, operand).
    std::vector<std::pair<char, uint32_t>> commands;
};

class ScenarioPlayer {
public:
    ScenarioPlayer();
    ~ScenarioPlayer();

    // Assembles the source and installs it with vm_pc on the start segment.
    // False (with the errors in output()) when it does not assemble.
    bool load(const std::string& source);
    const KvsOutput& output() const { return output_; }
    Engine* engine() { return engine_.engine(); }

    // Runs until the interpreter has nothing left to run, max_steps main-loop
    // steps were made, or until (when given) holds for what has run; choose
    // picks the index of the entry to take from an open menu's ids.
    PlayResult play(const std::function<size_t(const std::vector<uint32_t>&)>& choose, int max_steps = 200000,
                    const std::function<bool(const PlayResult&)>& until = nullptr);

private:
    VmHarness engine_;
    KvsOutput output_;
};
