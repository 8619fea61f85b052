// Ends the test program when one step of a test does not come back within its bound: a read
// that hangs cannot be stopped from outside, and a test that waits for ever tells nothing. The
// step's name goes to the error output first, so that the hanging case can be found again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include <windows.h>

namespace testing_support {

class watchdog {
public:
    explicit watchdog(std::chrono::seconds bound) : bound_(bound), thread_([this] { watch(); }) {}
    ~watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }
    watchdog(const watchdog&) = delete;
    watchdog& operator=(const watchdog&) = delete;

    // A new step begins; the bound counts from here.
    void step(std::string name) {
        {
            std::lock_guard lock(mutex_);
            name_ = std::move(name);
            ++steps_;
        }
        changed_.notify_one();
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            const auto seen = steps_;
            if (!changed_.wait_for(lock, bound_, [&] { return done_ || steps_ != seen; })) {
                std::fprintf(stderr, "No answer within %lld s in: %s\n", static_cast<long long>(bound_.count()),
                             name_.c_str());
                std::fflush(stderr);
                // The hanging thread may hold any lock: nothing may run after it.
                ::TerminateProcess(::GetCurrentProcess(), 3);
            }
        }
    }

    std::chrono::seconds bound_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string name_ = "(before the first step)";
    std::uint64_t steps_ = 0;
    bool done_ = false;
    std::thread thread_;
};

} // namespace testing_support
