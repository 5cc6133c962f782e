#pragma once

#include <windows.h>

#include "core/read_status.h"

namespace cvwin {

// A read's outcome as the shell hears it. Ok and Partial succeed (a picture
// cut short by its budget is still a picture); every failure keeps its kind,
// so a log or a debugger can tell a broken file from a limit or a stop.
HRESULT hresultFromReadStatus(cv::ReadStatus status);

// The same for a step that must finish whole, such as reading a header,
// which never succeeds with less than Ok.
HRESULT hresultFromWholeRead(cv::ReadStatus status);

}  // namespace cvwin
