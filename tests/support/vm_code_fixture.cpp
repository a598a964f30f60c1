#include "vm_code_fixture.h"

#include "vm.h"

#include <cstdlib>
#include <cstring>

void VmCodeTest::load(const std::string& code, uint32_t pc)
{
    const Bytes tables = ScenarioBuilder().tables();
    auto* tables_copy = static_cast<uint8_t*>(malloc(tables.size()));
    memcpy(tables_copy, tables.data(), tables.size());
    auto* code_copy = static_cast<uint8_t*>(malloc(code.size() + 1));
    memcpy(code_copy, code.data(), code.size());
    script_install(engine, tables_copy, tables.size(), code_copy, code.size());
    for (uint32_t& offset : engine->segment_offsets)
        offset = UINT32_MAX;
    engine->vm_pc = pc;
}

std::string VmCodeTest::rest() const
{
    return std::string(reinterpret_cast<const char*>(engine->code_base) + engine->vm_pc,
                       engine->code_size - engine->vm_pc);
}
