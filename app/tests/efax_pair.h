// The fax line test bed's back-to-back modem pair for a call with efax: our end on DIR/a, efax's
// on DIR/b.
#pragma once

#include "faxline_harness.h"

#include <memory>

namespace zn::app::test {

inline std::unique_ptr<faxline::Line> StartPairForEfax(const faxline::TempDir& dir)
{
    // efax keeps up with a line at several times real time.
    return faxline::Line::Start(dir.Path(), {"pair", "--calls", "1", "--speed", "8", dir.File("a"), dir.File("b")});
}

} // namespace zn::app::test
