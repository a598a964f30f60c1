// The scenario assembler: turns a readable scenario source (UTF-8 text, see
// tools/README.md) into the scenario pair the engine runs, the tables file
// (S00000.KVL) and the code file (S00000.KVY).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KvsError {
    int line;  // 1-based line of the source
    std::string message;
};

struct KvsOutput {
    std::vector<uint8_t> tables;  // the .KVL file
    std::vector<uint8_t> code;    // the .KVY file
    std::vector<KvsError> errors;  // in source order; tables and code are empty when any
};

// Assembles a whole source. Never throws; every problem found becomes an
// error with its line (at most KVS_MAX_ERRORS are kept).
constexpr size_t KVS_MAX_ERRORS = 50;
KvsOutput kvs_assemble(const std::string& source);

// Converts UTF-8 text to Shift-JIS as Windows writes it (code page 932,
// NEC and IBM extension characters included). False when the text is not
// UTF-8 or holds a character without a Shift-JIS form; *bad then names it.
bool kvs_utf8_to_sjis(const std::string& text, std::string* out, std::string* bad);
