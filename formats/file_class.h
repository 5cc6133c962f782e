#pragma once

#include "core/reader.h"

namespace cv {

enum class FileClass { Xisf, Fits, Project, SirilSequence, ProcessIcons, Unknown };

// What kind of file the first bytes say this is, in the one order every
// caller uses: the exact signatures at byte 0 first (XISF, FITS, a Vellumar
// project), then the text kinds, which are told by their content (a Siril
// sequence by its first lines, process icons by an XML root of xpsm), so a
// text rule never claims a file a signature names.
FileClass classifyFile(Reader& reader);

// The signatures alone: Xisf, Fits, Project or Unknown, without looking
// further into a file that has none.
FileClass classifyImageFile(Reader& reader);

}  // namespace cv
