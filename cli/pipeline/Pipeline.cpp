#include "cli/pipeline/Pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/ExitCodes.h"
#include "cli/pipeline/Interrupt.h"

namespace kcli {
namespace {

constexpr std::size_t NONE = std::numeric_limits<std::size_t>::max();

// How long an idle worker sleeps before looking at the signals again.
constexpr std::chrono::milliseconds SIGNAL_POLL{50};

enum class Stage { Reading, Read, Keying, Keyed, Writing };

struct Slot {
    Stage stage = Stage::Reading;
    HostImage image;
};

enum class Job { None, Read, Key, Write };

// One run's shared state. Everything below the mutex is guarded by it; a
// slot's image belongs to the worker whose job holds the slot (Reading,
// Keying, Writing) and is touched by it alone, outside the lock, which the
// map's stable nodes allow.
class Run {
public:
    Run(FrameSource& source, FrameSink& sink, const std::vector<int>& frames,
        const KeyFunction& key, const PipelineSettings& settings, const FrameWritten& written)
        : source_(source),
          sink_(sink),
          frames_(frames),
          key_(key),
          settings_(settings),
          written_(written),
          sourceConcurrent_(source.concurrent()),
          sinkConcurrent_(sink.concurrent()),
          info_(source.info()) {}

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            std::size_t index = NONE;
            Job job = Job::None;
            try {
                watchSignals();
                dropDiscarded();
                job = pick(index);
            } catch (...) {
                fail(0, std::current_exception());
            }
            if (job == Job::None) {
                if (done()) {
                    changed_.notify_all();
                    return;
                }
                changed_.wait_for(lock, SIGNAL_POLL);
                continue;
            }
            Slot& slot = slots_.at(index);
            lock.unlock();
            std::exception_ptr error;
            try {
                perform(job, index, slot);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            finishJob(job, index, slot, error);
            changed_.notify_all();
        }
    }

    PipelineResult result() const {
        if (error_) std::rethrow_exception(error_);
        PipelineResult r;
        r.written = writtenCount_;
        r.signal = writtenCount_ < static_cast<int>(frames_.size()) ? signal_ : 0;
        return r;
    }

private:
    void perform(Job job, std::size_t index, Slot& slot) {
        const int frame = frames_[index];
        switch (job) {
            case Job::Read: {
                slot.image = source_.read(frame, settings_.depth);
                if (slot.image.width != info_.width || slot.image.height != info_.height)
                    throw Failure(
                        EXIT_BAD_INPUT,
                        source_.name(frame) + ": " + std::to_string(slot.image.width) + "x" +
                            std::to_string(slot.image.height) + " differs from the sequence's " +
                            std::to_string(info_.width) + "x" + std::to_string(info_.height));
                break;
            }
            case Job::Key: try { slot.image = key_(std::move(slot.image), frame);
                } catch (const Failure& f) {
                    // The keyer names the plug-in; the user also needs the frame.
                    throw Failure(f.code(), source_.name(frame) + ": " + f.what());
                }
                break;
            case Job::Write:
                sink_.write(frame, slot.image);
                // The frame's memory goes back before the next is read.
                slot.image = HostImage();
                if (written_) written_(frame);
                break;
            case Job::None: break;
        }
    }

    void finishJob(Job job, std::size_t index, Slot& slot, const std::exception_ptr& error) {
        if (job == Job::Read) reading_ = false;
        if (job == Job::Key) --keying_;
        if (job == Job::Write) {
            writing_ = false;
            if (!error) {
                ++writtenCount_;
                nextWrite_ = index + 1;
            }
        }
        if (error) {
            slots_.erase(index);
            fail(index, error);
            return;
        }
        switch (job) {
            case Job::Read: slot.stage = Stage::Read; break;
            case Job::Key: slot.stage = Stage::Keyed; break;
            default: slots_.erase(index); break;
        }
    }

    // The earliest frame's failure is the one reported, whatever order the
    // workers met them in, so the message does not depend on the timing.
    void fail(std::size_t index, std::exception_ptr error) {
        if (index < failed_) {
            failed_ = index;
            error_ = std::move(error);
        }
    }

    void watchSignals() {
        if (!signal_) signal_ = InterruptWatch::signal();
        if (InterruptWatch::count() >= 2) dropAll_ = true;
    }

    bool stopping() const { return signal_ != 0 || failed_ != NONE; }

    // Frames after a failure are not needed; after a second signal none are.
    // A frame in the middle of a job is left to finish it.
    void dropDiscarded() {
        for (auto it = slots_.begin(); it != slots_.end();) {
            const bool idle = it->second.stage == Stage::Read || it->second.stage == Stage::Keyed;
            if (idle && (dropAll_ || (failed_ != NONE && it->first > failed_)))
                it = slots_.erase(it);
            else
                ++it;
        }
    }

    // Writing first frees memory soonest; keying before reading keeps the
    // frames in flight moving toward the sink.
    Job pick(std::size_t& index) {
        if (sinkConcurrent_) {
            for (auto& [i, slot] : slots_)
                if (slot.stage == Stage::Keyed) return claim(Job::Write, i, slot, index);
        } else if (!writing_) {
            auto it = slots_.find(nextWrite_);
            if (it != slots_.end() && it->second.stage == Stage::Keyed) {
                writing_ = true;
                return claim(Job::Write, it->first, it->second, index);
            }
        }
        if (keying_ < settings_.keysAtOnce)
            for (auto& [i, slot] : slots_)
                if (slot.stage == Stage::Read) {
                    ++keying_;
                    return claim(Job::Key, i, slot, index);
                }
        if (!stopping() && nextRead_ < frames_.size() &&
            slots_.size() < static_cast<std::size_t>(settings_.framesInFlight) &&
            (sourceConcurrent_ || !reading_)) {
            reading_ = true;
            index = nextRead_++;
            slots_[index].stage = Stage::Reading;
            return Job::Read;
        }
        return Job::None;
    }

    static Job claim(Job job, std::size_t i, Slot& slot, std::size_t& index) {
        index = i;
        slot.stage = job == Job::Write ? Stage::Writing : Stage::Keying;
        return job;
    }

    bool done() const { return slots_.empty() && (stopping() || nextRead_ == frames_.size()); }

    FrameSource& source_;
    FrameSink& sink_;
    const std::vector<int>& frames_;
    const KeyFunction& key_;
    const PipelineSettings& settings_;
    const FrameWritten& written_;
    const bool sourceConcurrent_;
    const bool sinkConcurrent_;
    const FileInfo info_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::size_t, Slot> slots_;  // by position in frames_
    std::size_t nextRead_ = 0;
    std::size_t nextWrite_ = 0;  // for a sink that takes frames in order
    bool reading_ = false;
    bool writing_ = false;
    int keying_ = 0;
    int writtenCount_ = 0;
    int signal_ = 0;
    bool dropAll_ = false;
    std::size_t failed_ = NONE;
    std::exception_ptr error_;
};

}  // namespace

PipelineResult runPipeline(FrameSource& source, FrameSink& sink, const std::vector<int>& frames,
                           const KeyFunction& key, const PipelineSettings& settings,
                           const FrameWritten& written) {
    PipelineSettings s = settings;
    s.workers = std::max(1, s.workers);
    s.framesInFlight = std::max(1, s.framesInFlight);
    s.keysAtOnce = std::max(1, s.keysAtOnce);
    Run run(source, sink, frames, key, s, written);
    PipelineResult result;
    try {
        std::vector<std::thread> pool;
        struct Join {
            std::vector<std::thread>& pool;
            ~Join() {
                for (std::thread& t : pool)
                    if (t.joinable()) t.join();
            }
        } join{pool};
        try {
            for (int i = 1; i < s.workers; ++i) pool.emplace_back([&run] { run.work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked still finish the run.
        }
        run.work();
        for (std::thread& t : pool) t.join();
        result = run.result();
    } catch (...) {
        sink.abort();
        throw;
    }
    if (result.signal) {
        sink.abort();
        return result;
    }
    try {
        sink.finish();
    } catch (...) {
        sink.abort();
        throw;
    }
    return result;
}

}  // namespace kcli
