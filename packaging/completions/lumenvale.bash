# bash completion for lumenvale

_lumenvale() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local i settings=-1
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == settings ]] && settings=$i
  done
  if ((settings > 0)); then
    local action=${COMP_WORDS[settings + 1]} key=${COMP_WORDS[settings + 2]}
    case $((COMP_CWORD - settings)) in
      1) COMPREPLY=($(compgen -W "get set" -- "$cur")) ;;
      2) COMPREPLY=($(compgen -W "allowDelete theme welcomed" -- "$cur")) ;;
      3)
        if [[ $action == set && $key == allowDelete ]]; then
          COMPREPLY=($(compgen -W "true false" -- "$cur"))
        elif [[ $action == set && $key == theme ]]; then
          COMPREPLY=($(compgen -W "system light dark" -- "$cur"))
        fi
        ;;
    esac
    return
  fi
  case $prev in
    --library | --data | --screenshots)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --name | --listen) COMPREPLY=(); return ;;
  esac
  COMPREPLY=($(compgen -W "--headless --quiet --verbose --library --data --name --listen --screenshots -h --help --version settings" -- "$cur"))
}
complete -F _lumenvale lumenvale
