// An Engine for interpreter tests and a way to run one command handler on a
// line of scenario code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "code_builder.h"
#include "engine.h"

// A start-up Engine (engine_init) that frees its scenario and history with it.
class TestEngine {
public:
    explicit TestEngine(uint8_t hd_mode = 0);
    ~TestEngine();
    TestEngine(const TestEngine&) = delete;
    TestEngine& operator=(const TestEngine&) = delete;

    Engine* get() const { return engine_.get(); }
    Engine* operator->() const { return engine_.get(); }

private:
    std::unique_ptr<Engine> engine_;
};

// Installs the scenario with segment 0 replaced by "[" command "]", sets
// vm_pc just after the command's first character and calls handler. Returns
// how far vm_pc stands past that character afterwards.
uint32_t run_command(Engine* engine, ScenarioBuilder scenario, const std::string& command,
                     void (*handler)(Engine*));
