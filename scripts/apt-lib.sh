# SPDX-License-Identifier: MIT
# Installing Debian packages, for the set-up scripts (sourced by them):
#   apt_install WHO PACKAGE...
# installs those of the packages that are not installed yet, as root or through sudo; WHO starts
# each line it prints. The package lists are updated first, with retries. An index that still
# cannot be downloaded (a mirror caught in the middle of a sync, a third-party repository that is
# down) does not stop the install: when every package installs from the lists apt has, the set-up
# goes on, and a note names the index that failed; when one does not, lists and install are tried
# again twice before the set-up gives up. apt's own output goes to a log, shown only when the
# install fails.

# apt_missing PACKAGE...: prints those not installed, one per line.
apt_missing() {
  local p
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || echo "$p"
  done
}

# apt_update LOG COMMAND...: runs COMMAND update (COMMAND being apt-get with its options), and
# once more after a short pause if that failed; the output is appended to LOG. Returns the last
# exit status. Single downloads are retried by apt itself (Acquire::Retries).
apt_update() {
  local log=$1
  shift
  "$@" update >>"$log" 2>&1 && return 0
  sleep 2
  "$@" update >>"$log" 2>&1
}

# apt_failed_indexes LOG: the indexes that apt could not fetch, as indented lines without apt's
# error prefix.
apt_failed_indexes() {
  sed -n 's/^E: Failed to fetch /  /p' "$1" | sort -u
}

apt_install() {
  local who=$1
  shift
  local missing
  mapfile -t missing < <(apt_missing "$@")
  [ ${#missing[@]} -gt 0 ] || return 0

  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  local apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y
    -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
  local log
  log=$(mktemp "${TMPDIR:-/tmp}/quira-apt.XXXXXX")
  echo "$who: installing ${missing[*]}"
  local updated=1 round
  for round in 1 2 3; do
    updated=1
    apt_update "$log" "${apt[@]}" || updated=0
    "${apt[@]}" install --no-install-recommends "${missing[@]}" >>"$log" 2>&1 && break
    # The lists could not be updated and something is missing from them: try again later.
    if [ "$updated" -eq 1 ] || [ "$round" -eq 3 ]; then
      echo "$who: installing ${missing[*]} failed; the end of apt's output ($log):" >&2
      tail -n 20 "$log" >&2
      return 1
    fi
    sleep 10
  done
  if [ "$updated" -eq 0 ]; then
    echo "$who: note: some package lists could not be updated; what was needed installed all the same"
    apt_failed_indexes "$log"
  fi
  rm -f "$log"
}
