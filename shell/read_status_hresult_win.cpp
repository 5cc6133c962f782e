#include "shell/read_status_hresult_win.h"

namespace cvwin {

HRESULT hresultFromReadStatus(cv::ReadStatus status) {
    switch (status) {
        case cv::ReadStatus::Ok:
        case cv::ReadStatus::Partial:
            return S_OK;
        case cv::ReadStatus::NotRecognized:
            return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
        case cv::ReadStatus::Malformed:
            return WINCODEC_ERR_BADIMAGE;
        case cv::ReadStatus::Truncated:
            return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        case cv::ReadStatus::Unsupported:
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
        case cv::ReadStatus::TooLarge:
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        case cv::ReadStatus::ReadFailed:
            return STG_E_READFAULT;
        case cv::ReadStatus::Cancelled:
            return E_ABORT;
        case cv::ReadStatus::TimedOut:
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    return E_FAIL;
}

HRESULT hresultFromWholeRead(cv::ReadStatus status) {
    return status == cv::ReadStatus::Ok        ? S_OK
           : status == cv::ReadStatus::Partial ? E_FAIL
                                               : hresultFromReadStatus(status);
}

}  // namespace cvwin
