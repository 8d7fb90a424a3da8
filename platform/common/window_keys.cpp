#include "platform/common/window_keys.h"

#include <deque>
#include <mutex>

namespace {

struct window_key {
    int code;
    int extended;
    uint64_t mark;  // console input typed before this key
};

std::mutex keys_lock;
std::deque<window_key> keys;  // guarded by keys_lock, oldest first

// A user who holds a key down in a window nobody reads from fills no more than this.
constexpr size_t max_keys = 256;

}  // namespace

void window_key_typed(int code, int extended)
{
    const uint64_t mark = console_input_mark();
    std::lock_guard<std::mutex> lock(keys_lock);
    if (keys.size() < max_keys)
        keys.push_back({code, extended, mark});
}

bool take_window_key(uint64_t next_console_key, int* code, int* extended)
{
    std::lock_guard<std::mutex> lock(keys_lock);
    if (keys.empty() || keys.front().mark > next_console_key)
        return false;
    *code = keys.front().code;
    *extended = keys.front().extended;
    keys.pop_front();
    return true;
}

bool window_key_waiting()
{
    std::lock_guard<std::mutex> lock(keys_lock);
    return !keys.empty();
}
