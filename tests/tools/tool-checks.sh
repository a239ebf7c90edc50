# Sourced by the operator tools' story scripts after they set $work and the array `tool` (the program,
# or a runner followed by it). Gives them run/check and a few conditions, and counts the checks.

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0
passes=0

# Runs the tool; leaves its exit code in $code and its output (without carriage returns) in $out.
run() {
  out=$("${tool[@]}" "$@" 2>&1 | tr -d '\r')
  code=${PIPESTATUS[0]}
}
check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAILED: $what (exit $code)"
    echo "$out" | sed 's/^/    | /'
  fi
}
has() { grep -qF -- "$1" <<<"$out"; }
lacks() { ! grep -qF -- "$1" <<<"$out"; }
is() { [ "$code" -eq "$1" ]; }
