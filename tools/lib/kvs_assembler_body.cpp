// Segment bodies: text runs, escapes, blocks, command groups and their
// operands, written out as the interpreter will read them.
#include "kvs_assembler_internal.h"

#include <algorithm>

namespace kvs_asm {

namespace {

constexpr uint32_t BLOCK_HEAD_SIZE = 3;  // '{' and the u16 length
constexpr size_t BLOCK_BODY_MAX = 0xFFFF;
// "/" and "\\" take these as "leave without chaining" (65533 also ends an R repetition).
constexpr uint32_t LEAVE_ONLY_FIRST = 65533;
constexpr uint32_t LEAVE_ONLY_LAST = 65535;
constexpr uint32_t CHG_SYSTEM = 1;
constexpr uint32_t CHG_NOTHING = 1;
constexpr uint32_t CHG_LOAD_SCREEN = 3;
constexpr size_t KEYWORD_MAX_LEN = 31;
constexpr uint32_t CURSOR_BIAS = 32;  // ESC Y carries row and column as printable bytes
constexpr uint32_t CURSOR_MAX = 0xFF - CURSOR_BIAS;

constexpr uint8_t BYTE_NEWLINE = 0x0A;
constexpr uint8_t BYTE_FORM_FEED = 0x0C;
constexpr uint8_t BYTE_ESCAPE = 0x1B;


// The commands of command mode, what each needs, and which operand refers to
// a segment or a message, so that a typo fails here and not in the game.
const CommandRule COMMAND_RULES[] = {
    {'!', 0, ROLE_MESSAGES, 0},    {'"', 1, ROLE_NONE, 0},         {'#', 0, ROLE_NONE, 0},
    {'$', 0, ROLE_NONE, 0},        {'%', 0, ROLE_NONE, 0},         {'&', 0, ROLE_NONE, 0},
    {'\'', 1, ROLE_NONE, 0},       {'*', 0, ROLE_NONE, 0},         {'+', 1, ROLE_NONE, 0},
    {'-', 1, ROLE_NONE, 0},        {'/', 0, ROLE_LEAVE_TARGET, 1}, {':', 0, ROLE_NONE, 0},
    {';', 0, ROLE_NONE, 0},        {'<', 0, ROLE_NONE, 0},         {'=', 1, ROLE_NONE, 0},
    {'>', 0, ROLE_NONE, 0},        {'?', 0, ROLE_MESSAGES, 0},     {'@', 0, ROLE_NONE, 0},
    {'A', 1, ROLE_NONE, 0},        {'C', 0, ROLE_NONE, 0},         {'G', 0, ROLE_NONE, 0},
    {'M', 7, ROLE_NONE, 0},        {'O', 5, ROLE_NONE, 0},         {'P', 1, ROLE_NONE, 0},
    {'R', 3, ROLE_SEGMENT, 3},     {'V', 1, ROLE_MESSAGES, 0},     {'\\', 0, ROLE_LEAVE_TARGET, 1},
    {'^', 0, ROLE_NONE, 0},        {'|', 0, ROLE_NONE, 0},         {'~', 1, ROLE_NONE, 0},
    {'}', 1, ROLE_SEGMENT, 1},
};

struct KeywordRule {
    const char* name;
    uint8_t min_operands;
};

const KeywordRule KEYWORD_RULES[] = {
    {"LOAD", 0}, {"CHG", 2}, {"SAVE", 0}, {"SWAP", 0}, {"KEY", 0},
    {"MUL", 2},  {"DIV", 2}, {"MOD", 2},  {"PROT", 1},
};

const CommandRule* find_command_rule(int c)
{
    for (const CommandRule& rule : COMMAND_RULES)
        if (rule.command == c)
            return &rule;
    return nullptr;
}

const KeywordRule* find_keyword_rule(const std::string& name)
{
    for (const KeywordRule& rule : KEYWORD_RULES)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

bool starts_operand(int c) { return is_digit(c) || c == '@' || c == '('; }

void put_u16(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

// ---------------------------------------------------------------------------
// Segment bodies
// ---------------------------------------------------------------------------

// True when a line starts a new segment: the one before it lacks its '}'.
bool Assembler::at_segment_line() const
{
    static const char WORD[] = "segment";
    for (size_t i = 0; WORD[i]; i++)
        if (peek(i) != static_cast<uint8_t>(WORD[i]))
            return false;
    size_t ahead = sizeof WORD - 1;
    if (!is_blank(peek(ahead)))
        return false;
    while (is_blank(peek(ahead)))
        ahead++;
    return is_digit(peek(ahead));
}

bool Assembler::parse_body()
{
    line_has_text_ = false;
    continued_ = false;
    at_line_start_ = false;
    const int segment_line = blocks_.front().line;
    while (!blocks_.empty()) {
        const bool next_segment = peek() != -1 && at_line_start_ && at_segment_line();
        if (peek() == -1 || next_segment) {
            flush_text(true);
            if (blocks_.size() > 1)
                error(blocks_.back().line, "block is never closed: '}' missing");
            error(segment_line, next_segment ? "segment is not closed before the next one: '}' missing"
                                             : "segment is never closed: '}' missing");
            while (!blocks_.empty())
                close_block();
            return false;
        }
        at_line_start_ = false;
        if (peek() == '\n') {
            end_line();
            advance();
            skip_blanks();
            at_line_start_ = true;
        } else if (at_comment()) {
            skip_to_line_end();
        } else if (context_ == Context::Text) {
            text_item();
        } else {
            command_item();
        }
    }
    return true;
}

// A line that printed something ends with a newline byte, unless it ends
// with "\"; in a command group the line break is only a separator.
void Assembler::end_line()
{
    if (context_ == Context::Text) {
        flush_text(true);
        if (line_has_text_ && !continued_)
            emit(BYTE_NEWLINE);
    } else {
        emit(' ');
    }
    line_has_text_ = false;
    continued_ = false;
}

void Assembler::text_item()
{
    const int c = peek();
    if (c == '[' || c == ']' || c == '{' || c == '}' || c == '\\')
        flush_text(false);
    switch (c) {
    case '[':
        emit('[');
        context_ = Context::Command;
        advance();
        return;
    case ']':
        error(line_, "']' without a '[' before it");
        advance();
        return;
    case '{':
        advance();
        open_block();
        return;
    case '}':
        advance();
        close_block();
        return;
    case '\\':
        advance();
        escape();
        return;
    default:
        if (pending_text_.empty())
            pending_line_ = line_;
        pending_text_.push_back(static_cast<char>(c));
        advance();
        return;
    }
}

// A run of text between two other items: a run of blanks only is layout;
// blanks at a line's end are dropped.
void Assembler::flush_text(bool line_end)
{
    if (line_end)
        while (!pending_text_.empty() && is_blank(pending_text_.back()))
            pending_text_.pop_back();
    const bool visible = std::any_of(pending_text_.begin(), pending_text_.end(), [](char c) { return !is_blank(c); });
    if (visible) {
        std::string sjis;
        std::string bad;
        if (!kvs_utf8_to_sjis(pending_text_, &sjis, &bad))
            error(pending_line_, "text has no Shift-JIS form: " + bad);
        code_.insert(code_.end(), sjis.begin(), sjis.end());
        line_has_text_ = true;
    }
    pending_text_.clear();
}

// After a "\": the escapes shared by text and command groups.
void Assembler::escape()
{
    const int line = line_;
    if (context_ == Context::Text) {
        size_t ahead = 0;
        while (is_blank(peek(ahead)))
            ahead++;
        const int after = peek(ahead);
        if (after == -1 || after == '\n' || (after == '/' && peek(ahead + 1) == '/')) {
            continued_ = true;
            return;
        }
    }
    const int c = peek();
    auto word_follows = [&](const char* word) {
        for (size_t i = 0; word[i]; i++)
            if (peek(i) != static_cast<uint8_t>(word[i]))
                return false;
        return true;
    };
    if (word_follows("cls")) {
        pos_ += 3;
        emit(BYTE_ESCAPE);
        emit('J');
        return;
    }
    if (word_follows("at(")) {
        pos_ += 3;
        uint32_t row = 0;
        uint32_t column = 0;
        bool ok = read_number(&row, "\\at(");
        skip_blanks();
        ok = ok && peek() == ',';
        if (ok) {
            advance();
            ok = read_number(&column, "\\at(row,");
            skip_blanks();
            ok = ok && peek() == ')';
        }
        if (!ok) {
            error(line, "\\at takes a row and a column: \\at(10,4)");
            skip_to_line_end();
            return;
        }
        advance();
        if (row > CURSOR_MAX || column > CURSOR_MAX)
            error(line, "\\at's row and column run from 0 to 223");
        emit(BYTE_ESCAPE);
        emit('Y');
        emit(static_cast<uint8_t>(row + CURSOR_BIAS));
        emit(static_cast<uint8_t>(column + CURSOR_BIAS));
        return;
    }
    const bool in_text = context_ == Context::Text;
    switch (c) {
    case 'n':
        emit(BYTE_NEWLINE);
        break;
    case 'f':
        emit(BYTE_FORM_FEED);
        break;
    case 'e':
        emit(BYTE_ESCAPE);
        break;
    case 's':
        emit(' ');
        line_has_text_ = true;
        break;
    case 'x':
        if (hex_value(peek(1)) < 0 || hex_value(peek(2)) < 0) {
            error(line, "\\x needs two hex digits: \\x1B");
            break;
        }
        emit(static_cast<uint8_t>(hex_value(peek(1)) * 16 + hex_value(peek(2))));
        advance();
        advance();
        break;
    case '\\':
    case '/':
        if (in_text) {
            emit(static_cast<uint8_t>(c));
            line_has_text_ = true;
            break;
        }
        [[fallthrough]];
    default:
        error(line, c == -1 || c == '\n' ? "'\\' at the end of the file"
                                         : "unknown escape '\\" + std::string(1, static_cast<char>(c)) + "'");
        break;
    }
    advance();
}

void Assembler::open_block()
{
    blocks_.push_back({code_.size(), line_, context_});
    emit('{');
    emit(0);
    emit(0);
    // Every block body starts in text mode.
    context_ = Context::Text;
}

void Assembler::close_block()
{
    const OpenBlock block = blocks_.back();
    blocks_.pop_back();
    const size_t length = code_.size() - block.head - BLOCK_HEAD_SIZE;
    if (length > BLOCK_BODY_MAX)
        error(block.line, (blocks_.empty() ? "segment is " : "block is ") + std::to_string(length) +
                              " bytes long; a block holds at most 65535");
    put_u16(code_, block.head + 1, static_cast<uint32_t>(length));
    // The interpreter gives the enclosing code its mode back at the block's end.
    context_ = block.outer;
}

void Assembler::command_item()
{
    const int c = peek();
    if (c == ' ' || c == '\t' || c == ',') {
        emit(static_cast<uint8_t>(c));
        advance();
    } else if (c == ']') {
        emit(']');
        context_ = Context::Text;
        advance();
    } else if (c == '[') {
        error(line_, "'[' inside a command group (a ']' missing?)");
        advance();
    } else if (c == '{') {
        advance();
        open_block();
    } else if (c == '.') {
        keyword();
    } else if (c == '\\' && is_lower(peek(1))) {
        advance();
        escape();
    } else if (find_command_rule(c)) {
        command(c);
    } else if (c >= 0x80) {
        error(line_, "text inside a command group: close it with ']' first");
        skip_rest_of_group();
    } else {
        error(line_, "unknown command '" + std::string(1, static_cast<char>(c)) + "'");
        skip_rest_of_group();
    }
}

// After a bad command the rest of its group would only add confusing errors.
void Assembler::skip_rest_of_group()
{
    while (peek() != -1 && peek() != '\n' && peek() != ']')
        advance();
}

void Assembler::command(int c)
{
    const int line = line_;
    const CommandRule& rule = *find_command_rule(c);
    const size_t after_command = pos_ + 1;
    emit(static_cast<uint8_t>(c));
    advance();
    const std::vector<Operand> ops = read_operands();
    const std::string name = c == '}' ? "'}' (segment call)" : "'" + std::string(1, static_cast<char>(c)) + "'";
    if (ops.size() < rule.min_operands) {
        error(line, name + " needs " + std::to_string(rule.min_operands) +
                        (rule.min_operands == 1 ? " operand" : " operands"));
        return;
    }
    // These two read their second number only in one exact spelling; any
    // other is silently something else in the game.
    if ((c == '=' || c == '+' || c == '-') && ops.size() >= 2 && src_[ops[0].end] != ',')
        error(line, name + " takes its value after a comma right behind the variable, as in " + name[1] + "5,3");
    if (c == '%' && !ops.empty() && (after_command >= src_.size() || !is_digit(static_cast<uint8_t>(src_[after_command]))))
        error(line, "'%' copies a palette entry only with the number right after it, as in %3,0");
    check_role(rule, ops, line);
}

void Assembler::keyword()
{
    const int line = line_;
    emit('.');
    advance();
    std::string name;
    while (is_keyword_char(peek())) {
        name.push_back(static_cast<char>(peek()));
        advance();
    }
    code_.insert(code_.end(), name.begin(), name.end());
    const KeywordRule* rule = find_keyword_rule(name);
    if (name.size() > KEYWORD_MAX_LEN || !rule) {
        error(line, "unknown keyword '." + name + "'");
        return;
    }
    const std::vector<Operand> ops = read_operands();
    if (ops.size() < rule->min_operands) {
        error(line, "'." + name + "' needs " + std::to_string(rule->min_operands) +
                        (rule->min_operands == 1 ? " operand" : " operands"));
        return;
    }
    if (name != "CHG" || !ops[1].literal)
        return;
    const bool system = ops[0].literal && ops[0].value == CHG_SYSTEM &&
                        (ops[1].value == CHG_NOTHING || ops[1].value == CHG_LOAD_SCREEN);
    if (!system)
        refer(true, ops[1].value, line);
}

// Separators between operands, a line break among them included; they are
// copied, so the interpreter reads exactly what was written.
void Assembler::skip_separators()
{
    for (;;) {
        const int c = peek();
        if (c == ' ' || c == '\t' || c == ',') {
            emit(static_cast<uint8_t>(c));
            advance();
        } else if (c == '\n') {
            end_line();
            advance();
            skip_blanks();
        } else if (at_comment()) {
            skip_to_line_end();
        } else {
            return;
        }
    }
}

std::vector<Operand> Assembler::read_operands()
{
    std::vector<Operand> ops;
    for (;;) {
        skip_separators();
        if (!starts_operand(peek()))
            return ops;
        Operand op = {};
        if (!read_form(&op))
            return ops;
        ops.push_back(op);
    }
}

// A literal, or "@" and "(" forms around one. The prefixes are walked
// forward without recursion, as the interpreter does.
bool Assembler::read_form(Operand* out)
{
    const int line = line_;
    out->start = pos_;
    int parentheses = 0;
    bool variable = false;
    for (;;) {
        const int c = peek();
        if (c == '@' || c == '(') {
            emit(static_cast<uint8_t>(c));
            advance();
            skip_separators();
            variable = true;
            if (c == '(') {
                parentheses++;
                if (peek() != '@' && peek() != '(') {
                    error(line, "'(' must hold a variable, as in (@7)");
                    return false;
                }
            }
            continue;
        }
        if (!is_digit(c)) {
            error(line, "'@' needs a variable number, as in @7");
            return false;
        }
        break;
    }
    uint32_t value = 0;
    while (is_digit(peek())) {
        value = value * DECIMAL_BASE + static_cast<uint32_t>(peek() - '0');
        emit(static_cast<uint8_t>(peek()));
        advance();
    }
    out->end = pos_;
    for (; parentheses > 0; parentheses--) {
        size_t ahead = 0;
        while (is_blank(peek(ahead)) || peek(ahead) == ',')
            ahead++;
        if (peek(ahead) != ')')
            continue;
        for (size_t i = 0; i <= ahead; i++) {
            emit(static_cast<uint8_t>(peek()));
            advance();
        }
    }
    out->literal = !variable;
    out->value = value;
    return true;
}

void Assembler::check_role(const CommandRule& rule, const std::vector<Operand>& ops, int line)
{
    for (size_t i = 0; i < ops.size(); i++) {
        const bool addressed = rule.role_operand == 0 || rule.role_operand == i + 1;
        if (!addressed || !ops[i].literal)
            continue;
        const uint32_t value = ops[i].value;
        if (rule.role == ROLE_MESSAGES)
            refer(false, value, line);
        else if (rule.role == ROLE_SEGMENT)
            refer(true, value, line);
        else if (rule.role == ROLE_LEAVE_TARGET && !(value >= LEAVE_ONLY_FIRST && value <= LEAVE_ONLY_LAST))
            refer(true, value, line);
    }
}

void Assembler::refer(bool segment, uint32_t number, int line)
{
    references_.push_back({segment, number, line});
}

}  // namespace kvs_asm
