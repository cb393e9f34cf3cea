#include "io_error.h"

#include <cerrno>

namespace zn::platform {
namespace {

constexpr int kGeneralFailure = 162;

struct ErrnoCode {
    int err;
    int code;
};

// errno -> DOS code. The first row of each code is also the way back.
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, 2},    {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {ELOOP, 3},   {EMFILE, 4},   {ENFILE, 4},
    {EACCES, 5},    {EPERM, 5},   {EEXIST, 5},       {EISDIR, 5},  {EBUSY, 5},    {ETXTBSY, 5},
    {ENOTEMPTY, 5}, {EAGAIN, 5},  {EBADF, 6},        {ENOMEM, 8},  {ENODEV, 15},  {ENOSPC, 101},
    {EDQUOT, 101},  {EFBIG, 101}, {EROFS, 150},      {ENXIO, 152}, {ESPIPE, 156}, {EIO, 162},
};

// Windows system error numbers that reach the error texts without a DOS text of their own.
constexpr ErrnoCode kSystemCodes[] = {
    {ENOSYS, 1},   {EBUSY, 32},      {EBUSY, 33},   {EEXIST, 80},        {EINVAL, 87},
    {ENOSPC, 112}, {ENOTEMPTY, 145}, {EEXIST, 183}, {ENAMETOOLONG, 206},
};

} // namespace

int ErrnoToIoError(int err)
{
    if (err == 0)
        return 0;
    for (const auto& row : kErrnoCodes) {
        if (row.err == err)
            return row.code;
    }
    return kGeneralFailure;
}

int IoErrorToErrno(int code)
{
    for (const auto& row : kErrnoCodes) {
        if (row.code == code)
            return row.err;
    }
    for (const auto& row : kSystemCodes) {
        if (row.code == code)
            return row.err;
    }
    return 0;
}

} // namespace zn::platform
