// Drawing packed DIBs into the window's XRGB image: every depth, both row orders, row padding,
// clipping, and headers that must draw nothing.
#include "platform/linux/window/dib_blit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t marker = 0x00123456;

bitmap_info_header header_for(int32_t width, int32_t height, int bits)
{
    bitmap_info_header header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = uint16_t(bits);
    return header;
}

// The colour every test picture has at (x, y), counted from the top row.
uint32_t colour_at(int x, int y)
{
    return uint32_t((x * 40 + 8) & 0xF8) << 16 | uint32_t((y * 24 + 16) & 0xF8) << 8 |
           uint32_t((x * 8 + y * 16) & 0xF8);
}

// Stores the test picture as a DIB of `bits` per pixel; padding bytes are filled with 0xEE so
// that reading them shows up as a wrong colour.
std::vector<unsigned char> make_rows(int width, int height, int bits, bool bottom_up)
{
    int64_t row_bytes = dib_row_bytes(width, bits);
    std::vector<unsigned char> rows(size_t(row_bytes * height), 0xEE);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = rows.data() + (bottom_up ? height - 1 - y : y) * row_bytes;
        for (int x = 0; x < width; ++x) {
            uint32_t c = colour_at(x, y);
            uint32_t r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
            if (bits == 16) {
                uint16_t v = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
                row[x * 2] = uint8_t(v);
                row[x * 2 + 1] = uint8_t(v >> 8);
            } else {
                int step = bits / 8;
                row[x * step] = uint8_t(b);
                row[x * step + 1] = uint8_t(g);
                row[x * step + 2] = uint8_t(r);
                if (step == 4)
                    row[x * step + 3] = 0xAB;  // the unused byte never reaches the image
            }
        }
    }
    return rows;
}

// A 5-bit channel widened back to 8 bits the way the blitter does it.
uint32_t widened(uint32_t c)
{
    auto w = [](uint32_t v) { return (v & 0xF8) | (v & 0xF8) >> 5; };
    return w(c >> 16 & 0xFF) << 16 | w(c >> 8 & 0xFF) << 8 | w(c & 0xFF);
}

struct image {
    int width, height;
    std::vector<uint32_t> pixels;
    image(int w, int h) : width(w), height(h), pixels(size_t(w) * h, marker) {}
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

void expect_picture(const image& img, int width, int height, int bits)
{
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            uint32_t want = marker;
            if (x < width && y < height)
                want = bits == 16 ? widened(colour_at(x, y)) : colour_at(x, y);
            ASSERT_EQ(img.at(x, y), want) << "at " << x << "," << y << " bits " << bits;
        }
    }
}

}  // namespace

TEST(DibBlit, EveryDepthInBothRowOrdersWithOddWidths)
{
    for (int bits : {16, 24, 32}) {
        for (bool bottom_up : {true, false}) {
            for (int width : {1, 3, 5, 7}) {
                const int height = 3;
                auto rows = make_rows(width, height, bits, bottom_up);
                auto header = header_for(width, bottom_up ? height : -height, bits);
                image img(width, height);
                ASSERT_TRUE(dib_blit(header, rows.data(), img.pixels.data(), width, height));
                expect_picture(img, width, height, bits);
            }
        }
    }
}

TEST(DibBlit, SixteenBitChannelsReachFullIntensity)
{
    const uint16_t values[] = {0x7FFF, 0x7C00, 0x03E0, 0x001F};
    const uint32_t expected[] = {0x00FFFFFF, 0x00FF0000, 0x0000FF00, 0x000000FF};
    unsigned char rows[8];
    std::memcpy(rows, values, sizeof(rows));  // little-endian, as stored in a DIB
    auto header = header_for(4, -1, 16);
    image img(4, 1);
    ASSERT_TRUE(dib_blit(header, rows, img.pixels.data(), 4, 1));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(img.at(x, 0), expected[x]);
}

TEST(DibBlit, SmallerFrameLeavesTheRestLargerFrameIsClipped)
{
    for (int bits : {16, 24, 32}) {
        // A 3 x 2 picture in a 6 x 5 image covers only the top-left corner.
        auto small = make_rows(3, 2, bits, true);
        image big_img(6, 5);
        ASSERT_TRUE(dib_blit(header_for(3, 2, bits), small.data(), big_img.pixels.data(), 6, 5));
        expect_picture(big_img, 3, 2, bits);

        // A 9 x 7 picture in a 4 x 3 image shows its top-left 4 x 3, in both row orders.
        for (bool bottom_up : {true, false}) {
            auto large = make_rows(9, 7, bits, bottom_up);
            image small_img(4, 3);
            ASSERT_TRUE(dib_blit(header_for(9, bottom_up ? 7 : -7, bits), large.data(),
                                 small_img.pixels.data(), 4, 3));
            expect_picture(small_img, 4, 3, bits);
        }
    }
}

TEST(DibBlit, UndrawableHeadersDrawNothing)
{
    std::vector<unsigned char> rows(4096, 0x55);
    auto expect_nothing = [&](const bitmap_info_header& header) {
        image img(4, 4);
        EXPECT_FALSE(dib_blit(header, rows.data(), img.pixels.data(), 4, 4));
        EXPECT_LT(dib_pixel_bytes(header), 0);
        expect_picture(img, 0, 0, 32);
    };
    for (int bits : {0, 1, 4, 8, 15, 48})
        expect_nothing(header_for(4, 4, bits));
    auto compressed = header_for(4, 4, 32);
    compressed.biCompression = 3;  // bit fields: the masks are not part of the frame
    expect_nothing(compressed);
    expect_nothing(header_for(0, 4, 24));
    expect_nothing(header_for(-4, 4, 24));
    expect_nothing(header_for(4, 0, 24));
    expect_nothing(header_for(int32_t(dib_max_side + 1), 1, 24));
    expect_nothing(header_for(1, INT32_MIN, 24));
    expect_nothing(header_for(INT32_MAX, INT32_MAX, 32));
    expect_nothing(header_for(int32_t(dib_max_side), int32_t(dib_max_side), 32));  // 16 GiB
    auto short_buffer = header_for(4, 4, 24);
    short_buffer.biSizeImage = 47;  // four rows of 12 bytes need 48
    expect_nothing(short_buffer);

    // A stated size that covers the rows is accepted, as is none at all.
    short_buffer.biSizeImage = 48;
    EXPECT_EQ(dib_pixel_bytes(short_buffer), 48);
    EXPECT_EQ(dib_pixel_bytes(header_for(5, -3, 16)), 36);

    image img(4, 4);
    EXPECT_FALSE(dib_blit(header_for(4, 4, 24), nullptr, img.pixels.data(), 4, 4));
}
