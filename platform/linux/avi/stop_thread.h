// Ending the AVI service's private threads, which all wait on one condition for work or a stop.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Raises `stop` under `lock`, wakes the thread waiting on `changed` and waits until it has ended.
inline void stop_thread(std::mutex& lock, std::condition_variable& changed, bool& stop,
                        std::thread& thread)
{
    {
        std::lock_guard<std::mutex> held(lock);
        stop = true;
        changed.notify_all();
    }
    if (thread.joinable())
        thread.join();
}
