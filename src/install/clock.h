// Time for the installation run: the tick count and pauses the spooler steps
// wait on, and the wall-clock time stamped into a registered driver.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tde {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;  // milliseconds, wrapping at 2^32
    virtual void Sleep(uint32_t milliseconds) = 0;
    // The current UTC time as 100-ns intervals since 1601-01-01 (a FILETIME).
    virtual uint64_t CurrentFileTime() = 0;
};

// A clock that only moves when slept on, and remembers every sleep.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(uint32_t start = 0) : now(start) {}
    uint32_t TickCount() override { return now; }
    void Sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now += milliseconds;
    }
    uint64_t CurrentFileTime() override { return fileTime + uint64_t{now} * 10000u; }
    uint32_t now;
    uint64_t fileTime = 0x01DB0000'00000000ull;  // some day in 2024
    std::vector<uint32_t> sleeps;
};

#ifdef _WIN32
// GetTickCount, Sleep and GetSystemTime.
std::unique_ptr<Clock> CreateWin32Clock();
#endif

}  // namespace tde
