// The spooler restart and its waits, on a clock that moves only when slept on.
#include "install/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::Contains;
using testing::ElementsAre;
using testing::Not;

namespace tde {
namespace {

class ServiceTest : public testing::Test {
  protected:
    explicit ServiceTest(uint32_t start = 0) : clock(start), services(clock) {
        MemoryServiceControl::Service spooler;
        spooler.name = u"Spooler";
        services.services = {spooler};
    }
    MemoryServiceControl::Service& Spooler() { return services.services[0]; }

    FakeClock clock;
    MemoryServiceControl services;
};

TEST_F(ServiceTest, RestartsASpoolerThatStopsInTwoAndStartsInThreeSeconds) {
    Spooler().stopDelayMs = 2000;
    Spooler().startDelayMs = 3000;
    EXPECT_TRUE(RestartSpooler(services, clock));
    EXPECT_EQ(clock.now, 5000u);
    EXPECT_EQ(services.StateOf(u"Spooler"), kServiceRunning);
    EXPECT_THAT(services.QueryTimes(), ElementsAre(0u, 1000u, 2000u, 2000u, 3000u, 4000u, 5000u));
    EXPECT_EQ(services.OpenHandleCount(), 0u);
    EXPECT_THAT(
        services.Calls(),
        ElementsAre(ServiceOp::OpenSCManagerW, ServiceOp::OpenServiceW, ServiceOp::ControlService,
                    ServiceOp::QueryServiceStatusEx, ServiceOp::QueryServiceStatusEx,
                    ServiceOp::QueryServiceStatusEx, ServiceOp::StartServiceW,
                    ServiceOp::QueryServiceStatusEx, ServiceOp::QueryServiceStatusEx,
                    ServiceOp::QueryServiceStatusEx, ServiceOp::QueryServiceStatusEx,
                    ServiceOp::CloseServiceHandle, ServiceOp::CloseServiceHandle));
}

TEST_F(ServiceTest, GivesUpAfterThirtySecondsWhenTheSpoolerDoesNotStop) {
    Spooler().stopDelayMs = MemoryServiceControl::kNever;
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(clock.now, 30000u);
    EXPECT_EQ(services.QueryTimes().size(), 30u);
    EXPECT_EQ(services.QueryTimes().back(), 29000u);
    EXPECT_THAT(services.Calls(), Not(Contains(ServiceOp::StartServiceW)));
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(ServiceTest, StartsASpoolerThatWasNotRunning) {
    Spooler().state = kServiceStopped;
    Spooler().startDelayMs = 1500;
    EXPECT_TRUE(RestartSpooler(services, clock));
    EXPECT_EQ(services.CallCount(ServiceOp::ControlService), 1u);
    EXPECT_EQ(services.CallCount(ServiceOp::StartServiceW), 1u);
    EXPECT_EQ(services.StateOf(u"Spooler"), kServiceRunning);
}

TEST_F(ServiceTest, AFailedStatusQueryEndsTheWaitAtOnce) {
    Spooler().stopDelayMs = 2000;
    services.FailCall(ServiceOp::QueryServiceStatusEx, kErrorAccessDenied);
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(clock.now, 0u);
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_EQ(services.CallCount(ServiceOp::StartServiceW), 0u);
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(ServiceTest, OtherStopFailuresEndTheRestartWithoutAStart) {
    services.FailCall(ServiceOp::ControlService, kErrorAccessDenied);
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(services.CallCount(ServiceOp::QueryServiceStatusEx), 0u);
    EXPECT_EQ(services.CallCount(ServiceOp::StartServiceW), 0u);
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

TEST_F(ServiceTest, AFailedStartOrAStartThatNeverCompletesAnswersFalse) {
    services.FailCall(ServiceOp::StartServiceW, kErrorAccessDenied);
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(services.OpenHandleCount(), 0u);

    Spooler().state = kServiceRunning;
    Spooler().startDelayMs = MemoryServiceControl::kNever;
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(services.StateOf(u"Spooler"), kServiceStartPending);
}

TEST_F(ServiceTest, ClosesWhatItOpenedWhenTheManagerOrTheServiceCannotBeOpened) {
    services.FailCall(ServiceOp::OpenSCManagerW, kErrorAccessDenied);
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(services.CallCount(ServiceOp::OpenServiceW), 0u);

    services.services[0].name = u"Spooler2";
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(services.CallCount(ServiceOp::CloseServiceHandle), 1u);
    EXPECT_EQ(services.OpenHandleCount(), 0u);
}

class WrappingClockTest : public ServiceTest {
  protected:
    WrappingClockTest() : ServiceTest(0xFFFFF000u) {}
};

TEST_F(WrappingClockTest, AWrapOfTheTickCounterDoesNoHarm) {
    Spooler().stopDelayMs = 6000;  // the counter wraps during the wait
    Spooler().startDelayMs = 1000;
    EXPECT_TRUE(RestartSpooler(services, clock));
    EXPECT_EQ(clock.now, 0xFFFFF000u + 7000u);

    Spooler().stopDelayMs = MemoryServiceControl::kNever;
    clock.now = 0xFFFFF000u;
    clock.sleeps.clear();
    EXPECT_FALSE(RestartSpooler(services, clock));
    EXPECT_EQ(clock.sleeps.size(), 30u);
}

TEST_F(ServiceTest, WaitForServiceStateAnswersAtOnceWhenTheStateIsThere) {
    ServiceHandle manager = services.OpenSCManagerW(kScManagerAllAccess);
    ServiceHandle spooler = services.OpenServiceW(manager, u"spooler", kServiceAllAccess);
    ASSERT_NE(spooler, nullptr);
    EXPECT_TRUE(WaitForServiceState(services, clock, spooler, kServiceRunning));
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_FALSE(WaitForServiceState(services, clock, spooler, kServiceStopped));
    EXPECT_EQ(clock.sleeps.size(), 30u);
    services.CloseServiceHandle(spooler);
    services.CloseServiceHandle(manager);
}

}  // namespace
}  // namespace tde
