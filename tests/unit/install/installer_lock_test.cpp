// The installer's lock over named objects in memory.
#include "install/installer_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tde {
namespace {

// The kernel's named objects as the lock sees them.
struct LockWorld final : LockSystem {
    enum class Holder { None, OtherRun, User };
    bool namespaces = true;        // false: Wine 8, the Global\ name only
    bool labels = true;            // false: Vista, no integrity label on a boundary
    bool namespaceExists = false;  // made by another run, Administrators its boundary
    bool namespaceDenied = false;  // exists with a descriptor that shuts this run out
    int vanishes = 0;              // opens that find it closed meanwhile
    Holder inNamespace = Holder::None;
    Holder global = Holder::None;
    bool globalDenied = false;  // the squatter's DACL shuts this run out
    bool abandoned = false;
    bool open = false;
    std::vector<std::string> calls;

    bool HasPrivateNamespaces() override { return namespaces; }
    bool HasIntegrityLabels() override { return labels; }
    uint32_t MakeBoundary(bool high) override {  // only the exception is a call to see
        if (!high) {
            calls.push_back("boundary without label");
        }
        return 0;
    }
    uint32_t CreateNamespace() override {
        calls.push_back("create namespace");
        open = !namespaceExists;
        return namespaceExists ? kErrorAlreadyExists : 0;
    }
    uint32_t OpenNamespace() override {
        calls.push_back("open namespace");
        if (vanishes > 0) {
            namespaceExists = --vanishes > 0;
            return 3;
        }
        open = !namespaceDenied;
        return namespaceDenied ? kErrorAccessDenied : 0;
    }
    uint32_t CreateLockMutex() override {
        calls.push_back(open ? "mutex in namespace" : "Global mutex");
        if (!open && globalDenied) {
            return kErrorAccessDenied;
        }
        return (open ? inNamespace : global) == Holder::None ? 0 : kErrorAlreadyExists;
    }
    LockWait WaitForMutex() override {
        if (abandoned) {
            return LockWait::Abandoned;
        }
        return (open ? inNamespace : global) == Holder::None ? LockWait::Taken : LockWait::Timeout;
    }
};

TEST(InstallerLock, OnlyAnotherRunHoldingItMakesARunWait) {
    using H = LockWorld::Holder;
    const std::vector<std::string> fresh = {"create namespace", "mutex in namespace"};
    const std::vector<std::string> joined = {"create namespace", "open namespace",
                                             "mutex in namespace"};
    const struct {
        const char* what;
        std::function<void(LockWorld&)> set;
        LockState state;
        std::vector<std::string> calls;
    } cases[] = {
        {"free", [](auto&) {}, LockState::Taken, fresh},
        {"held by another run",
         [](auto& w) { w.namespaceExists = true, w.inNamespace = H::OtherRun; },
         LockState::HeldElsewhere, joined},
        {"abandoned by another run",
         [](auto& w) { w.namespaceExists = true, w.inNamespace = H::OtherRun, w.abandoned = true; },
         LockState::Taken, joined},
        {"no integrity labels",
         [](auto& w) { w.labels = false; },
         LockState::Taken,
         {"boundary without label", "create namespace", "mutex in namespace"}},
        {"Global name squatted by a user",
         [](auto& w) { w.global = H::User, w.globalDenied = true; }, LockState::Taken, fresh},
        {"Global name squatted, no namespaces",
         [](auto& w) { w.namespaces = false, w.global = H::User, w.globalDenied = true; },
         LockState::AccessDenied,
         {"Global mutex"}},
        {"Global name squatted and open to all, no namespaces",
         [](auto& w) { w.namespaces = false, w.global = H::User; },
         LockState::HeldElsewhere,
         {"Global mutex"}},
        {"namespace access denied",
         [](auto& w) { w.namespaceExists = w.namespaceDenied = true; },
         LockState::AccessDenied,
         {"create namespace", "open namespace"}},
        {"namespace gone between create and open",
         [](auto& w) { w.namespaceExists = true, w.vanishes = 1; },
         LockState::Taken,
         {"create namespace", "open namespace", "create namespace", "mutex in namespace"}},
        {"namespace never stays",
         [](auto& w) { w.namespaceExists = true, w.vanishes = 9; },
         LockState::Failed,
         {"create namespace", "open namespace", "create namespace", "open namespace",
          "create namespace", "open namespace"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LockWorld world;
        c.set(world);
        EXPECT_EQ(TakeInstallerLock(world), c.state);
        EXPECT_EQ(world.calls, c.calls);
    }
}

}  // namespace
}  // namespace tde
