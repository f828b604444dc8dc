# Sourced by the Wine job tests: running programs in the prefix and looking
# for the simulator processes this build's simulator started.
here=${here:?}

# Wine shows the host's root as drive Z:.
windows_path() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }
wine_run() { bash "$here/wine.sh" "$@"; }
fail() { echo "FAILED: $*"; exit 1; }

# The serving simulators started from SIM's own file (other builds on the
# machine may run theirs at the same time).
server_running() {
  local name
  name=$(windows_path "$1")
  pgrep -af 'ecuprog-sim\.exe"? [-/]Embedding' | grep -qiF "$name"
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
