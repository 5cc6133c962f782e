#include "formats/image_header.h"

#include "formats/file_class.h"
#include "formats/fits_reader.h"
#include "formats/project_reader.h"
#include "formats/xisf_reader.h"

namespace cv {

namespace {

// The XISF file inside a project, read through a slice; positions are then
// shifted so the record works with the whole project's byte source.
ReadStatus readProject(Reader& reader, ImageData& data) {
    ProjectImageRef ref;
    ReadStatus status = locateProjectImage(reader, ref);
    if (status != ReadStatus::Ok) return status;
    SliceReader slice(reader, ref.dataOffset, ref.size);
    status = readXisf(slice, data, kChooseMainImage);
    if (status != ReadStatus::Ok) return status;
    if (data.image.location == DataLocation::Attachment) data.image.position += ref.dataOffset;
    if (data.hasThumbnail && data.thumbnail.location == DataLocation::Attachment) {
        data.thumbnail.position += ref.dataOffset;
    }
    data.imageCount = ref.imageCount;
    data.kind = FileKind::Project;
    return ReadStatus::Ok;
}

}  // namespace

ReadStatus readImageHeader(Reader& reader, ImageData& data, std::int32_t imageIndex) {
    data.reset();
    switch (classifyImageFile(reader)) {
        case FileClass::Xisf:
            return readXisf(reader, data, imageIndex);
        case FileClass::Fits:
            return readFits(reader, data);
        case FileClass::Project:
            return readProject(reader, data);
        default:
            return ReadStatus::NotRecognized;
    }
}

}  // namespace cv
