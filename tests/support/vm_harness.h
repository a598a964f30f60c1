// An Engine for interpreter tests: no renderer, a scenario installed from a
// ScenarioBuilder, the step, pump and pause hooks counted and scriptable, and
// a way to run one command handler on a line of scenario code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "code_builder.h"
#include "engine.h"

class VmHarness {
public:
    explicit VmHarness(uint8_t hd_mode = 0);
    ~VmHarness();
    VmHarness(const VmHarness&) = delete;
    VmHarness& operator=(const VmHarness&) = delete;

    Engine* engine() const { return engine_.get(); }
    int32_t& var(int index) { return engine_->vm_vars[index]; }

    // Installs the scenario with vm_pc on its start segment, as start-up does.
    void install(const ScenarioBuilder& scenario);
    // Calls vm_step until it returns 0 or max_steps were made; returns the steps that returned 1.
    int run(int max_steps = 1000);

    // Installs the step and pump callbacks (and the pause flag) that count
    // their calls and then run the given actions, if any.
    void hook_callbacks();
    std::function<void(Engine*)> on_step;
    std::function<void(Engine*)> on_pump;
    int step_calls = 0;
    int pump_calls = 0;
    uint8_t paused = 0;

private:
    std::unique_ptr<Engine> engine_;
};

// Installs the scenario with segment 0 replaced by "[" command "]", sets
// vm_pc just after the command's first character and calls handler. Returns
// how far vm_pc stands past that character afterwards.
uint32_t run_command(Engine* engine, ScenarioBuilder scenario, const std::string& command,
                     void (*handler)(Engine*));
