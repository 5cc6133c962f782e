#include "shell/guarded_lane_win.h"

#include "shell/fault_guard_win.h"

namespace cvwin {

namespace {

struct LaneCall {
    cv::LaneWork work;
    void* context;
    cv::ReadStatus status;
};

HRESULT runLane(void* context) {
    auto& call = *static_cast<LaneCall*>(context);
    call.status = call.work(call.context);
    return S_OK;
}

}  // namespace

cv::ReadStatus runGuardedLane(cv::LaneWork work, void* context) {
    LaneCall call{work, context, cv::ReadStatus::ReadFailed};
    if (FAILED(runGuardedOnOwnThread(runLane, &call))) return cv::ReadStatus::ReadFailed;
    return call.status;
}

}  // namespace cvwin
