#include "render/row_reader.h"

#include "render/sample_conversion.h"

namespace cv {

RowReader::RowReader(const ImageBlock& block, const Normalization& working,
                     std::optional<BayerPattern> mosaic)
    : format_(block.sampleFormat),
      bigEndian_(block.bigEndian),
      working_(working),
      width_(block.width),
      rowBytes_(bytesPerSample(block.sampleFormat) * block.width),
      mosaic_(mosaic) {}

void RowReader::prepare(RowLane& lane) const {
    lane.values.resize(static_cast<std::size_t>(width_));
    if (mosaic_) {
        lane.secondValues.resize(static_cast<std::size_t>(width_));
        lane.colorRows.resize(static_cast<std::size_t>(cellWidth()) * 3);
    }
}

ReadStatus RowReader::convert(RowLane& lane, std::uint32_t plane, std::uint64_t row,
                              std::size_t slot, std::vector<float>& values) const {
    const std::uint8_t* raw = lane.source->row(plane, row, slot);
    lane.bytesRead += rowBytes_;
    ++lane.rowsRead;
    if (!convertRow(raw, values.size(), format_, bigEndian_, working_.scale, working_.offset,
                    values.data())) {
        return ReadStatus::Unsupported;
    }
    return ReadStatus::Ok;
}

const float* RowReader::demosaic(RowLane& lane) const {
    const auto cells = static_cast<std::size_t>(cellWidth());
    float* red = lane.colorRows.data();
    demosaicRowPair(lane.values.data(), lane.secondValues.data(), cells, *mosaic_, red, red + cells,
                    red + 2 * cells);
    return red;
}

}  // namespace cv
