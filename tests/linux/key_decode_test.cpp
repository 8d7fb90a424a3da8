// Terminal bytes to Windows console key codes: every sequence the terminals send, sequences cut
// across reads, Escape alone, unknown sequences, control keys and UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/console/key_decode.h"

namespace {

struct decoded {
    key_decode_result result;
    int code = -1;
    int extended = -1;
    size_t used = 0;
};

decoded decode(const std::string& bytes, bool complete = false)
{
    decoded d;
    d.result = decode_key(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                          complete, &d.code, &d.extended, &d.used);
    return d;
}

struct sequence_case {
    std::string bytes;
    int code;
    int extended;
};

// Each sequence decodes whole to its key, and leaves a key typed after it alone.
void expect_keys(const std::vector<sequence_case>& cases)
{
    for (const sequence_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const decoded d = decode(c.bytes + "x");
        ASSERT_EQ(d.result, key_decode_result::key);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.extended, c.extended);
        EXPECT_EQ(d.used, c.bytes.size());
    }
}

const std::vector<sequence_case> navigation_keys = {
    {"\x1b[A", 224, 72},  {"\x1b[B", 224, 80},  {"\x1b[C", 224, 77},  {"\x1b[D", 224, 75},
    {"\x1b[H", 224, 71},  {"\x1b[F", 224, 79},  {"\x1bOA", 224, 72},  {"\x1bOB", 224, 80},
    {"\x1bOC", 224, 77},  {"\x1bOD", 224, 75},  {"\x1bOH", 224, 71},  {"\x1bOF", 224, 79},
    {"\x1b[1~", 224, 71}, {"\x1b[7~", 224, 71}, {"\x1b[4~", 224, 79}, {"\x1b[8~", 224, 79},
    {"\x1b[5~", 224, 73}, {"\x1b[6~", 224, 81}, {"\x1b[2~", 224, 82}, {"\x1b[3~", 224, 83},
};

const std::vector<sequence_case> function_keys = {
    {"\x1bOP", 0, 59},     {"\x1bOQ", 0, 60},      {"\x1bOR", 0, 61},      {"\x1bOS", 0, 62},
    {"\x1b[11~", 0, 59},   {"\x1b[12~", 0, 60},    {"\x1b[13~", 0, 61},    {"\x1b[14~", 0, 62},
    {"\x1b[15~", 0, 63},   {"\x1b[17~", 0, 64},    {"\x1b[18~", 0, 65},    {"\x1b[19~", 0, 66},
    {"\x1b[20~", 0, 67},   {"\x1b[21~", 0, 68},    {"\x1b[23~", 224, 133}, {"\x1b[24~", 224, 134},
    {"\x1b[[A", 0, 59},    {"\x1b[[E", 0, 63},     {"\x1b[Z", 0, 15},
};

const std::vector<sequence_case> modified_keys = {
    {"\x1b[1;5A", 224, 72},  {"\x1b[1;2D", 224, 75},  {"\x1b[1;3H", 224, 71},
    {"\x1b[5;5~", 224, 73},  {"\x1b[3;2~", 224, 83},  {"\x1b[1;2P", 0, 59},
    {"\x1b[15;5~", 0, 63},   {"\x1b[24;2~", 224, 134}, {"\x1bO2P", 0, 59},
    {"\x1bO5A", 224, 72},
};

TEST(KeyDecode, NavigationKeysInCsiSs3AndTildeForms)
{
    expect_keys(navigation_keys);
}

TEST(KeyDecode, FunctionKeys)
{
    expect_keys(function_keys);
}

TEST(KeyDecode, ModifiersGiveTheSameKey)
{
    expect_keys(modified_keys);
}

TEST(KeyDecode, PlainAndControlKeys)
{
    expect_keys({
        {"a", 'a', 0},  {"N", 'N', 0},    {"\r", 13, 0},  {"\n", 10, 0}, {"\t", 9, 0},
        {"\x7f", 8, 0}, {"\x08", 8, 0},   {"\x03", 3, 0}, {"\x13", 19, 0}, {"\x11", 17, 0},
        {"\x1a", 26, 0}, {std::string(1, '\0'), 0, 3},
        {"\x1bOM", 13, 0}, {"\x1bOp", '0', 0}, {"\x1bOy", '9', 0}, {"\x1bOk", '+', 0},
    });
}

TEST(KeyDecode, AltKeyGivesTheKeyItself)
{
    expect_keys({{"\x1bx", 'x', 0}, {"\x1b\x7f", 8, 0}, {"\x1b\r", 13, 0}, {"\x1b\xc3\xa9", '?', 0}});
    // Alt+[ and Alt+O look like the start of a sequence until nothing follows.
    EXPECT_EQ(decode("\x1b[").result, key_decode_result::need_more);
    const decoded bracket = decode("\x1b[", true);
    EXPECT_EQ(bracket.code, '[');
    EXPECT_EQ(bracket.used, 2u);
    EXPECT_EQ(decode("\x1bO", true).code, 'O');
}

TEST(KeyDecode, LoneEscapeWaitsForWhatFollows)
{
    EXPECT_EQ(decode("").result, key_decode_result::need_more);
    EXPECT_EQ(decode("", true).result, key_decode_result::need_more);
    EXPECT_EQ(decode("\x1b").result, key_decode_result::need_more);
    const decoded lone = decode("\x1b", true);
    ASSERT_EQ(lone.result, key_decode_result::key);
    EXPECT_EQ(lone.code, 27);
    EXPECT_EQ(lone.extended, 0);
    EXPECT_EQ(lone.used, 1u);
    // Escape typed twice, or before an arrow: the first stands alone.
    const decoded twice = decode("\x1b\x1b[A");
    EXPECT_EQ(twice.code, 27);
    EXPECT_EQ(twice.used, 1u);
}

TEST(KeyDecode, SequenceCutAcrossReadsWaitsForItsRest)
{
    std::vector<sequence_case> all = navigation_keys;
    all.insert(all.end(), function_keys.begin(), function_keys.end());
    all.insert(all.end(), modified_keys.begin(), modified_keys.end());
    all.push_back({"\xe3\x81\x82", '?', 0});
    all.push_back({"\xf0\x9f\x98\x80", '?', 0});
    for (const sequence_case& c : all)
        for (size_t cut = 1; cut < c.bytes.size(); cut++) {
            SCOPED_TRACE(testing::PrintToString(c.bytes) + " cut at " + std::to_string(cut));
            EXPECT_EQ(decode(c.bytes.substr(0, cut)).result, key_decode_result::need_more);
        }
}

TEST(KeyDecode, UnknownSequencesAreTakenWholeAsEscape)
{
    expect_keys({
        {"\x1b[99~", 27, 0},      {"\x1b[~", 27, 0},          {"\x1b[1;5X", 27, 0},
        {"\x1b[5A", 27, 0},       {"\x1b[?1;2c", 27, 0},      {"\x1b[<0;10;20M", 27, 0},
        {"\x1b[1 q", 27, 0},      {"\x1bOz", 27, 0},          {"\x1b[[Z", 27, 0},
        {"\x1b[200~", 27, 0},
    });
    // Cut off by the wait: what arrived is one unknown key.
    const decoded cut = decode("\x1b[12", true);
    EXPECT_EQ(cut.code, 27);
    EXPECT_EQ(cut.used, 4u);
    // Broken by a control byte: that byte is the next key.
    const decoded broken = decode("\x1b[1\x03");
    EXPECT_EQ(broken.code, 27);
    EXPECT_EQ(broken.used, 3u);
    const decoded ss3_broken = decode("\x1bO\r");
    EXPECT_EQ(ss3_broken.code, 27);
    EXPECT_EQ(ss3_broken.used, 2u);
}

TEST(KeyDecode, Utf8CharactersAreTakenWholeAsQuestionMark)
{
    // Lead byte 0xe0 is 224: given out raw it would read as an extended key's prefix.
    expect_keys({{"\xc3\xa9", '?', 0}, {"\xe3\x81\x82", '?', 0}, {"\xe0\xa0\x80", '?', 0},
                 {"\xf0\x9f\x98\x80", '?', 0}});
    // Stray or impossible bytes stand alone; a cut character ends where the next key starts.
    expect_keys({{"\x80", '?', 0}, {"\xff", '?', 0}, {"\xc0", '?', 0}, {"\xe3\x81", '?', 0}});
    const decoded short_at_end = decode("\xe3\x81", true);
    EXPECT_EQ(short_at_end.code, '?');
    EXPECT_EQ(short_at_end.used, 2u);
}

}  // namespace
