#include "render/rgb_image.h"

#include <new>

#include "core/large_allocator.h"

namespace cv {

bool resizeRgbImage(RgbImage& image, std::uint32_t width, std::uint32_t height) {
    image = RgbImage{};
    if (width == 0 || height == 0) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) * height * 3;
    if (bytes > kMaxRgbImageBytes) return false;
    try {
        reserveResident(image.pixels, static_cast<std::size_t>(bytes));
        image.pixels.assign(static_cast<std::size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        image.pixels.clear();
        return false;
    }
    image.width = width;
    image.height = height;
    return true;
}

}  // namespace cv
