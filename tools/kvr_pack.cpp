// kvr-pack: builds a KVR1 archive from files.
//
//   kvr-pack [--packed] [--hd] [--zlib] OUT.dat INPUT...
//
// Each INPUT is NAME=FILE (FILE stored under the asset name NAME) or a folder
// (every file beneath it stored under its path relative to the folder).

#include "kvr_writer.h"

#include "archive.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static const char USAGE[] =
    "usage: kvr-pack [--packed] [--hd] [--zlib] OUT.dat INPUT...\n"
    "\n"
    "Builds a KVR1 archive. Each INPUT is either\n"
    "  NAME=FILE   FILE stored under the asset name NAME (e.g. img/001.png=art/title.png)\n"
    "  FOLDER      every file beneath FOLDER, named by its path relative to FOLDER\n"
    "\n"
    "  --packed    write the packed form (the whole image raw-deflated behind its length)\n"
    "  --hd        mark the archive as holding HD assets (for hd.dat)\n"
    "  --zlib      store every entry zlib-compressed\n"
    "  -h, --help  show this text\n";

// The engine reads archive files and images through signed 32-bit lengths.
constexpr uint64_t MAX_IMAGE_SIZE = INT32_MAX;

struct PackOptions {
    bool packed = false;
    bool hd = false;
    bool zlib = false;
    std::string out_path;
    std::vector<std::string> inputs;
};

static bool read_whole_file(const std::string& path, std::vector<uint8_t>* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

static bool add_entry(KvrArchiveSpec* spec, std::set<std::string>* names, const std::string& name,
                      const std::string& file, bool compress)
{
    if (name.empty()) {
        fprintf(stderr, "kvr-pack: empty asset name for %s\n", file.c_str());
        return false;
    }
    if (name.size() > ARC_ENTRY_NAME_LEN) {
        fprintf(stderr, "kvr-pack: asset name %s is %zu bytes long; at most %zu fit\n", name.c_str(),
                name.size(), ARC_ENTRY_NAME_LEN);
        return false;
    }
    char normalised[ASSET_NAME_CAPACITY];
    asset_normalise_path(name.c_str(), normalised, sizeof normalised);
    // The reader returns the first of two equal names; the second could never be read.
    if (!names->insert(normalised).second) {
        fprintf(stderr, "kvr-pack: asset name %s is given twice\n", normalised);
        return false;
    }
    KvrInputEntry entry;
    entry.name = name;
    entry.compress = compress;
    if (!read_whole_file(file, &entry.data)) {
        fprintf(stderr, "kvr-pack: cannot read %s\n", file.c_str());
        return false;
    }
    spec->entries.push_back(std::move(entry));
    return true;
}

static bool add_folder(KvrArchiveSpec* spec, std::set<std::string>* names, const std::string& folder,
                       const std::string& out_path, bool compress)
{
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fprintf(stderr, "kvr-pack: %s is neither NAME=FILE nor a folder\n", folder.c_str());
        return false;
    }
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // Dangling links and a missing output file are no listing errors.
        std::error_code ignored;
        // Packing into the folder itself must not swallow the previous archive.
        if (it->is_regular_file(ignored) && !fs::equivalent(it->path(), out_path, ignored))
            files.push_back(it->path());
    }
    if (error) {
        fprintf(stderr, "kvr-pack: cannot list %s: %s\n", folder.c_str(), error.message().c_str());
        return false;
    }
    // Sorted so the same folder always gives the same archive.
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::string name = file.lexically_relative(folder).generic_string();
        if (!add_entry(spec, names, name, file.string(), compress))
            return false;
    }
    return true;
}

// False (after printing why) on a bad command line; *show_help for -h.
static bool parse_options(int argc, char** argv, PackOptions* options, bool* show_help)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; i++) {
        if (strcmp(argv[i], "--packed") == 0) {
            options->packed = true;
        } else if (strcmp(argv[i], "--hd") == 0) {
            options->hd = true;
        } else if (strcmp(argv[i], "--zlib") == 0) {
            options->zlib = true;
        } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            *show_help = true;
            return true;
        } else if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        } else {
            fprintf(stderr, "kvr-pack: unknown option %s\n\n%s", argv[i], USAGE);
            return false;
        }
    }
    if (argc - i < 2) {
        fprintf(stderr, "kvr-pack: %s\n\n%s", i == argc ? "no output file given" : "no inputs given",
                USAGE);
        return false;
    }
    options->out_path = argv[i++];
    options->inputs.assign(argv + i, argv + argc);
    return true;
}

int main(int argc, char** argv)
{
    PackOptions options;
    bool show_help = false;
    if (!parse_options(argc, argv, &options, &show_help))
        return 2;
    if (show_help) {
        fputs(USAGE, stdout);
        return 0;
    }

    KvrArchiveSpec spec;
    spec.packed = options.packed;
    spec.flags = options.hd ? ARC_FLAG_HD_ASSETS : 0;
    std::set<std::string> names;
    for (const std::string& input : options.inputs) {
        const size_t equals = input.find('=');
        bool added = equals == std::string::npos
                         ? add_folder(&spec, &names, input, options.out_path, options.zlib)
                         : add_entry(&spec, &names, input.substr(0, equals), input.substr(equals + 1),
                                     options.zlib);
        if (!added)
            return 1;
    }

    uint64_t image_size = ARC_HEADER_SIZE + static_cast<uint64_t>(ARC_ENTRY_SIZE) * spec.entries.size();
    for (const KvrInputEntry& entry : spec.entries)
        image_size += entry.data.size();
    if (image_size > MAX_IMAGE_SIZE) {
        fprintf(stderr, "kvr-pack: the archive would hold %llu bytes; the engine reads at most %llu\n",
                static_cast<unsigned long long>(image_size), static_cast<unsigned long long>(MAX_IMAGE_SIZE));
        return 1;
    }

    if (!kvr_write_file(options.out_path, kvr_build_archive(spec))) {
        fprintf(stderr, "kvr-pack: cannot write %s\n", options.out_path.c_str());
        return 1;
    }
    printf("kvr-pack: wrote %s (%zu entries%s%s%s)\n", options.out_path.c_str(), spec.entries.size(),
           options.packed ? ", packed" : "", options.zlib ? ", zlib" : "", options.hd ? ", HD" : "");
    return 0;
}
