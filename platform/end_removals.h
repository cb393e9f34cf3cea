// Files that must not outlive this process: a writer's unfinished temporary, the lock files of an
// open port. Each registered file is removed however the process ends while it still runs code of
// its own: exit(), a second SIGTERM or SIGINT while the program winds down, and every signal whose
// default is to end the process and that the program does not handle itself (SIGHUP at a logout,
// SIGPIPE, SIGQUIT, SIGTERM and SIGINT where nobody watches them, an abort, a crash). SIGKILL leaves
// them: the next program removes files whose process is gone.
#pragma once

#include <string>

namespace zn::platform {

// From now on the file goes with the process. Returns its slot, or -1 when all slots are taken
// (the file then stays as an ending by SIGKILL leaves it).
int RemoveAtEnd(const std::string& path);

// The file was committed or removed the ordinary way: it no longer goes with the process.
void KeepAtEnd(int& slot);

// Removes this process's registered files now. Safe in a signal handler. A child forked from the
// process (that has not yet run another program) does not remove its parent's files.
void RemoveFilesAtEnd();

} // namespace zn::platform
