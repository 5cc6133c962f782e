#pragma once

#include "render/render_image.h"

namespace cvwin {

// The lane runner of the renders this library makes: the second thread's
// share runs under that thread's own fault guard, so a fault there, in the
// stream's code too, fails the render (ReadFailed) and the host lives.
cv::ReadStatus runGuardedLane(cv::LaneWork work, void* context);

}  // namespace cvwin
