// Block-wise file copy for cloning and forwarding faxes.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace zn::foundation {

// Called after each block has been written, with its size (tests watch the block sizes with it).
using CopyBlockObserver = std::function<void(size_t bytes)>;

// Copies source to destination in blocks of 2048 bytes. False for equal names, for a copy of a file
// onto itself (same device and inode), when the source cannot be opened or the destination created,
// and when a read or write fails or the source ends before its measured size. The copy is written
// beside the destination and put in place whole, on disk (platform/file_replacement.h): a false
// result never leaves a truncated fax behind and leaves an older destination as it was.
bool CopyFileBlocks(const std::string& source, const std::string& destination, const CopyBlockObserver& observer = {});

} // namespace zn::foundation
