#include "platform/linux/console/key_decode.h"

namespace {

constexpr unsigned char esc = 0x1b;

struct key_codes {
    int code;
    int extended;
};

constexpr key_codes unknown_key = {27, 0};

constexpr key_codes ext0(int extended)
{
    return {0, extended};
}
constexpr key_codes ext224(int extended)
{
    return {224, extended};
}

constexpr key_codes up = ext224(72), down = ext224(80), left = ext224(75), right = ext224(77);
constexpr key_codes home = ext224(71), end = ext224(79), page_up = ext224(73);
constexpr key_codes page_down = ext224(81), insert = ext224(82), del = ext224(83);

// F1..F10 are 0 and 59..68; F11 and F12 are 224 and 133, 134.
constexpr key_codes function_key(int n)
{
    return n <= 10 ? ext0(58 + n) : ext224(122 + n);
}

// Keys named by the final letter of "ESC [ letter", "ESC [ 1 ; mod letter" and "ESC O letter".
bool letter_key(unsigned char letter, key_codes* key)
{
    switch (letter) {
    case 'A': *key = up; return true;
    case 'B': *key = down; return true;
    case 'C': *key = right; return true;
    case 'D': *key = left; return true;
    case 'H': *key = home; return true;
    case 'F': *key = end; return true;
    case 'P': *key = function_key(1); return true;
    case 'Q': *key = function_key(2); return true;
    case 'R': *key = function_key(3); return true;
    case 'S': *key = function_key(4); return true;
    case 'Z': *key = ext0(15); return true;  // Shift+Tab
    default: return false;
    }
}

// Keys named by the number of "ESC [ number ~" (xterm, the Linux console, rxvt).
bool tilde_key(int number, key_codes* key)
{
    switch (number) {
    case 1: case 7: *key = home; return true;
    case 2: *key = insert; return true;
    case 3: *key = del; return true;
    case 4: case 8: *key = end; return true;
    case 5: *key = page_up; return true;
    case 6: *key = page_down; return true;
    case 11: case 12: case 13: case 14: case 15: *key = function_key(number - 10); return true;
    case 17: case 18: case 19: case 20: case 21: *key = function_key(number - 11); return true;
    case 23: case 24: *key = function_key(number - 12); return true;
    default: return false;
    }
}

// The keypad in application mode sends "ESC O letter" for its characters.
bool keypad_key(unsigned char letter, key_codes* key)
{
    static constexpr char keypad_chars[] = "*+,-./0123456789";  // for 'j'..'y'
    if (letter == 'M')
        *key = {13, 0};
    else if (letter == 'X')
        *key = {'=', 0};
    else if (letter >= 'j' && letter <= 'y')
        *key = {keypad_chars[letter - 'j'], 0};
    else
        return false;
    return true;
}

key_decode_result found(key_codes key, size_t length, int* code, int* extended, size_t* used)
{
    *code = key.code;
    *extended = key.extended;
    *used = length;
    return key_decode_result::key;
}

// ESC [ parameters intermediates final. bytes[0..1] are "ESC [".
key_decode_result decode_csi(const unsigned char* bytes, size_t count, bool complete, int* code,
                             int* extended, size_t* used)
{
    if (count == 2)
        return complete ? found({'[', 0}, 2, code, extended, used)  // Alt+[
                        : key_decode_result::need_more;
    // The Linux console's F1..F5: ESC [ [ A..E.
    if (bytes[2] == '[') {
        if (count == 3)
            return complete ? found(unknown_key, 3, code, extended, used)
                            : key_decode_result::need_more;
        if (bytes[3] >= 'A' && bytes[3] <= 'E')
            return found(function_key(bytes[3] - 'A' + 1), 4, code, extended, used);
        return found(unknown_key, bytes[3] >= 0x40 && bytes[3] <= 0x7e ? 4 : 3, code, extended,
                     used);
    }

    size_t i = 2;
    while (i < count && bytes[i] >= 0x30 && bytes[i] <= 0x3f)
        i++;
    const size_t parameters_end = i;
    while (i < count && bytes[i] >= 0x20 && bytes[i] <= 0x2f)
        i++;
    if (i == count)
        return complete ? found(unknown_key, count, code, extended, used)
                        : key_decode_result::need_more;
    if (bytes[i] < 0x40 || bytes[i] > 0x7e)  // broken off by a byte that no sequence holds
        return found(unknown_key, i, code, extended, used);
    const size_t length = i + 1;
    if (parameters_end != i)  // intermediates: no key uses them
        return found(unknown_key, length, code, extended, used);

    // The first parameter names the key; a second one only adds modifiers, which are ignored.
    int number = -1;
    size_t p = 2;
    for (; p < parameters_end && bytes[p] >= '0' && bytes[p] <= '9'; p++)
        number = (number < 0 ? 0 : number * 10) + (bytes[p] - '0');
    if (p < parameters_end && bytes[p] != ';')  // private markers: reports, not keys
        return found(unknown_key, length, code, extended, used);

    key_codes key = unknown_key;
    const unsigned char final = bytes[i];
    if (final == '~') {
        if (!tilde_key(number, &key))
            key = unknown_key;
    } else if (number > 1 || !letter_key(final, &key)) {
        key = unknown_key;
    }
    return found(key, length, code, extended, used);
}

// ESC O [modifier digits] final. bytes[0..1] are "ESC O".
key_decode_result decode_ss3(const unsigned char* bytes, size_t count, bool complete, int* code,
                             int* extended, size_t* used)
{
    if (count == 2)
        return complete ? found({'O', 0}, 2, code, extended, used)  // Alt+O
                        : key_decode_result::need_more;
    size_t i = 2;
    while (i < count && ((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';'))
        i++;
    if (i == count)
        return complete ? found(unknown_key, count, code, extended, used)
                        : key_decode_result::need_more;
    if (bytes[i] < 0x40 || bytes[i] > 0x7e)
        return found(unknown_key, i, code, extended, used);
    key_codes key = unknown_key;
    if (!letter_key(bytes[i], &key) && !keypad_key(bytes[i], &key))
        key = unknown_key;
    return found(key, i + 1, code, extended, used);
}

// A character that does not start with ESC.
key_decode_result decode_plain(const unsigned char* bytes, size_t count, bool complete, int* code,
                               int* extended, size_t* used)
{
    const unsigned char lead = bytes[0];
    if (lead == 0)  // Ctrl+@ / Ctrl+Space: the Windows console gives 0, 3
        return found(ext0(3), 1, code, extended, used);
    if (lead == 0x7f)  // Backspace: the Windows console gives 8
        return found({8, 0}, 1, code, extended, used);
    if (lead < 0x80)
        return found({lead, 0}, 1, code, extended, used);

    size_t length = 1;  // stray continuation bytes and bytes that never lead stand alone
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2;
    else if (lead >= 0xe0 && lead <= 0xef)
        length = 3;
    else if (lead >= 0xf0 && lead <= 0xf4)
        length = 4;
    for (size_t i = 1; i < length; i++) {
        if (i == count)
            return complete ? found({'?', 0}, i, code, extended, used)
                            : key_decode_result::need_more;
        if ((bytes[i] & 0xc0) != 0x80)  // cut short: the next byte starts a key of its own
            return found({'?', 0}, i, code, extended, used);
    }
    return found({'?', 0}, length, code, extended, used);
}

}  // namespace

key_decode_result decode_key(const unsigned char* bytes, size_t count, bool complete, int* code,
                             int* extended, size_t* used)
{
    if (count == 0)
        return key_decode_result::need_more;
    if (bytes[0] != esc)
        return decode_plain(bytes, count, complete, code, extended, used);
    if (count == 1)
        return complete ? found({27, 0}, 1, code, extended, used) : key_decode_result::need_more;
    if (bytes[1] == '[')
        return decode_csi(bytes, count, complete, code, extended, used);
    if (bytes[1] == 'O')
        return decode_ss3(bytes, count, complete, code, extended, used);
    if (bytes[1] == esc)  // the first Escape stands alone; the second starts the next key
        return found({27, 0}, 1, code, extended, used);
    // Alt+key: the key itself.
    const key_decode_result rest =
        decode_plain(bytes + 1, count - 1, complete, code, extended, used);
    if (rest == key_decode_result::key)
        (*used)++;
    return rest;
}
