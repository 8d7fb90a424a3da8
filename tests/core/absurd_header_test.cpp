// Stream descriptions no sane file has: the report shows them, 32-bit arithmetic wraps as the
// stored numbers do, and playback still runs to "quit?".
#include "core/playback_fixture.h"

namespace {

using absurd_header = playback_test;

TEST_F(absurd_header, extreme_rectangles_wrap_instead_of_overflowing)
{
    struct rect_case {
        avi_rect frame;
        const char* size_line;
        const char* cnt_line;
    };
    const rect_case cases[] = {
        {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, "h = -1 w = -1\n", "cnt = 168\n"},
        {{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}, "h = 1 w = 1\n", "cnt = 168\n"},
        {{0, 0, -320, -240}, "h = -240 w = -320\n", "cnt = 307364\n"},
        {{-32768, -32768, 32767, 32767}, "h = 65535 w = 65535\n", "cnt = -524120\n"},
    };
    for (const rect_case& c : cases) {
        reset_fake();
        clip(2);
        fake.streams[0].info.frame = c.frame;
        modes('n');
        const std::string out = play();
        EXPECT_NE(out.find(c.size_line), std::string::npos) << out;
        EXPECT_NE(out.find(c.cnt_line), std::string::npos) << out;
        EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1}));
        close_display();
    }
}

TEST_F(absurd_header, header_numbers_beyond_int32_print_as_stored_bits)
{
    clip(0);
    fake.streams[0].info.scale = 0xffffffffu;
    fake.streams[0].info.rate = 0;
    fake.streams[1].info.length = 0xffffffffu;
    modes('n');
    const std::string out = play();
    EXPECT_NE(out.find("vi_S=-1 vi_R=0 vi_length=0 \n"), std::string::npos) << out;
    EXPECT_NE(out.find("au_length=-1 4025273(frame)\n"), std::string::npos) << out;
}

}  // namespace
