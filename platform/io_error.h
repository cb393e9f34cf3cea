// errno to the DOS-style I/O error codes whose texts the error table holds.
#pragma once

namespace zn::platform {

// ENOENT 2, ENOTDIR 3, EMFILE/ENFILE 4, EACCES/EPERM/EEXIST 5, EBADF 6, ENOMEM 8, ENOSPC/EDQUOT 101,
// EROFS 150, ENXIO/ENODEV 152, EINVAL 155? (see io_error.cpp), ESPIPE 156, EIO 162 ... ; unknown: 162.
int ErrnoToIoError(int err);
// The errno that an I/O error code stands for, for system texts (strerror) of codes not in the table.
int IoErrorToErrno(int code);

} // namespace zn::platform
