# bash completion for lumenvale-laptop

_lumenvale_laptop() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local global="-q --quiet -v --verbose -h --help --version"
  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      find | pair | devices | forget | watch | pull | safe | free) command=${COMP_WORDS[i]}; break ;;
    esac
  done
  case $prev in
    --parallel) COMPREPLY=($(compgen -W "1 2 4 8 16" -- "$cur")); return ;;
    --older-than) COMPREPLY=($(compgen -W "7d 30d 90d 1y" -- "$cur")); return ;;
    --code | --keep-recent | --device | --every) COMPREPLY=(); return ;;
  esac
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "find pair devices forget watch pull safe free $global" -- "$cur"))
    return
  fi
  local options=""
  case $command in
    find | devices) options="--json" ;;
    pair) options="--code" ;;
    watch) options="--device --every --once" ;;
    pull) options="--device --parallel --json" ;;
    safe) options="--device --json" ;;
    free) options="--device --dry-run --older-than --keep-recent --json" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
  elif [[ $command == watch || $command == pull || $command == safe || $command == free ]]; then
    # DEST: a folder.
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur"))
  fi
}
complete -F _lumenvale_laptop lumenvale-laptop
