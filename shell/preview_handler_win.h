#pragma once

#include <windows.h>

namespace cvwin {

// Makes Explorer's preview pane and asks it for `riid` (the class factory's
// creation function): one child window showing the picture with its
// details, a listing, or a message. Loading runs as a job on the system
// thread pool; the host's thread only paints.
HRESULT createPreviewHandler(REFIID riid, void** object);

}  // namespace cvwin
