// A fixture for interpreter tests that lay out code byte by byte, so a case
// can run one handler anywhere in the stream and look at what it left.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "vm_fixture.h"

class VmCodeTest : public ::testing::Test {
protected:
    // Makes the bytes the whole code, with vm_pc at pc and no segment defined.
    void load(const std::string& code, uint32_t pc = 0);
    // The bytes from vm_pc to the end of the code.
    std::string rest() const;

    TestEngine owner;
    Engine* engine = owner.get();
};
