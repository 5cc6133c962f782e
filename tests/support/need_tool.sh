# Sourced by the test scripts. need TOOL HINT: the outside tool a test runs.
# Without it a developer's machine skips the test (exit 77, which ctest
# counts as skipped); where CORVANE_REQUIRE_TOOLS is set, as the project's
# test command sets it after installing them all, the test fails instead.
need() {
  command -v "$1" >/dev/null && return 0
  if [[ -n ${CORVANE_REQUIRE_TOOLS:-} ]]; then
    echo "FAIL: no $1: $2" >&2
    exit 1
  fi
  echo "SKIP: no $1: $2" >&2
  exit 77
}
