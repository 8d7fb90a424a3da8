#include "platform/linux/avi/picture_converter.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

struct picture_converter {
    picture_work work = nullptr;
    void* owner = nullptr;
    dib_converter converter;  // the thread's own

    std::mutex lock;
    std::condition_variable changed;
    // Under `lock`: one picture waiting to be taken up, and whether one is being converted.
    AVFrame* waiting = nullptr;
    picture_job waiting_job;
    bool has_waiting = false;
    bool busy = false;
    bool stop = false;

    std::thread thread;
};

namespace {

void converter_main(picture_converter* p)
{
    AVFrame* frame = av_frame_alloc();
    std::unique_lock<std::mutex> held(p->lock);
    for (;;) {
        p->changed.wait(held, [p] { return p->has_waiting || p->stop; });
        if (!p->has_waiting)
            break;
        av_frame_move_ref(frame, p->waiting);
        const picture_job job = p->waiting_job;
        p->has_waiting = false;
        p->busy = true;
        p->changed.notify_all();  // the decoder may hand over the next one
        held.unlock();
        p->work(p->owner, &p->converter, frame, job);
        av_frame_unref(frame);
        held.lock();
        p->busy = false;
        p->changed.notify_all();
    }
    held.unlock();
    av_frame_free(&frame);
}

}  // namespace

picture_converter* picture_converter_start(picture_work work, void* owner)
{
    picture_converter* p = new (std::nothrow) picture_converter;
    if (!p)
        return nullptr;
    p->work = work;
    p->owner = owner;
    p->waiting = av_frame_alloc();
    if (!p->waiting) {
        delete p;
        return nullptr;
    }
    try {
        p->thread = std::thread(converter_main, p);
    } catch (const std::exception&) {
        av_frame_free(&p->waiting);
        delete p;
        return nullptr;
    }
    return p;
}

bool picture_converter_put(picture_converter* p, const AVFrame* frame, const picture_job& job)
{
    std::unique_lock<std::mutex> held(p->lock);
    p->changed.wait(held, [p] { return !p->has_waiting; });
    if (av_frame_ref(p->waiting, frame) < 0)
        return false;
    p->waiting_job = job;
    p->has_waiting = true;
    p->changed.notify_all();
    return true;
}

void picture_converter_drain(picture_converter* p)
{
    std::unique_lock<std::mutex> held(p->lock);
    p->changed.wait(held, [p] { return !p->has_waiting && !p->busy; });
}

void picture_converter_stop(picture_converter* p)
{
    if (!p)
        return;
    {
        std::lock_guard<std::mutex> held(p->lock);
        p->stop = true;
        p->changed.notify_all();
    }
    p->thread.join();
    av_frame_free(&p->waiting);
    dib_converter_free(&p->converter);
    delete p;
}
