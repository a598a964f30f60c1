#include "scenario_player.h"

#include "app.h"
#include "vm.h"

#include <cstdlib>
#include <cstring>

// Text waits and frame waits would sleep for real: the player skips them.
constexpr int32_t PLAYER_GAME_SPEED = 16;

static PlayResult* s_recording = nullptr;
static int32_t s_trace_seen = 0;

static void record_new_commands(Engine* engine)
{
    for (; s_trace_seen < engine->dbg_cmd_trace_count; s_trace_seen++) {
        const CmdTraceEntry& entry = engine->dbg_cmd_trace[s_trace_seen % DBG_CMD_TRACE_SIZE];
        s_recording->commands.emplace_back(static_cast<char>(entry.command), entry.operand);
    }
}

static void skip_waits(Engine* engine)
{
    engine->wait_frames = 0;
    if (s_recording)
        record_new_commands(engine);
}

static void no_events(Engine*) {}

static uint8_t* malloc_copy(const std::vector<uint8_t>& bytes)
{
    auto* copy = static_cast<uint8_t*>(malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty())
        memcpy(copy, bytes.data(), bytes.size());
    return copy;
}

ScenarioPlayer::ScenarioPlayer()
{
    Engine* engine = engine_.engine();
    engine->game_speed = PLAYER_GAME_SPEED;
    engine->step_cb = skip_waits;
    engine->pump_events_cb = no_events;
}

ScenarioPlayer::~ScenarioPlayer()
{
    s_recording = nullptr;
}

bool ScenarioPlayer::load(const std::string& source)
{
    output_ = kvs_assemble(source);
    if (!output_.errors.empty())
        return false;
    Engine* engine = engine_.engine();
    script_install(engine, malloc_copy(output_.tables), output_.tables.size(), malloc_copy(output_.code),
                   output_.code.size());
    const uint32_t start = script_start_segment(engine);
    const uint8_t* entry = script_scene_entry(engine, start);
    if (!entry)
        return false;
    engine->vm_pc = static_cast<uint32_t>(entry - engine->code_base);
    engine->vm_segment = start;
    return true;
}

PlayResult ScenarioPlayer::play(const std::function<size_t(const std::vector<uint32_t>&)>& choose, int max_steps,
                                const std::function<bool(const PlayResult&)>& until)
{
    Engine* engine = engine_.engine();
    PlayResult result;
    s_recording = &result;
    s_trace_seen = engine->dbg_cmd_trace_count;
    while (result.steps < max_steps) {
        if (engine->choice_active) {
            const std::vector<uint32_t> ids(engine->choice_ids, engine->choice_ids + engine->choice_count);
            result.menus.push_back(ids);
            const int32_t id = static_cast<int32_t>(ids[choose(ids) % ids.size()]);
            engine->vm_vars[VAR_RESULT] = id;
            engine->choice_result = id;
            engine->choice_active = 0;
            engine->choice_count = 0;
            engine->vm_blocked = 0;
        } else if (engine->vm_blocked) {
            result.key_waits++;
            engine->vm_blocked = 0;
        }
        result.steps++;
        const uint8_t went_on = vm_step(engine);
        record_new_commands(engine);
        app_carry_out_chain(engine);
        engine->wait_frames = 0;
        if (!went_on && !engine->vm_blocked) {
            result.ended = true;
            break;
        }
        if (until && until(result))
            break;
    }
    s_recording = nullptr;
    return result;
}
