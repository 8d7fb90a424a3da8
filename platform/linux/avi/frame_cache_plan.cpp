#include "platform/linux/avi/frame_cache_plan.h"

#include <algorithm>
#include <cmath>

namespace {

// A clip without an index tells nothing of its groups: the longest a common encoder makes.
constexpr int64_t unknown_group = 250;
// The shown picture and the one being taken in beside the frames kept.
constexpr int64_t in_hand = 2;
constexpr int64_t most_read_ahead = 8;
constexpr int64_t least_read_ahead = 3;

int64_t group_of(const stepping_pace& pace)
{
    return pace.longest_group > 0 ? pace.longest_group : unknown_group;
}

}  // namespace

int64_t frames_to_keep_behind(const stepping_pace& pace)
{
    if (pace.decode_ms <= 0)
        return frame_cache_untimed_pictures;
    const double step = std::max(pace.step_ms, 1.0);
    const double frames = double(group_of(pace)) * pace.decode_ms / (step + pace.decode_ms);
    return std::min(group_of(pace), int64_t(std::ceil(frames)));
}

int64_t playing_pictures(const stepping_pace& pace)
{
    if (pace.decode_ms <= 0)
        return frame_cache_untimed_pictures;
    return std::max(frame_cache_least_pictures,
                    frames_to_keep_behind(pace) + pace.ahead + in_hand);
}

int64_t stepping_pictures(const stepping_pace& pace)
{
    const int64_t whole = group_of(pace) + pace.ahead + in_hand;
    const int64_t wanted = 2 * frames_to_keep_behind(pace) + in_hand;
    return std::max(playing_pictures(pace), std::min(wanted, whole));
}

int64_t frames_to_read_ahead(double decode_ms, double slice_ms)
{
    if (decode_ms <= 0 || slice_ms <= 0)
        return most_read_ahead;
    const auto frames = int64_t(std::ceil(double(most_read_ahead) * decode_ms / slice_ms));
    return std::clamp(frames, least_read_ahead, most_read_ahead);
}

int64_t budget_for_pictures(int64_t pictures, int64_t picture_bytes)
{
    return std::max(frame_cache_least_budget,
                    std::max<int64_t>(pictures, 0) * std::max<int64_t>(picture_bytes, 0));
}

int64_t frames_worth_filling(int64_t decoded, double decode_ms, double step_ms,
                             double convert_ms)
{
    const double passed = double(decoded) * decode_ms;
    const double spare = std::max(step_ms - convert_ms, step_ms / 4);
    return spare > 0 ? int64_t(passed / spare) + 1 : 1;
}

fill_range fill_behind_range(int64_t index, int64_t cached_behind, int64_t keep, int64_t first,
                             int64_t worth)
{
    const int64_t to = index - cached_behind - 1;  // the frame before the cached run
    if (to < 0 || cached_behind >= keep || first > to)
        return {};
    const int64_t reachable = to - first + 1;
    const int64_t batch = std::min(keep - cached_behind, reachable);
    if (batch < std::min({worth, reachable, keep / 2}))
        return {};
    return {to - batch + 1, to};
}
