# Sourced by the Wine job tests: running programs in the prefix and looking
# for the simulator processes this build's simulator started.
here=${here:?}

# Wine shows the host's root as drive Z:.
windows_path() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }
wine_run() { bash "$here/wine.sh" "$@"; }
# reg_query KEY ARGS...: what `reg query` prints, read whole before it is
# searched (a search that stops at its first match would leave reg.exe
# writing into a closed pipe, and fail the test now and then).
reg_query() { wine_run reg query "$@" 2>/dev/null || true; }
fail() { echo "FAILED: $*"; exit 1; }

# expect_run.sh's lines for the default bench's units, as a fresh bench
# lists them.
default_bench_units=(
  --line "Found : W3#4711 (Simulated test cell 1) BootV1.40 CodeV1.462.7"
  --line "Found : W3 (NO SERIAL NUMBER) BootV1.40 NOT READY FOR CODE PROGRAMMING"
  --line "Found : W3 (NO SERIAL NUMBER) (BAD BOOT CODE) NOT READY FOR CODE PROGRAMMING"
  --line "Found : W3#4713 (Simulated test cell 4, new board) BootV1.38 NOT READY FOR CODE PROGRAMMING"
  --line "Found : W17#4715 (Simulated W17 rig) BootV2.3 CodeV1.301.2"
  --line "Found : W3#4716 (Simulated test cell 6, job cut short) BootV1.40"
)
# The same, and 4711's access identities, from the listing to the last
# "Access as" line.
default_bench_listing=(
  "${default_bench_units[@]}"
  --line "Please enter the serial number of the device you wish to program : Access as Service desk : Diagnostics only"
  --line "Access as Werkstatt München : Full programming"
  --line "Access as Visitor : Read only"
)

# The serving simulators started from SIM's own file (other builds on the
# machine may run theirs at the same time).
server_running() {
  local name
  name=$(windows_path "$1")
  grep -qiF "$name" <<<"$(pgrep -af 'ecuprog-sim\.exe"? [-/]Embedding' || true)"
}

# expect_no_server SIM TENTHS: the server has ended within TENTHS tenths of
# a second.
expect_no_server() {
  for _ in $(seq "$2"); do
    server_running "$1" || return 0
    sleep 0.1
  done
  fail "the simulator still runs after the job"
}

# expect_programmed TOOL SIM BENCH [EXPECT_RUN_ARGS...]: a whole job by TOOL
# choosing 4711, its output the lines given and then the rest of a
# successful job from "Code flash program" on; SIM's server then ends, and
# W3#4711's flash on BENCH holds the caller's $code and $profile, stamped
# within the run (checked by the caller's $flash_check).
expect_programmed() {
  local tool=$1 server=$2 bench=$3 before after
  shift 3
  before=$(date +%s)
  bash "$here/expect_run.sh" --exit 0 --input $'4711\n' "$@" \
    --match "Code flash program \.\.\. complete \([0-9.]+secs\)" \
    --match "Store flash erase \.\.\. (erasing \.\.\. )?complete \([0-9.]+secs\)" \
    --match "Store flash program \.\.\. complete \([0-9.]+secs\)" \
    --line "Reset request ... accepted" \
    --line "PROGRAMMING SUCCESSFUL" \
    --line "Press space to exit" \
    -- "$tool"
  after=$(date +%s)
  expect_no_server "$server" 300
  wine_run "$flash_check" "$(windows_path "$code")" "$(windows_path "$profile")" \
    "$(windows_path "$bench/w3-bay1-code.bin")" \
    "$(windows_path "$bench/w3-bay1-store.bin")" "$before" "$after" ||
    fail "the unit's flash is not as programmed"
}
