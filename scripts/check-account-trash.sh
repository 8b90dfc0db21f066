#!/usr/bin/env bash
# Runs a command (the test suites) and fails when it changed the account's trash: every entry of
# the home trash, whether found through the password database, $HOME or $XDG_DATA_HOME, must be
# exactly as it was before, and a trash that was not there must still not be there.
#   scripts/check-account-trash.sh COMMAND [ARGUMENT...]
set -uo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGUMENT...]" >&2; exit 2; }

account_home=$(getent passwd "$(id -u)" | cut -d: -f6)
trashes=("$account_home/.local/share/Trash")
[ -n "${HOME:-}" ] && trashes+=("$HOME/.local/share/Trash")
[ -n "${XDG_DATA_HOME:-}" ] && trashes+=("$XDG_DATA_HOME/Trash")

snapshot() {
  local trash
  for trash in $(printf '%s\n' "${trashes[@]}" | sort -u); do
    if [ -e "$trash" ]; then
      find "$trash" -printf "$trash/%P %y %s %T@\n" | sort
    else
      echo "$trash absent"
    fi
  done
}

before=$(snapshot)
"$@"
status=$?
after=$(snapshot)
if [ "$before" != "$after" ]; then
  echo "check-account-trash: the account's trash changed while '$*' ran:" >&2
  diff <(echo "$before") <(echo "$after") >&2
  exit 1
fi
exit $status
