#pragma once

#include <string>

namespace mirel {

// Opens a file the way the desktop shell would: a program (an ELF file or a
// "#!" script) gets its run bits and is started detached, in a session of its
// own; any other file goes to xdg-open. Returns a value above 32 on success,
// else an error code (2 file not found, 5 access denied, 31 no way to open).
int ShellExecuteOpen(const std::string &path);

// One debugger trace line, written to standard error.
void DebugTrace(const std::string &text);

// Copies source to destination, replacing a file that is there. The bytes go
// to a temporary name beside the destination first, so a failed copy never
// leaves a half-written file under the destination's name.
bool CopyFileReplacing(const std::string &source, const std::string &destination);

} // namespace mirel
