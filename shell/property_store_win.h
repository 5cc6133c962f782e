#pragma once

#include <windows.h>

namespace cvwin {

// Makes Explorer's property handler and asks it for `riid` (the class
// factory's creation function). It reads the file once, in Initialize, into
// a list of values (the portable property list, so the Linux tool shows the
// same), lets go of the stream and answers from that list. Read-only: a
// file is never changed.
HRESULT createPropertyStore(REFIID riid, void** object);

}  // namespace cvwin
