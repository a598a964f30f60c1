// Builds scenario code and tables readably, so an interpreter test states its
// scenario in a line or two:
//
//   ScenarioBuilder scenario;
//   scenario.segment(0, Code().cmd("=5,2").text("AB").block(Code().cmd("+5")));
//   scenario.install(engine);   // tables + code into the Engine, vm_pc on segment 0
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine.h"

using Bytes = std::vector<uint8_t>;

class Code {
public:
    Code& text(const std::string& bytes);        // raw bytes as they stand (Shift-JIS included)
    Code& cmd(const std::string& commands);      // "[" + commands + "]"
    Code& raw(std::initializer_list<uint8_t> bytes);
    Code& u16(uint16_t value);                   // little-endian
    Code& block(const Code& body);               // '{', the body's length, the body
    const Bytes& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

private:
    Bytes bytes_;
};

class ScenarioBuilder {
public:
    // Segment n's body; the builder wraps it in its '{' and length and lays
    // the segments out in number order.
    ScenarioBuilder& segment(uint32_t number, const Code& body);
    ScenarioBuilder& string(uint32_t number, const std::string& bytes);
    ScenarioBuilder& start(uint16_t segment);
    ScenarioBuilder& param0(uint16_t value);  // written with N1 = 2
    // Bytes after the last segment, up to the end of the code.
    ScenarioBuilder& tail(const Code& bytes);

    Bytes tables() const;
    Bytes code() const;
    // Offset of segment n's '{' in code().
    uint32_t offset_of(uint32_t number) const;

    // Installs tables and code in the Engine (script_install, buffers exactly
    // as large as the files) and puts the
    // interpreter on the start segment's entry, as start-up does.
    void install(Engine* engine) const;

private:
    std::map<uint32_t, Code> segments_;
    std::map<uint32_t, std::string> strings_;
    uint16_t start_ = 0;
    uint16_t param0_ = 0;
    bool has_param0_ = false;
    Code tail_;
};
