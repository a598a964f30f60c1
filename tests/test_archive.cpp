#include <gtest/gtest.h>

#include "archive.h"
#include "test_support.h"

#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

// Under the address sanitizer, an allocation that fails must answer null, as the C library's does.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// Fixture archives are built here field by field, with zlib itself making every
// compressed stream, so the reader is checked against an independent encoder.

struct TestEntry {
    std::string name;
    Bytes data;
    bool zlib = false;
};

constexpr size_t FIELD_SIZE = 56;
constexpr size_t FIELD_OFFSET = 60;
constexpr size_t FIELD_STORED_SIZE = 64;
constexpr size_t FIELD_FLAGS = 68;

void put_u32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

size_t entry_field(size_t index, size_t field)
{
    return ARC_HEADER_SIZE + ARC_ENTRY_SIZE * index + field;
}

Bytes zlib_wrap(const Bytes& data)
{
    uLongf len = compressBound(static_cast<uLong>(data.size()));
    Bytes out(len);
    EXPECT_EQ(compress2(out.data(), &len, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
    out.resize(len);
    return out;
}

Bytes raw_deflate(const Bytes& data)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// n zero bytes as one deflate stream (window_bits as zlib takes them: negative
// for raw data), fed in small pieces so they are never held at once.
Bytes deflate_zeros(size_t n, int window_bits)
{
    static const Bytes piece(1 << 16);
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(n / 1000 + 1024);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    for (size_t left = n;;) {
        const size_t take = std::min(left, piece.size());
        stream.next_in = const_cast<Bytef*>(piece.data());
        stream.avail_in = static_cast<uInt>(take);
        left -= take;
        if (deflate(&stream, left ? Z_NO_FLUSH : Z_FINISH) == Z_STREAM_END)
            break;
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

Bytes build_image(const std::vector<TestEntry>& entries, uint32_t flags = 0)
{
    Bytes image(ARC_HEADER_SIZE + ARC_ENTRY_SIZE * entries.size(), 0);
    memcpy(image.data(), "KVR1", 4);
    put_u32(image, 8, static_cast<uint32_t>(entries.size()));
    put_u32(image, 12, flags);
    for (size_t i = 0; i < entries.size(); i++) {
        const TestEntry& entry = entries[i];
        memcpy(&image[entry_field(i, 0)], entry.name.data(), std::min(entry.name.size(), FIELD_SIZE));
        Bytes stored = entry.zlib ? zlib_wrap(entry.data) : entry.data;
        put_u32(image, entry_field(i, FIELD_SIZE), static_cast<uint32_t>(entry.data.size()));
        put_u32(image, entry_field(i, FIELD_OFFSET), static_cast<uint32_t>(image.size()));
        put_u32(image, entry_field(i, FIELD_STORED_SIZE), entry.zlib ? static_cast<uint32_t>(stored.size()) : 0);
        put_u32(image, entry_field(i, FIELD_FLAGS), entry.zlib ? ARC_ENTRY_FLAG_ZLIB : 0);
        image.insert(image.end(), stored.begin(), stored.end());
    }
    return image;
}

Bytes pack_declaring(const Bytes& image, uint32_t unpacked_size)
{
    Bytes packed(4, 0);
    put_u32(packed, 0, unpacked_size);
    Bytes stream = raw_deflate(image);
    packed.insert(packed.end(), stream.begin(), stream.end());
    return packed;
}

Bytes pack(const Bytes& image)
{
    return pack_declaring(image, static_cast<uint32_t>(image.size()));
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Something zlib compresses well but not trivially.
Bytes pattern(size_t len)
{
    Bytes out(len);
    for (size_t i = 0; i < len; i++)
        out[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
    return out;
}

bool open_bytes(Archive* arc, const Bytes& file)
{
    uint8_t* copy = static_cast<uint8_t*>(malloc(file.size() + 1));
    memcpy(copy, file.data(), file.size());
    return arc_open_image(arc, copy, file.size());
}

// An entry looked up and extracted; ok is false when either step failed.
struct Extracted {
    bool ok;
    size_t len;
    Bytes data;
};

Extracted extract(const Archive* arc, const char* name)
{
    const ArchiveEntry* entry = arc_find(arc, name);
    if (!entry)
        return {false, 0, {}};
    size_t len = 0xDEAD;
    uint8_t* data = arc_extract(arc, entry, &len);
    Extracted result{data != nullptr, len, {}};
    if (data)
        result.data.assign(data, data + len);
    free(data);
    return result;
}

class ArchiveTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        arc_close(&arc);
        arc_close(&g_arc_base);
        arc_close(&g_arc_hd);
        arc_close(&g_arc_script);
        EXPECT_EQ(open_file_count(), files_open) << "files the archive reader left open";
    }
    static ptrdiff_t open_file_count() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

    Archive arc{};
    ScratchDir dir;  // for the tests that look for archive files
    const ptrdiff_t files_open = open_file_count();
};

// ---------------------------------------------------------------------------
// The two forms
// ---------------------------------------------------------------------------

TEST_F(ArchiveTest, PlainImageExtractsStoredAndZlibEntries)
{
    const Bytes big = pattern(100000);  // several times the inflater's first buffer
    ASSERT_TRUE(open_bytes(&arc, build_image({{"a.bin", text("stored bytes")}, {"b.bin", big, true}})));

    EXPECT_EQ(arc.entry_count, 2u);
    EXPECT_EQ(arc.loaded, 1);
    EXPECT_EQ(arc.entries, reinterpret_cast<const ArchiveEntry*>(arc.data + ARC_HEADER_SIZE));
    Extracted a = extract(&arc, "a.bin");
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.data, text("stored bytes"));
    Extracted b = extract(&arc, "b.bin");
    EXPECT_TRUE(b.ok);
    EXPECT_EQ(b.data, big);
}

TEST_F(ArchiveTest, PackedImageFromRawDeflateOpens)
{
    const Bytes image = build_image({{"img/001.png", pattern(3000), true}, {"x", pattern(40000)}});
    ASSERT_TRUE(open_bytes(&arc, pack(image)));

    EXPECT_EQ(arc.size, image.size());
    EXPECT_EQ(Bytes(arc.data, arc.data + arc.size), image);
    EXPECT_EQ(extract(&arc, "img/001.png").data, pattern(3000));
    EXPECT_EQ(extract(&arc, "x").data, pattern(40000));
}

TEST_F(ArchiveTest, PackedImagesWhoseStreamEndsTightlyOpen)
{
    // Small streams often end with their last codes in the final byte or two.
    for (size_t len = 0; len < 64; len++) {
        const Bytes image = build_image({{"x", pattern(len)}});
        ASSERT_TRUE(open_bytes(&arc, pack(image))) << len;
        EXPECT_EQ(Bytes(arc.data, arc.data + arc.size), image);
        arc_close(&arc);
    }
}

TEST_F(ArchiveTest, PackedImageOfOtherLengthThanDeclaredIsRejected)
{
    const Bytes image = build_image({{"a", pattern(500)}});
    const uint32_t len = static_cast<uint32_t>(image.size());
    EXPECT_FALSE(open_bytes(&arc, pack_declaring(image, len + 1)));
    EXPECT_FALSE(open_bytes(&arc, pack_declaring(image, len - 1)));
    EXPECT_EQ(arc.data, nullptr);
    EXPECT_EQ(arc.loaded, 0);
    EXPECT_TRUE(open_bytes(&arc, pack_declaring(image, len)));
}

TEST_F(ArchiveTest, StreamsOfOtherLengthsThanDeclaredAreRefusedWithoutInflatingThem)
{
    // 128 MiB of zeros in an eighth of a megabyte, declared as a few bytes or as 2,000,000,000.
    const size_t zeros = 128u << 20;
    Bytes packed(4, 0);
    put_u32(packed, 0, 100);
    const Bytes raw = deflate_zeros(zeros, -15);
    packed.insert(packed.end(), raw.begin(), raw.end());
    Bytes image = build_image({{"z", Bytes(10), true}});
    image.resize(entry_field(1, 0));
    const Bytes stored = deflate_zeros(zeros, 15);
    image.insert(image.end(), stored.begin(), stored.end());
    put_u32(image, entry_field(0, FIELD_STORED_SIZE), static_cast<uint32_t>(stored.size()));

    const long before = resident_peak_restart_kb();
    EXPECT_FALSE(open_bytes(&arc, packed));
    put_u32(packed, 0, 2000000000);
    EXPECT_FALSE(open_bytes(&arc, packed));
    ASSERT_TRUE(open_bytes(&arc, image));
    EXPECT_FALSE(extract(&arc, "z").ok);
    EXPECT_LT(resident_peak_kb() - before, 16 << 10) << "kB held while refusing";
}

TEST_F(ArchiveTest, PackedFilesThatAreNotArchivesAreRejected)
{
    // Wrong magic and no inflatable stream behind it (block type 3 is invalid).
    EXPECT_FALSE(open_bytes(&arc, Bytes{'K', 'V', 'R', '2', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    // A stream cut short.
    Bytes cut = pack(build_image({{"a", pattern(5000)}}));
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(open_bytes(&arc, cut));
    // Inflates fine, but to something without the magic or shorter than a header.
    Bytes no_magic = build_image({});
    no_magic[3] = '2';
    EXPECT_FALSE(open_bytes(&arc, pack(no_magic)));
    EXPECT_FALSE(open_bytes(&arc, pack(text("KVR1abcdefgh"))));
    EXPECT_EQ(arc.loaded, 0);
}

TEST_F(ArchiveTest, FilesShorterThanAHeaderAreRejected)
{
    EXPECT_FALSE(open_bytes(&arc, text("KVR1abc")));
    EXPECT_FALSE(open_bytes(&arc, text("KVR1abcd")));
    Bytes header = build_image({});
    header.pop_back();
    EXPECT_FALSE(open_bytes(&arc, header));
    header.push_back(0);
    EXPECT_TRUE(open_bytes(&arc, header));
    EXPECT_EQ(arc_find(&arc, ""), nullptr);
}

TEST_F(ArchiveTest, EntryTablePastTheEndIsRejected)
{
    Bytes image = build_image({{"a", {}}, {"b", {}}});  // table ends exactly at the end
    put_u32(image, 8, 3);
    EXPECT_FALSE(open_bytes(&arc, image));
    // A count whose table size overflows 32 bits must not wrap into range.
    put_u32(image, 8, 0xFFFFFFFFu);
    EXPECT_FALSE(open_bytes(&arc, image));
    put_u32(image, 8, 2);
    EXPECT_TRUE(open_bytes(&arc, image));
}

TEST_F(ArchiveTest, OpenRecordIsLeftAloneAndAClosedOneFindsNothing)
{
    EXPECT_EQ(arc_find(&arc, "first"), nullptr);
    ASSERT_TRUE(open_bytes(&arc, build_image({{"first", text("1")}})));
    const uint8_t* first = arc.data;
    EXPECT_FALSE(open_bytes(&arc, build_image({{"second", text("2")}})));
    EXPECT_EQ(arc.data, first);
    EXPECT_NE(arc_find(&arc, "first"), nullptr);
    arc_close(&arc);
    EXPECT_EQ(arc.data, nullptr);
    EXPECT_EQ(arc.loaded, 0);
    EXPECT_EQ(arc_find(&arc, "first"), nullptr);
}

// ---------------------------------------------------------------------------
// Extraction
// ---------------------------------------------------------------------------

TEST_F(ArchiveTest, StoredEntryEndingOneBytePastTheImageIsNullAndItsStoredSizeIsNotRead)
{
    Bytes image = build_image({{"a", text("abcd")}});
    put_u32(image, entry_field(0, FIELD_STORED_SIZE), 0xFFFFFFFFu);
    const uint32_t offset = static_cast<uint32_t>(image.size()) - 4;
    put_u32(image, entry_field(0, FIELD_OFFSET), offset + 1);
    ASSERT_TRUE(open_bytes(&arc, image));
    Extracted past = extract(&arc, "a");
    EXPECT_FALSE(past.ok);
    EXPECT_EQ(past.len, 4u);

    arc_close(&arc);
    put_u32(image, entry_field(0, FIELD_OFFSET), offset);
    ASSERT_TRUE(open_bytes(&arc, image));
    EXPECT_EQ(extract(&arc, "a").data, text("abcd"));
}

TEST_F(ArchiveTest, CompressedEntryPastTheImageAndRangesThatWrapIn32BitsAreNull)
{
    Bytes image =
        build_image({{"stored", text("abcd")}, {"packed", text("abcd"), true}, {"z", pattern(2000), true}});
    put_u32(image, entry_field(0, FIELD_OFFSET), 0xFFFFFFF0u);
    put_u32(image, entry_field(0, FIELD_SIZE), 0x20);
    put_u32(image, entry_field(1, FIELD_OFFSET), 0xFFFFFFF0u);
    put_u32(image, entry_field(1, FIELD_STORED_SIZE), 0x20);
    // z's stream ends the image: one byte more runs past it.
    const uint32_t z_stored = static_cast<uint32_t>(zlib_wrap(pattern(2000)).size());
    put_u32(image, entry_field(2, FIELD_STORED_SIZE), z_stored + 1);
    ASSERT_TRUE(open_bytes(&arc, image));
    EXPECT_FALSE(extract(&arc, "stored").ok);
    EXPECT_FALSE(extract(&arc, "packed").ok);
    Extracted z = extract(&arc, "z");
    EXPECT_FALSE(z.ok);
    EXPECT_EQ(z.len, 2000u);
}

TEST_F(ArchiveTest, CompressedEntryOfOtherLengthThanItsSizeIsNull)
{
    Bytes image = build_image({{"long", pattern(2000), true}, {"short", pattern(2000), true}});
    put_u32(image, entry_field(0, FIELD_SIZE), 1999);
    put_u32(image, entry_field(1, FIELD_SIZE), 2001);
    ASSERT_TRUE(open_bytes(&arc, image));
    Extracted long_entry = extract(&arc, "long");
    EXPECT_FALSE(long_entry.ok);
    EXPECT_EQ(long_entry.len, 1999u);
    Extracted short_entry = extract(&arc, "short");
    EXPECT_FALSE(short_entry.ok);
    EXPECT_EQ(short_entry.len, 2001u);
}

TEST_F(ArchiveTest, CorruptZlibStreamsAreNull)
{
    const Bytes data = pattern(3000);
    const size_t stream_len = zlib_wrap(data).size();
    Bytes image = build_image({{"check", data, true}, {"dictionary", data, true}, {"cut", data, true},
                               {"checksum", data, true}});
    const size_t first = entry_field(4, 0);
    // Header bytes no longer divisible by 31.
    image[first + 1] ^= 0x01;
    // A preset dictionary asked for, with valid check bits.
    const size_t second = first + stream_len;
    uint8_t flg = 0x20;
    const int remainder = (image[second] * 256 + flg) % 31;
    image[second + 1] = static_cast<uint8_t>(remainder ? flg + 31 - remainder : flg);
    // A stream missing its second half, and one whose Adler-32 is wrong.
    put_u32(image, entry_field(2, FIELD_STORED_SIZE), static_cast<uint32_t>(stream_len / 2));
    image.back() ^= 0x01;
    ASSERT_TRUE(open_bytes(&arc, image));
    EXPECT_FALSE(extract(&arc, "check").ok);
    EXPECT_FALSE(extract(&arc, "dictionary").ok);
    EXPECT_FALSE(extract(&arc, "cut").ok);
    EXPECT_FALSE(extract(&arc, "checksum").ok);

    // Plain bytes flagged as zlib are no zlib stream.
    arc_close(&arc);
    Bytes stored = build_image({{"raw", data}});
    put_u32(stored, entry_field(0, FIELD_FLAGS), ARC_ENTRY_FLAG_ZLIB);
    put_u32(stored, entry_field(0, FIELD_STORED_SIZE), static_cast<uint32_t>(data.size()));
    ASSERT_TRUE(open_bytes(&arc, stored));
    EXPECT_FALSE(extract(&arc, "raw").ok);
}

TEST_F(ArchiveTest, EmptyEntriesGiveARealEmptyBuffer)
{
    ASSERT_TRUE(open_bytes(&arc, build_image({{"stored", {}}, {"packed", {}, true}})));
    for (const char* name : {"stored", "packed"}) {
        size_t len = 99;
        uint8_t* data = arc_extract(&arc, arc_find(&arc, name), &len);
        EXPECT_NE(data, nullptr) << name;
        EXPECT_EQ(len, 0u) << name;
        free(data);
    }
}

// ---------------------------------------------------------------------------
// Names and lookup
// ---------------------------------------------------------------------------

std::string normalise(const std::string& name)
{
    char out[ASSET_NAME_CAPACITY];
    asset_normalise_path(name.c_str(), out, sizeof out);
    return out;
}

TEST(AssetNameTest, LeadingDotsAndOneLeadingAssetsFolderAreDropped)
{
    const std::pair<const char*, const char*> cases[] = {
        {"img/001.png", "img/001.png"},
        {"assets/img/001.png", "img/001.png"},
        {"assets\\img\\001.png", "img/001.png"},
        {"./img/001.png", "img/001.png"},
        {".\\img\\001.png", "img/001.png"},
        {"../img/001.png", "img/001.png"},
        {"..\\..\\assets\\img/001.png", "img/001.png"},
        {"../.././assets/x", "x"},
        // Two dots lose their place even without a separator after them.
        {"..x", "x"},
        {"...x", ".x"},
        // Only one assets folder, and only at the start, is dropped.
        {"assets/assets/x", "assets/x"},
        {"img/assets/x", "img/assets/x"},
        {"Assets/x", "Assets/x"},
        {"assetsx", "assetsx"},
        {"./../x", "../x"},
        {"././x", "./x"},  // one "./" only
        {"a\\b\\c", "a/b/c"},
        {"", ""},
    };
    for (const auto& [name, normalised] : cases)
        EXPECT_EQ(normalise(name), normalised) << name;
}

TEST(AssetNameTest, LongNamesAreCutToTheCapacity)
{
    const std::string name(300, 'a');
    EXPECT_EQ(normalise("assets/" + name), name.substr(0, ASSET_NAME_CAPACITY - 1));
    char small[4];
    memset(small, 'x', sizeof small);
    asset_normalise_path("abcdef\\", small, sizeof small);
    EXPECT_STREQ(small, "abc");
}

TEST_F(ArchiveTest, StoredNamesAreNormalisedBeforeComparing)
{
    ASSERT_TRUE(open_bytes(&arc, build_image({{"assets/img/001.png", text("1")},
                                              {"assets\\img\\002.png", text("2")},
                                              {"./img/003.png", text("3")},
                                              {"../bgm/a.ogg", text("4")}})));
    EXPECT_EQ(extract(&arc, "img/001.png").data, text("1"));
    EXPECT_EQ(extract(&arc, "img/002.png").data, text("2"));
    EXPECT_EQ(extract(&arc, "img/003.png").data, text("3"));
    EXPECT_EQ(extract(&arc, "bgm/a.ogg").data, text("4"));
    // The request must already be normalised; the raw stored form is no key.
    EXPECT_EQ(arc_find(&arc, "assets/img/001.png"), nullptr);
}

TEST_F(ArchiveTest, LookupIsCaseSensitiveAndWholeName)
{
    ASSERT_TRUE(open_bytes(&arc, build_image({{"img/Title.png", text("1")}})));
    EXPECT_NE(arc_find(&arc, "img/Title.png"), nullptr);
    EXPECT_EQ(arc_find(&arc, "img/title.png"), nullptr);
    EXPECT_EQ(arc_find(&arc, "IMG/Title.png"), nullptr);
    EXPECT_EQ(arc_find(&arc, "img/Title"), nullptr);
    EXPECT_EQ(arc_find(&arc, "img/Title.png2"), nullptr);
}

TEST_F(ArchiveTest, FirstOfEqualNamesWinsAmongMany)
{
    // Each name stored three times in forms that rotate from name to name,
    // among enough names (some the start of others) for a search of many steps.
    const char* forms[] = {"assets\\d\\", "./d/", "d/"};
    std::vector<TestEntry> entries;
    for (int copy = 0; copy < 3; copy++)
        for (int i = 0; i < 120; i++)
            entries.push_back({forms[(i + copy) % 3] + std::to_string(i * 37 % 120), text(std::to_string(copy))});
    ASSERT_TRUE(open_bytes(&arc, build_image(entries)));
    for (int i = 0; i < 120; i++)
        EXPECT_EQ(arc_find(&arc, ("d/" + std::to_string(i * 37 % 120)).c_str()), &arc.entries[i]) << i;
    EXPECT_EQ(arc_find(&arc, "d/120"), nullptr);
    EXPECT_EQ(arc_find(&arc, "d\\1"), nullptr);
}

TEST_F(ArchiveTest, NameFieldWithoutZeroByteIsAFiftySixCharacterName)
{
    const std::string full(ARC_ENTRY_NAME_LEN, 'n');
    Bytes image = build_image({{full, text("full")}, {"short", text("s")}});
    // Bytes after the zero byte of a name belong to no name.
    memcpy(&image[entry_field(1, 6)], "junk", 4);
    ASSERT_TRUE(open_bytes(&arc, image));
    EXPECT_EQ(extract(&arc, full.c_str()).data, text("full"));
    EXPECT_EQ(extract(&arc, "short").data, text("s"));
}

// ---------------------------------------------------------------------------
// Finding archive files
// ---------------------------------------------------------------------------

Bytes marked_archive(const std::string& mark, bool packed = false, uint32_t flags = 0)
{
    Bytes image = build_image({{"mark", text(mark)}}, flags);
    return packed ? pack(image) : image;
}

std::string mark_of(const Archive* arc)
{
    Extracted mark = extract(arc, "mark");
    return mark.ok ? std::string(mark.data.begin(), mark.data.end()) : "";
}

TEST_F(ArchiveTest, FoldersAreSearchedInOrder)
{
    write_file(dir.file("root/work/dat/base.dat"), marked_archive("dat", true));
    write_file(dir.file("root/work/base.dat"), marked_archive("cwd"));
    write_file(dir.file("root/work/assets/base.dat"), marked_archive("assets"));
    write_file(dir.file("assets/base.dat"), marked_archive("up-two"));
    write_file(dir.file("root/assets/base.dat"), marked_archive("up-one", true));
    dir.enter();
    std::filesystem::current_path("root/work");

    const char* expected[] = {"dat", "cwd", "assets", "up-two", "up-one"};
    const char* remove_after[] = {"dat/base.dat", "base.dat", "assets/base.dat", "../../assets/base.dat",
                                  "../assets/base.dat"};
    for (size_t i = 0; i < std::size(expected); i++) {
        arc_open(&arc, "base.dat");
        EXPECT_EQ(mark_of(&arc), expected[i]);
        arc_close(&arc);
        std::filesystem::remove(remove_after[i]);
    }
    arc_open(&arc, "base.dat");
    EXPECT_EQ(arc.loaded, 0);
}

// An empty file, a FIFO, a folder and a file whose bytes cannot be held now
// (an address-space limit makes the allocation fail) are passed over for the
// next folder's; a link to an archive is an archive. The FIFO, and a device read
// as a loose file, are never opened: that would wake a writer or act on a device.
TEST_F(ArchiveTest, EmptyFifoFolderAndUnholdableFilesAreSkippedAndALinkIsFollowed)
{
    const uintmax_t held_bytes = 1900000000;
    write_file(dir.file("root/work/dat/base.dat"), {});
    make_fifo(dir.file("root/work/base.dat"));
    mknod(dir.file("root/work/zero.png").c_str(), S_IFCHR | 0644, makedev(1, 5));
    const int opened = inotify_init1(IN_NONBLOCK);
    for (const char* name : {"root/work/base.dat", "root/work/zero.png"})
        inotify_add_watch(opened, dir.file(name).c_str(), IN_OPEN);
    std::filesystem::create_directories(dir.file("root/work/assets/base.dat"));
    write_file(dir.file("assets/base.dat"), {});
    std::filesystem::resize_file(dir.file("assets/base.dat"), held_bytes);  // sparse: no disk used
    write_file(dir.file("root/assets/game.dat"), marked_archive("linked"));
    std::filesystem::create_symlink("game.dat", dir.file("root/assets/base.dat"));
    dir.enter();
    std::filesystem::current_path("root/work");
    const int linked_opened = run_in_child([&] {
        Watchdog watchdog;
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + held_bytes / 2;
        const rlimit limit = {room, room};
        setrlimit(RLIMIT_AS, &limit);
        size_t len = 0;
        arc_open(&arc, "base.dat");
        return mark_of(&arc) == "linked" && !arc_read_file("zero.png", 1, &len) ? 0 : 1;
    });
    EXPECT_EQ(linked_opened, 0) << "the search stopped before the linked archive";
    inotify_event event;
    EXPECT_LT(read(opened, &event, sizeof event), 0) << "a FIFO or a device was opened";
    close(opened);
}

TEST_F(ArchiveTest, BrokenFileInAnEarlyFolderEndsTheSearch)
{
    const Bytes broken[] = {text("KVR1abcdefgh"), text("KVR"), text("not an archive at all")};
    for (const Bytes& bad : broken) {
        ScratchDir fresh;  // one folder per broken file
        write_file(fresh.file("dat/base.dat"), bad);
        write_file(fresh.file("assets/base.dat"), marked_archive("assets"));
        fresh.enter();
        arc_open(&arc, "base.dat");
        EXPECT_EQ(arc.loaded, 0);
        EXPECT_EQ(arc.data, nullptr);
    }
}

TEST_F(ArchiveTest, OpenArchiveIsNeverReopened)
{
    write_file(dir.file("base.dat"), marked_archive("base"));
    write_file(dir.file("hd.dat"), marked_archive("hd"));
    dir.enter();
    arc_open(&arc, "base.dat");
    const uint8_t* image = arc.data;
    arc_open(&arc, "hd.dat");
    EXPECT_EQ(arc.data, image);
    EXPECT_EQ(mark_of(&arc), "base");
}

TEST_F(ArchiveTest, BaseAndHdOpenTogetherAndReportTheHdFlag)
{
    write_file(dir.file("dat/base.dat"), marked_archive("base"));
    write_file(dir.file("dat/hd.dat"), marked_archive("hd", true, ~ARC_FLAG_HD_ASSETS));  // reserved bits only
    dir.enter();
    arc_open_base_and_hd();
    EXPECT_TRUE(arc_base_loaded());
    EXPECT_TRUE(arc_hd_loaded());
    EXPECT_FALSE(arc_hd_has_hd_assets());
    EXPECT_EQ(mark_of(&g_arc_hd), "hd");

    arc_close(&g_arc_hd);
    write_file(dir.file("dat/hd.dat"), marked_archive("hd", false, ARC_FLAG_HD_ASSETS | 0x80000000u));
    arc_open_base_and_hd();
    EXPECT_TRUE(arc_hd_has_hd_assets());
}

TEST_F(ArchiveTest, MissingHdLeavesOnlyBaseLoaded)
{
    write_file(dir.file("base.dat"), marked_archive("base"));
    dir.enter();
    arc_open_base_and_hd();
    EXPECT_TRUE(arc_base_loaded());
    EXPECT_FALSE(arc_hd_loaded());
    EXPECT_FALSE(arc_hd_has_hd_assets());
}

TEST_F(ArchiveTest, OpenScriptReplacesTheScenarioArchive)
{
    write_file(dir.file("script.dat"), marked_archive("default"));
    write_file(dir.file("assets/script_fr.dat"), marked_archive("fr", true));
    dir.enter();

    EXPECT_TRUE(arc_open_script(nullptr));
    EXPECT_EQ(mark_of(&g_arc_script), "default");
    EXPECT_TRUE(arc_open_script("fr"));
    EXPECT_EQ(mark_of(&g_arc_script), "fr");
    EXPECT_TRUE(arc_open_script(""));
    EXPECT_EQ(mark_of(&g_arc_script), "default");

    // A missing translation leaves no scenario archive at all.
    EXPECT_FALSE(arc_open_script("de"));
    EXPECT_EQ(g_arc_script.loaded, 0);
    EXPECT_EQ(g_arc_script.data, nullptr);
}

TEST_F(ArchiveTest, OpenScriptRefusesCodesThatDoNotFitTheFileName)
{
    const std::string code(60, 'x');
    // What a cut "script_<code>.dat" would name: 63 characters, no extension.
    write_file(dir.file("script_" + code.substr(0, 56)), marked_archive("cut"));
    write_file(dir.file("script_" + code.substr(0, 52) + ".dat"), marked_archive("fits"));
    dir.enter();
    EXPECT_FALSE(arc_open_script(code.c_str()));
    EXPECT_EQ(g_arc_script.loaded, 0);
    EXPECT_TRUE(arc_open_script(code.substr(0, 52).c_str()));
    EXPECT_EQ(mark_of(&g_arc_script), "fits");
}

TEST_F(ArchiveTest, DefaultScriptPresenceNeedsANonEmptyFile)
{
    write_file(dir.file("dat/script.dat"), {});
    std::filesystem::create_directories(dir.file("script.dat"));
    dir.enter();
    EXPECT_FALSE(arc_default_script_present());
    // Any content counts; the archive itself is not checked here.
    write_file(dir.file("assets/script.dat"), text("x"));
    EXPECT_TRUE(arc_default_script_present());
}

}  // namespace
