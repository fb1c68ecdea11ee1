// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

// Replaces (or creates) the regular file at path with content, so that the path holds either its
// old file or the complete new one, never a mixture. The text goes to a temporary file in the
// same folder, is flushed to the disk and checked, and only then renamed over the target; on any
// failure the temporary file is removed and the old file is left as it was. A path that names
// anything but a regular file (a device node, a folder, a FIFO, a dangling link) is refused.
// A link to a regular file replaces the file it points to and keeps the link.
// flushToDisk false leaves out the fsync calls: the old-or-new guarantee then holds against a
// failing program, not against a power cut. Only for tools that time the rest.
bool writeFileAtomically(const std::string& path, std::string_view content, bool flushToDisk = true);
