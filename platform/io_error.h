// errno to the DOS-style I/O error codes whose texts the error table holds.
#pragma once

namespace zn::platform {

// ENOENT 2; ENOTDIR, ENAMETOOLONG, ELOOP 3; EMFILE, ENFILE 4; EACCES, EPERM, EEXIST, EISDIR, EBUSY,
// ETXTBSY, ENOTEMPTY, EAGAIN 5; EBADF 6; ENOMEM 8; ENODEV 15; ENOSPC, EDQUOT, EFBIG 101; EROFS 150;
// ENXIO 152; ESPIPE 156; EIO 162. Anything else (EINVAL included) is 162, "General failure".
// 0 stays 0.
int ErrnoToIoError(int err);
// The errno that an I/O error code (or a Windows system error number) stands for, so that codes
// without a text of their own can be shown with strerror. 0 when there is none.
int IoErrorToErrno(int code);

} // namespace zn::platform
