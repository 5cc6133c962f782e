#include "formats/file_class.h"

#include "formats/fits_reader.h"
#include "formats/project_reader.h"
#include "formats/siril_sequence.h"
#include "formats/xisf_reader.h"
#include "formats/xpsm_reader.h"

namespace cv {

FileClass classifyImageFile(Reader& reader) {
    if (isXisf(reader)) return FileClass::Xisf;
    if (isFits(reader)) return FileClass::Fits;
    if (isProject(reader)) return FileClass::Project;
    return FileClass::Unknown;
}

FileClass classifyFile(Reader& reader) {
    if (const FileClass image = classifyImageFile(reader); image != FileClass::Unknown)
        return image;
    if (isSirilSequence(reader)) return FileClass::SirilSequence;
    if (isXpsm(reader)) return FileClass::ProcessIcons;
    return FileClass::Unknown;
}

}  // namespace cv
