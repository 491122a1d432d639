// Failures chosen by a test for the in-memory fakes: call number n of an
// operation (or every call of it) fails with a given error code; and the log of
// calls a fake keeps beside its plan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
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

// Every call a fake saw, in order, and the faults planned for them. `Call` is
// what is logged: the operation itself, or a record whose `op` names it.
template <typename Op, typename Call = Op>
class FaultLog {
  public:
    static constexpr uint32_t kEveryCall = FaultPlan<Op>::kEveryCall;
    // A planned error that fails the call without touching the last error.
    static constexpr uint32_t kLeaveLastError = 0xFFFFFFFFu;

    void FailCall(Op op, uint32_t error, uint32_t onCall) { faults_.Add(op, error, onCall); }

    // Logs the call; true, with `lastError` set, when a planned fault fails it.
    bool Begin(const Call& call, uint32_t& lastError) {
        calls_.push_back(call);
        std::optional<uint32_t> error = faults_.Check(OpOf(call));
        if (error && *error != kLeaveLastError) {
            lastError = *error;
        }
        return error.has_value();
    }

    const std::vector<Call>& Calls() const { return calls_; }
    size_t CallCount(Op op) const {
        size_t n = 0;
        for (const Call& call : calls_) {
            n += OpOf(call) == op ? 1 : 0;
        }
        return n;
    }
    void ClearCalls() { calls_.clear(); }

  private:
    static Op OpOf(const Call& call) {
        if constexpr (std::is_same_v<Call, Op>) {
            return call;
        } else {
            return call.op;
        }
    }

    std::vector<Call> calls_;
    FaultPlan<Op> faults_;
};

}  // namespace tde
