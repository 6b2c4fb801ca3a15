# SPDX-License-Identifier: MIT
# bash completion for quira(1): commands, each command's options, the voice effects' names
# (asked of the quira being completed, `quira effects`) and the bit rates; file names elsewhere.

_quira() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -*) ;;
      *) command=${COMP_WORDS[i]}; break ;;
    esac
  done
  COMPREPLY=()
  if [ -z "$command" ]; then
    COMPREPLY=($(compgen -W "make info export extract repack effects play page
      -q --quiet -h --help -V --version" -- "$cur"))
    return
  fi

  case $prev in
    -e | --effect)
      local names
      names=$("${COMP_WORDS[0]}" effects 2>/dev/null | awk 'NR > 1 { print $2 }')
      COMPREPLY=($(compgen -W "none $names" -- "$cur"))
      return
      ;;
    -b | --bitrate)
      COMPREPLY=($(compgen -W "32 16" -- "$cur"))
      return
      ;;
    --format)
      COMPREPLY=($(compgen -W "wav flac ogg opus mp3 html" -- "$cur"))
      return
      ;;
    -l | --level) return ;;
    -o | --output) return ;;  # a file name, completed by readline
  esac

  local options=""
  case $command in
    make) options="-o --output -e --effect -l --level -b --bitrate -f --force" ;;
    info) options="--json" ;;
    export) options="-o --output --format --as-played --dry -e --effect -l --level" ;;
    extract) options="-o --output" ;;
    repack) options="-o --output -f --force" ;;
    page) options="-o --output --open" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options -q --quiet -h --help" -- "$cur"))
  fi
  # Otherwise an operand: a file name, which readline completes when nothing is offered here.
}
complete -o bashdefault -o default -F _quira quira
