# Bash completion for etiquem and etiquem-dic.
#
# Installed as share/bash-completion/completions/etiquem and, the same file,
# as .../etiquem-dic: bash-completion loads a command's script by the
# command's name, and either name defines both. Self-contained (compgen
# only), so it also works when sourced by hand:
#   source completion/etiquem.bash
# The option lists must match the programs' own; tests/install/completion_test.sh
# compares them with `etiquem --help` and the usage of etiquem-dic
# (`hunspell`, which its usage does not list, is tools/README.md's).

_etiquem() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    -f | -d)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    -b)
      # automaton files, and directories to reach them
      mapfile -t COMPREPLY < <(compgen -f -X '!*.bin' -- "$cur"; compgen -d -- "$cur")
      return
      ;;
  esac
  case $cur in
    --*) mapfile -t COMPREPLY < <(compgen -W '--help --version --utf8 --json' -- "$cur") ;;
    -*) mapfile -t COMPREPLY < <(compgen -W '-f -b -s -m -d -a -h --help --version --utf8 --json' -- "$cur") ;;
  esac
}

_etiquem_dic() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W 'compile dump info hunspell -h --help --version' -- "$cur")
    return
  fi
  case ${COMP_WORDS[1]} in
    compile)
      if [[ $prev == -o ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-o --dic --att --latin1 --utf8 -v' -- "$cur")
      else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      fi
      ;;
    hunspell)
      if [[ $prev == -o || $prev == -l ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-l -o -v' -- "$cur")
      else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      fi
      ;;
    dump | info)
      if ((COMP_CWORD == 2)); then
        mapfile -t COMPREPLY < <(compgen -f -X '!*.bin' -- "$cur"; compgen -d -- "$cur")
      fi
      ;;
  esac
}

complete -o filenames -F _etiquem etiquem
complete -o filenames -F _etiquem_dic etiquem-dic
