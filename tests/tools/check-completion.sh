#!/usr/bin/env bash
# Drives jxrestart's bash completion as bash would at each <TAB>.
# Usage: check-completion.sh COMPLETION_SCRIPT
set -euo pipefail
source "$1"
status=0
[[ $(complete -p jxrestart) == "complete -o filenames -F _jxrestart jxrestart" ]] ||
  { echo "not registered: $(complete -p jxrestart)"; status=1; }

# expect "LINE BEING TYPED" "CANDIDATES"
expect() {
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _jxrestart
  if [[ "${COMPREPLY[*]}" != "$2" ]]; then
    echo "'$1<TAB>': got '${COMPREPLY[*]}', expected '$2'"
    status=1
  fi
}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
touch "$folder/job.log" "$folder/state"

expect "jxrestart jo" "job"
expect "jxrestart job " "show check diff"
expect "jxrestart --debug volumes " "show check"
expect "jxrestart job show --" "--json --lenient --file --help"
expect "jxrestart volumes check --" "--json --file --help"
expect "jxrestart log --" "--all --json --lenient --help"
expect "jxrestart log $folder/j" "$folder/job.log"
expect "jxrestart job show --file $folder/s" "$folder/state"
expect "jxrestart help j" "job"
expect "jxrestart --v" "--version"
[ $status = 0 ] && echo "completion: all candidates as expected"
exit $status
