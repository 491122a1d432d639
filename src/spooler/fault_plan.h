// Failures chosen by a test for the in-memory fakes: call number n of an
// operation (or every call of it) fails with a given error code.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tde {

template <typename Op>
class FaultPlan {
  public:
    static constexpr uint32_t kEveryCall = 0;

    // Call number `onCall` (1-based, counted from now on) of `op` fails with `error`.
    void Add(Op op, uint32_t error, uint32_t onCall) { faults_.push_back({op, error, onCall}); }

    // Counts a call of `op` against every fault planned for it; the error of the
    // first fault due, if any.
    std::optional<uint32_t> Check(Op op) {
        std::optional<uint32_t> error;
        for (Fault& fault : faults_) {
            if (fault.op != op) {
                continue;
            }
            ++fault.seen;
            if (!error && (fault.onCall == kEveryCall || fault.onCall == fault.seen)) {
                error = fault.error;
            }
        }
        return error;
    }

  private:
    struct Fault {
        Op op;
        uint32_t error;
        uint32_t onCall;
        uint32_t seen = 0;
    };
    std::vector<Fault> faults_;
};

}  // namespace tde
