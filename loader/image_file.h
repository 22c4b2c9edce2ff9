#pragma once

#include <cstddef>

#include "loader/image_transfer.h"
#include "os/win32/handle.h"

namespace Ixa {

// The module's file: "Ixa.dll" in a folder of this process's own under the
// user's temporary folder, "IxaLoader-<pid>", or "IxaLoader-<pid>-<n>" once
// an earlier one could not be removed or was found in the way. Two hosts in
// one session never touch each other's file, and nobody can swap it between
// the check and the load: the folder is made new and held open (so it
// cannot be replaced by a link), the file is made new through a handle that
// shares nothing, then held open for reading only while it is compared with
// the checked image and loaded.

// Builds the file's path for folder number serial (0: just the pid) into
// buffer. False when it does not fit: the temporary folder's path, the
// folder's name ("IxaLoader-" and up to 21 digits and a dash), "\Ixa.dll"
// and a terminating zero must fit in size bytes.
bool MakeImagePath(char* buffer, size_t size, unsigned serial);

// Saves the image (already checked) and remembers the path as the saved
// image path; *heldOpen then keeps the file open for reading only. False,
// with the text shown, when it could not be saved or does not read back as
// the image.
bool SaveImage(const DpImage& image, Os::UniqueHandle* heldOpen);

// Deletes the saved file and its folder. A folder that cannot be removed
// (its module is still loaded) is left for good, and a later save uses a
// new one.
void RemoveImageFile();

}  // namespace Ixa
