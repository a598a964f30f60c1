// stb_image_write's zlib compressor. The library exports it, but its header
// declares it only inside the implementation section, so we declare it here.
#pragma once

extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len,
                                             int quality);
