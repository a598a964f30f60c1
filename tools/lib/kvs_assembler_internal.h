// The assembler's insides, shared by its two halves: kvs_assembler.cpp reads
// the top level and writes the tables file, kvs_assembler_body.cpp turns
// segment bodies into code.
#pragma once

#include "kvs_assembler.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kvs_asm {

constexpr uint32_t DECIMAL_BASE = 10;
constexpr uint32_t NO_SEGMENT = 0xFFFFFFFF;

enum class Context { Text, Command };

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_blank(int c) { return c == ' ' || c == '\t'; }
inline bool is_lower(int c) { return c >= 'a' && c <= 'z'; }
inline bool is_keyword_char(int c) { return is_digit(c) || (c >= 'A' && c <= 'Z') || is_lower(c); }

inline int hex_value(int c)
{
    if (is_digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + DECIMAL_BASE;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + DECIMAL_BASE;
    return -1;
}

enum Role : uint8_t {
    ROLE_NONE,
    ROLE_SEGMENT,       // the operand must name a defined segment
    ROLE_LEAVE_TARGET,  // a defined segment, or one of the leave-only values
    ROLE_MESSAGES,      // every operand is a message number
};

struct CommandRule {
    char command;
    uint8_t min_operands;
    Role role;
    uint8_t role_operand;  // 1-based; 0 for every operand
};

struct Operand {
    bool literal;
    uint32_t value;
    size_t start;  // source positions of the operand's first byte and the byte after it
    size_t end;
};

struct Reference {
    bool segment;  // else a message
    uint32_t number;
    int line;
};

struct OpenBlock {
    size_t head;  // offset of the '{' in the code
    int line;
    Context outer;
};

class Assembler {
public:
    explicit Assembler(const std::string& source);
    KvsOutput run();

private:
    // Reading the source
    int peek(size_t ahead = 0) const;
    void advance();
    bool at_comment() const;
    void skip_blanks();
    void skip_to_line_end();
    void expect_line_end(const char* after);
    bool read_number(uint32_t* out, const char* what);
    void error(int line, const std::string& message);

    // Top level
    void parse_message();
    void parse_segment();

    // Segment bodies
    bool parse_body();
    bool at_segment_line() const;
    void skip_rest_of_group();
    void end_line();
    void text_item();
    void command_item();
    void flush_text(bool line_end);
    void escape();
    void open_block();
    void close_block();
    void command(int c);
    void keyword();
    std::vector<Operand> read_operands();
    bool read_form(Operand* out);
    void skip_separators();
    void check_role(const CommandRule& rule, const std::vector<Operand>& ops, int line);
    void refer(bool segment, uint32_t number, int line);
    void emit(uint8_t byte) { code_.push_back(byte); }

    // Output
    void check_references();
    void build_tables(KvsOutput* out);

    std::string src_;
    size_t pos_ = 0;
    int line_ = 1;
    std::vector<KvsError> errors_;

    std::vector<uint8_t> code_;
    std::vector<OpenBlock> blocks_;
    Context context_ = Context::Text;
    std::string pending_text_;
    int pending_line_ = 0;
    bool line_has_text_ = false;
    bool continued_ = false;
    bool at_line_start_ = false;

    std::map<uint32_t, std::string> messages_;
    std::map<uint32_t, int> message_lines_;
    std::map<uint32_t, uint32_t> segment_offsets_;
    std::map<uint32_t, int> segment_lines_;
    uint32_t first_segment_ = NO_SEGMENT;
    std::vector<Reference> references_;
    bool has_start_ = false;
    uint32_t start_ = 0;
    int start_line_ = 0;
    uint16_t var0_ = 0;
};

}  // namespace kvs_asm
