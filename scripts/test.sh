#!/usr/bin/env bash
# Installs what is missing, then configures, builds and tests everything: the
# workflow preset "all" (tests/CMakeLists.txt). Ends with a line per suite and
# the verdict, also in build/test-summary.txt; exits non-zero on any failure.
#   HALVEX_SKIP=REGEX   suites (labels) to leave out, as ctest -LE does
#   HALVEX_I386=MODE    how 32-bit x86 programs run: auto, native, emulated
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

# What cannot be installed is named by the set-ups that need it.
install_packages $BUILD_PACKAGES $RUN_PACKAGES $CHECK_PACKAGES $FUZZ_PACKAGES $DEB_PACKAGES $VM_PACKAGES $SYSTEM_PACKAGES \
    $I386_PACKAGES || log "some packages could not be installed"
if [ -n "$(missing_packages $I386_FOREIGN_PACKAGES)" ]; then
    dpkg --print-foreign-architectures | grep -qx i386 ||
        { $SUDO dpkg --add-architecture i386 && rm -f /tmp/.halvex-apt-updated; }
    install_i386 $(missing_packages $I386_FOREIGN_PACKAGES) || log "some i386 packages could not be installed"
fi

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
# What the set-ups of an earlier run left is made anew.
rm -rf build/fixtures build/all/results.xml
started=$SECONDS
cmake --workflow --preset all
status=$?
echo
/usr/bin/python3 scripts/test-summary.py build/all "$status" $((SECONDS - started)) | tee build/test-summary.txt
exit $status
