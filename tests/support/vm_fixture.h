// A fixture for interpreter tests: a fresh Engine on the heap and code laid
// out byte by byte, so a case can run one handler and look at what it left.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine.h"

class VmEngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the bytes the whole code, with vm_pc at pc and no segment defined.
    void load(const std::string& code, uint32_t pc = 0);
    // The bytes from vm_pc to the end of the code.
    std::string rest() const;

    Engine* engine = nullptr;
};
