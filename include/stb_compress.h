// stb_image_write's zlib compressor and in-memory PNG encoder. The library
// exports both, but its header declares them only inside the implementation
// section, so we declare them here. Both return a malloc'd buffer or null.
#pragma once

extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len,
                                             int quality);

extern "C" unsigned char* stbi_write_png_to_mem(const unsigned char* pixels, int stride_bytes,
                                                int x, int y, int n, int* out_len);
