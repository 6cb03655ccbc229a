#!/usr/bin/env bash
# Drives jxrestart's bash completion as bash would at each <TAB>, and holds
# its candidates to the tool's own table of commands, as --help shows it.
# Usage: check-completion.sh COMPLETION_SCRIPT TOOL
set -euo pipefail
source "$1"
tool=$2
status=0
[[ $(complete -p jxrestart) == "complete -o filenames -F _jxrestart jxrestart" ]] ||
  { echo "not registered: $(complete -p jxrestart)"; status=1; }

# The words of standard input, one of each, sorted, on one line.
words() { tr ' ' '\n' | grep . | sort -u | tr '\n' ' ' | sed 's/ $//'; }
# candidates "LINE BEING TYPED": what the completion offers, sorted.
candidates() {
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _jxrestart
  printf '%s\n' "${COMPREPLY[@]}" | words
}
# expect "LINE BEING TYPED" "CANDIDATES"
expect() {
  local got
  got=$(candidates "$1")
  if [[ $got != "$(words <<<"$2")" ]]; then
    echo "'$1<TAB>': got '$got', expected '$2'"
    status=1
  fi
}

# The commands of a list in --help: the first word of each row.
commands_of() { "$tool" help $1 | sed -n '/^Commands:/,/^$/p' | grep -E '^  [a-z]' | awk '{print $1}' | words; }
# The options of a command, from its usage line, and --help.
options_of() { { "$tool" help $1 | sed -n 1p | grep -oE -- '--[a-z]+'; echo --help; } | words; }

expect "jxrestart " "$(commands_of "")"
expect "jxrestart job " "$(commands_of job)"
expect "jxrestart volumes " "$(commands_of volumes)"
expect "jxrestart help " "$(commands_of "" | sed 's/ help//')"
for command in show check diff "job show" "job check" "job diff" "job set" "volumes show" "volumes check" \
               "volumes diff" "volumes set" log; do
  expect "jxrestart $command --" "$(options_of "$command")"
done

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
touch "$folder/job.log" "$folder/state"
expect "jxrestart jo" "job"
expect "jxrestart --debug volumes " "show check diff set"
expect "jxrestart log $folder/j" "$folder/job.log"
expect "jxrestart job show --file $folder/s" "$folder/state"
expect "jxrestart help j" "job"
expect "jxrestart --v" "--version"
[ $status = 0 ] && echo "completion: every command and option of the tool's table"
exit $status
