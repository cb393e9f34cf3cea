#!/bin/sh
# Builds and runs the cover readers' fuzz targets for a short, bounded time (faxdoc's runner).
#   run_fuzzers.sh SOURCE_DIR BUILD_DIR SECONDS_PER_TARGET
# The toolkit keeps allocations to the end of the process: those are not ours to chase.
ZN_FUZZ_PROJECT=cover/fuzz ZN_FUZZ_TARGETS="fcs fct pictures" ZN_FUZZ_LEAKS=0 \
  exec sh "$1/faxdoc/fuzz/run_fuzzers.sh" "$@"
