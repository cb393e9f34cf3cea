// The fax line test bed's back-to-back modem pair for a call with efax.
#pragma once

#include "faxline_harness.h"

#include <memory>
#include <string>

namespace zn::app::test {

struct EfaxPair {
    std::unique_ptr<faxline::Line> line;
    std::string ours; // our modem's port
    std::string efax; // efax's
};

inline EfaxPair StartPairForEfax(const faxline::TempDir& dir)
{
    // The ports' lock files are named after the links' last parts: names of this folder's own keep
    // tests that run at the same time apart.
    const std::string tag = dir.Path().substr(dir.Path().rfind('/') + 1);
    EfaxPair pair{nullptr, dir.File(tag + "-a"), dir.File(tag + "-b")};
    // efax keeps up with a line at several times real time.
    pair.line = faxline::Line::Start(dir.Path(), {"pair", "--calls", "1", "--speed", "8", pair.ours, pair.efax});
    return pair;
}

} // namespace zn::app::test
