// Putting a new version of a file in place: the one way every writer of the program replaces or
// creates a file that others read (tables and indexes, fax files, page files, settings).
//
// Contract:
// - The new data goes to a temporary file beside the target. Its name is unique to this process
//   and this writer, and it is created with O_EXCL | O_NOFOLLOW: a file or a link planted under
//   any name beside the target is never opened, followed or overwritten.
// - Commit flushes the file to disk, renames it over the target and flushes the folder, so that
//   after a power cut the name holds either the old file whole or the new one whole.
// - A writer that is not committed leaves nothing behind: its temporary is removed when it is
//   discarded or destroyed, and when the process ends by SIGTERM or SIGINT (see below).
//   Temporaries of processes that died otherwise (SIGKILL, a crash) are removed by the next writer
//   into the same folder.
// - The new file takes an existing target's permission bits; a new target gets 0666 less the umask.
// Plain C++ (no Qt), so that the engines can use it.
#pragma once
#include <string>

namespace zn::platform {

class FileReplacement {
public:
    explicit FileReplacement(std::string target);
    ~FileReplacement(); // discards an uncommitted temporary
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Creates the temporary, open for reading and writing: 0 or an errno value.
    [[nodiscard]] int Open();
    int Descriptor() const { return fd_; }
    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Flushes the data, renames the temporary over the target and flushes the folder: 0 or an
    // errno value. On failure the temporary is gone and the target is untouched.
    [[nodiscard]] int Commit();
    // The same for a file that must not exist yet: EEXIST, and the temporary gone, when the
    // target appeared meanwhile (another process made it first).
    [[nodiscard]] int CommitNew();
    // Closes and removes the temporary; the target is untouched.
    void Discard();

private:
    [[nodiscard]] int Finish(bool replace);

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    int slot_ = -1; // among the files removed with the process
};

// Makes a file written in place durable with its name: fsync of the file, then of its folder.
// 0 or an errno value.
[[nodiscard]] int SyncFileAndFolder(int fd, const std::string& path);
// fsync of the folder holding path (its entry for path made durable): 0 or an errno value.
[[nodiscard]] int SyncFolderOf(const std::string& path);

// Whether name is the name of one of FileReplacement's temporaries (tests and folder scans use it).
bool IsReplacementTemporary(const std::string& name);

// Whether a living writer (of any process) is writing a new version of target now: a name that
// such a writer will commit is not free for another new file.
bool HasLiveTemporary(const std::string& target);

// Removes the temporaries of this process's writers that are not committed (and its other files
// that go with the process, platform/end_removals.h). Safe in a signal handler: for a program that
// handles SIGTERM or SIGINT itself, where the removal that is otherwise installed for those signals
// does not run.
void RemoveUncommittedTemporaries();

// Removes the temporaries of dead writers from a folder; FileReplacement::Open does this for the
// target's folder. Returns the number removed.
int RemoveStaleTemporaries(const std::string& folder);

} // namespace zn::platform
