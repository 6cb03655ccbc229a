# bash completion for jxrestart: commands, their options, and files where
# a command reads files. tests/tools/check-completion.sh holds it to the
# tool's own table of commands.

_jxrestart() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  # The words between the program and the one being completed, but for
  # --debug, which may stand anywhere.
  local -a words=()
  local i
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == --debug ]] || words+=("${COMP_WORDS[i]}")
  done
  if [[ $prev == --file ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
    return
  fi
  local shown="--json --lenient --file --help" checked="--json --file --help"
  local options="" choices="" files=""
  case "${words[0]-}" in
    "")
      choices="show check diff job volumes log help"
      options="--debug --help --version"
      ;;
    job | volumes)
      case "${words[1]-}" in
        "") choices="show check diff set" ;;
        show | diff | set) options=$shown ;;
        check) options=$checked ;;
      esac
      ;;
    show | diff) options=$shown ;;
    check) options=$checked ;;
    log)
      options="--json --lenient --all --binary --job --svg --help"
      files=yes
      ;;
    help)
      case "${words[1]-}" in
        "") choices="show check diff job volumes log" ;;
        job | volumes) [[ -z ${words[2]-} ]] && choices="show check diff set" ;;
      esac
      ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ -n $choices ]]; then
    COMPREPLY=($(compgen -W "$choices" -- "$cur"))
  elif [[ -n $files ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  else
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  fi
}
complete -o filenames -F _jxrestart jxrestart
