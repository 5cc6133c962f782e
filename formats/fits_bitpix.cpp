#include "formats/fits_bitpix.h"

namespace cv {

SampleFormat sampleFormatForBitpix(std::int64_t bitpix) {
    switch (bitpix) {
        case 8:
            return SampleFormat::UInt8;
        case 16:
            return SampleFormat::Int16;
        case 32:
            return SampleFormat::Int32;
        case 64:
            return SampleFormat::Int64;
        case -32:
            return SampleFormat::Float32;
        case -64:
            return SampleFormat::Float64;
        default:
            return SampleFormat::None;
    }
}

}  // namespace cv
