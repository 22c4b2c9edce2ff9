#pragma once

namespace Ixa {

// The connection worker's thread procedure: finds a console, fetches and
// starts its processor module, resolves the patch. Always returns 0.
unsigned __stdcall ConnectionWorker(void*);

}  // namespace Ixa
