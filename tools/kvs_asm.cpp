// kvs-asm: assembles a scenario source into the scenario pair.
//
//   kvs-asm SOURCE.kvs OUTDIR
//
// Writes OUTDIR/S00000.KVL and OUTDIR/S00000.KVY (the folder is created when
// missing). Errors go to standard error as "SOURCE:LINE: message", status 1.

#include "kvr_writer.h"
#include "kvs_assembler.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

static const char USAGE[] =
    "usage: kvs-asm SOURCE.kvs OUTDIR\n"
    "\n"
    "Assembles a scenario source (UTF-8) into OUTDIR/S00000.KVL and OUTDIR/S00000.KVY.\n"
    "The source format is described in tools/README.md.\n";

static const char TABLES_FILE[] = "S00000.KVL";
static const char CODE_FILE[] = "S00000.KVY";

int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (argc != 3) {
        fputs(USAGE, stderr);
        return 1;
    }
    const std::string source_path = argv[1];
    const fs::path out_dir = argv[2];

    std::ifstream in(source_path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "%s: cannot read the file\n", source_path.c_str());
        return 1;
    }
    const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    const KvsOutput out = kvs_assemble(source);
    for (const KvsError& error : out.errors)
        fprintf(stderr, "%s:%d: %s\n", source_path.c_str(), error.line, error.message.c_str());
    if (!out.errors.empty())
        return 1;

    std::error_code ignored;
    fs::create_directories(out_dir, ignored);
    const std::string tables_path = (out_dir / TABLES_FILE).string();
    const std::string code_path = (out_dir / CODE_FILE).string();
    if (!kvr_write_file(tables_path, out.tables) || !kvr_write_file(code_path, out.code)) {
        fprintf(stderr, "%s: cannot write the scenario files\n", out_dir.string().c_str());
        return 1;
    }
    return 0;
}
