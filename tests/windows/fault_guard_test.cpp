#include "shell/fault_guard_win.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

HRESULT succeed(void*) {
    return S_FALSE;
}

HRESULT throwSomething(void*) {
    throw std::runtime_error("from the pipeline");
}

HRESULT writeThroughNull(void* context) {
    volatile int* nowhere = static_cast<int*>(context);
    *nowhere = 42;  // a deliberate access violation
    return S_OK;
}

HRESULT divideByZero(void* context) {
    volatile int zero = *static_cast<int*>(context);
    volatile int result = 7 / zero;
    return result == 0 ? S_OK : S_FALSE;
}

HRESULT nested(void*) {
    // A fault in an inner guard returns there; the outer guard's work goes on.
    const HRESULT inner = cvwin::runGuarded(writeThroughNull, nullptr);
    return inner == E_FAIL ? S_OK : E_UNEXPECTED;
}

TEST(FaultGuard, PassesResultsThrough) {
    EXPECT_EQ(cvwin::runGuarded(succeed, nullptr), S_FALSE);
}

TEST(FaultGuard, TurnsExceptionsAndProcessorFaultsIntoEFail) {
    EXPECT_EQ(cvwin::runGuarded(throwSomething, nullptr), E_FAIL);
    EXPECT_EQ(cvwin::runGuarded(writeThroughNull, nullptr), E_FAIL);
    int zero = 0;
    EXPECT_EQ(cvwin::runGuarded(divideByZero, &zero), E_FAIL);
    EXPECT_EQ(cvwin::runGuarded(nested, nullptr), S_OK);
    EXPECT_EQ(cvwin::runGuarded(writeThroughNull, nullptr), E_FAIL)
        << "the guard works again after a fault";
}

// Enlists a cleanup that counts its runs, and withdraws it before a fault
// when asked.
struct CleanupCall {
    bool withdrawFirst;
    int ran = 0;
};

void countCleanup(void* context) {
    ++static_cast<CleanupCall*>(context)->ran;
}

HRESULT faultWithCleanup(void* context) {
    auto& call = *static_cast<CleanupCall*>(context);
    cvwin::FaultCleanup cleanup(countCleanup, &call);
    cleanup.enlist();
    if (call.withdrawFirst) cleanup.withdraw();
    return writeThroughNull(nullptr);
}

TEST(FaultGuard, RunsTheCleanupsEnlistedBeforeJumpingBackAfterAFault) {
    for (const bool withdrawFirst : {false, true}) {
        CleanupCall call{withdrawFirst};
        EXPECT_EQ(cvwin::runGuarded(faultWithCleanup, &call), E_FAIL);
        EXPECT_EQ(call.ran, withdrawFirst ? 0 : 1);
    }
}

}  // namespace
