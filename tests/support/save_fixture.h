// A scratch save folder for the save tests, and save files built by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "test_support.h"

// Points the save folder at a fresh scratch folder and clears the language
// and HD settings that go into the file names.
class SaveFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The file of slot 0..31 under the current settings.
    std::string slot_path(uint32_t slot) const;

    ScratchDir scratch;
};

// The fields of a save file's head that the tests vary.
struct SaveFileSpec {
    const char* magic = "KVR\x1A";
    uint32_t version = 2;
    uint32_t segment = 0;
    uint32_t time = 0;
    Bytes png;
    size_t stream_padding = 0;  // zero bytes after the zlib stream, counted in packed_length
    int zlib_level = -1;        // 0 to 9: the stream made by zlib at that level, not by the engine's compressor
};

// A whole save file: the head of spec, then raw_length, the body compressed
// as a zlib stream, and its length.
Bytes build_save_file(const SaveFileSpec& spec, const Bytes& body);

// Only the 16-byte header and the thumbnail block of spec.
Bytes build_save_head(const SaveFileSpec& spec);
