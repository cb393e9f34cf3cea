#include "platform/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace zn::platform {
namespace {

struct Mapping {
    int err;
    int code;
};

void PrintTo(const Mapping& m, std::ostream* os) { *os << "errno_" << m.err << "_gives_" << m.code; }

class ErrnoToIoErrorTest : public ::testing::TestWithParam<Mapping> {};

TEST_P(ErrnoToIoErrorTest, MapsToTheDosCode) { EXPECT_EQ(ErrnoToIoError(GetParam().err), GetParam().code); }

INSTANTIATE_TEST_SUITE_P(Table, ErrnoToIoErrorTest,
                         ::testing::Values(Mapping{0, 0}, Mapping{ENOENT, 2}, Mapping{ENOTDIR, 3}, Mapping{EMFILE, 4},
                                           Mapping{ENFILE, 4}, Mapping{EACCES, 5}, Mapping{EPERM, 5},
                                           Mapping{EEXIST, 5}, Mapping{EBADF, 6}, Mapping{ENOMEM, 8},
                                           Mapping{ENOSPC, 101}, Mapping{EDQUOT, 101}, Mapping{EROFS, 150},
                                           Mapping{ESPIPE, 156}, Mapping{EIO, 162}, Mapping{EINVAL, 162},
                                           Mapping{EPROTO, 162}),
                         ::testing::PrintToStringParamName());

TEST(IoErrorToErrnoTest, GivesTheErrnoBackForEveryDosCodeItProduces)
{
    for (int code : {2, 3, 4, 5, 6, 8, 101, 150, 156, 162})
        EXPECT_EQ(ErrnoToIoError(IoErrorToErrno(code)), code) << code;
}

TEST(IoErrorToErrnoTest, SystemErrorNumbersWithoutADosTextStillHaveAnErrno)
{
    EXPECT_EQ(IoErrorToErrno(32), EBUSY);   // sharing violation
    EXPECT_EQ(IoErrorToErrno(112), ENOSPC); // disk full
    EXPECT_EQ(IoErrorToErrno(183), EEXIST);
    EXPECT_EQ(IoErrorToErrno(9999), 0);
}

} // namespace
} // namespace zn::platform
