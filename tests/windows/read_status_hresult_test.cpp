#include "shell/read_status_hresult_win.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadStatusHresult, KeepsEachKindApartAndLetsAPartialPictureSucceed) {
    const struct {
        cv::ReadStatus status;
        HRESULT read;
        HRESULT wholeRead;
    } cases[] = {
        {cv::ReadStatus::Ok, S_OK, S_OK},
        {cv::ReadStatus::Partial, S_OK, E_FAIL},
        {cv::ReadStatus::NotRecognized, WINCODEC_ERR_UNKNOWNIMAGEFORMAT,
         WINCODEC_ERR_UNKNOWNIMAGEFORMAT},
        {cv::ReadStatus::Malformed, WINCODEC_ERR_BADIMAGE, WINCODEC_ERR_BADIMAGE},
        {cv::ReadStatus::Truncated, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF),
         HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
        {cv::ReadStatus::Unsupported, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED),
         HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)},
        {cv::ReadStatus::TooLarge, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
         HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
        {cv::ReadStatus::ReadFailed, STG_E_READFAULT, STG_E_READFAULT},
        {cv::ReadStatus::Cancelled, E_ABORT, E_ABORT},
        {cv::ReadStatus::TimedOut, HRESULT_FROM_WIN32(ERROR_TIMEOUT),
         HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
        {static_cast<cv::ReadStatus>(99), E_FAIL, E_FAIL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cvwin::hresultFromReadStatus(c.status), c.read) << cv::readStatusName(c.status);
        EXPECT_EQ(cvwin::hresultFromWholeRead(c.status), c.wholeRead)
            << cv::readStatusName(c.status);
    }
}

}  // namespace
