// The interpreter test engine under the name older tests use; new tests take
// VmHarness from vm_harness.h directly.
#pragma once

#include "vm_harness.h"

class TestEngine : public VmHarness {
public:
    using VmHarness::VmHarness;
    Engine* get() const { return engine(); }
    Engine* operator->() const { return engine(); }
};
