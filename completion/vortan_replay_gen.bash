# bash completion for vtu_replay_gen, vt_package, vt_package_check, vt_loggen,
# vt_replay and vt_sink: options, the commands of vt_package and vt_replay
# merge, and file or directory names where an option or argument takes one. Installed once per
# program name under share/bash-completion/completions; each copy registers
# all six.
#
# The long options of vt_loggen, vt_replay, vt_sink and vt_package_check are
# read from their own --help text, once per shell, so that they are always
# the ones the installed program knows.

# _vt_files [-d]: file names (directory names only with -d) matching $cur.
_vt_files() {
  local IFS=$'\n'
  if [[ ${1:-} == -d ]]; then
    COMPREPLY+=($(compgen -d -- "$cur"))
  else
    COMPREPLY+=($(compgen -f -- "$cur"))
  fi
  compopt -o filenames 2>/dev/null
}

# _vt_help_options PROGRAM: the --options of PROGRAM --help, cached.
_vt_help_options() {
  local var=_vt_opts_${1//[^a-zA-Z0-9_]/_}
  if [[ -z ${!var:-} ]]; then
    printf -v "$var" '%s' "$("$1" --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u | tr '\n' ' ')"
  fi
  printf '%s' "${!var}"
}

_vtu_replay_gen() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    -i) _vt_files; return ;;
    -d) COMPREPLY=($(compgen -W '0 1 2 3 4' -- "$cur")); return ;;
    -p) COMPREPLY=($(compgen -W '0 1' -- "$cur")); return ;;
    -c | -n) return ;;
  esac
  COMPREPLY=($(compgen -W '-i -f -d -c -p -u -N -n' -- "$cur"))
}

_vt_package() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W 'check profile plot preview --help --version' -- "$cur"))
    return
  fi
  local command=${COMP_WORDS[1]}
  case $prev in
    -o) _vt_files; [[ -z $cur || $cur == - ]] && COMPREPLY+=(-); return ;;
    -i | --results) _vt_files; return ;;
    --bucket) return ;;
  esac
  local options
  case $command in
    check) options='--trust-foreign-files --help' ;;
    profile) options='--json --bucket --trust-foreign-files --help' ;;
    plot) options='-o --force --bucket --results --trust-foreign-files --help' ;;
    preview) options='-i -f -u --json --bucket --help' ;;
    *) return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ $command != preview ]]; then
    _vt_files -d
  fi
}

_vt_package_check() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "-- $(_vt_help_options "${COMP_WORDS[0]}")" -- "$cur"))
  else
    _vt_files -d
  fi
}

# Programs of --name VALUE (or --name=VALUE) options; $1 names the options
# that take a directory, $2 those that take a file, $3 those that take no
# value. A positional argument is a directory.
_vt_long_options() {
  local dirs=$1 files=$2 flags=$3
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if [[ $cur == --*=* ]]; then
    local name=${cur%%=*}
    cur=${cur#*=}
    if [[ " $dirs " == *" $name "* ]]; then _vt_files -d; elif [[ " $files " == *" $name "* ]]; then _vt_files; fi
    return
  fi
  if [[ $prev == --* && " $flags " != *" $prev "* && $prev != *=* ]]; then
    if [[ " $dirs " == *" $prev "* ]]; then _vt_files -d; elif [[ " $files " == *" $prev "* ]]; then _vt_files; fi
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_vt_help_options "${COMP_WORDS[0]}")" -- "$cur"))
  else
    _vt_files -d
  fi
}

_vt_loggen() {
  _vt_long_options '--out' '' '--url-per-service --services-in-turn --quiet --help --version'
}

_vt_replay() {
  if [[ ${COMP_WORDS[1]:-} == merge ]] && ((COMP_CWORD > 1)); then
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W '--json --html --mixed-packages --help' -- "$cur"))
    else
      _vt_files  # the reports, or the file of --json and --html
    fi
    return
  fi
  if ((COMP_CWORD == 1)) && [[ ${COMP_WORDS[1]} != -* ]]; then
    local cur=${COMP_WORDS[1]}
    COMPREPLY=($(compgen -W merge -- "$cur"))
    _vt_files -d
    return
  fi
  _vt_long_options '' '--json --results --html --cacert' \
    '--quiet --insecure --retry-closed --trust-foreign-files --help --version'
}

_vt_sink() {
  _vt_long_options '' '--port-file --pid-file' '--background --quiet --help --version'
}

complete -F _vtu_replay_gen vtu_replay_gen
complete -F _vt_package vt_package
complete -F _vt_package_check vt_package_check
complete -F _vt_loggen vt_loggen
complete -F _vt_replay vt_replay
complete -F _vt_sink vt_sink
