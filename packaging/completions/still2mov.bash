# bash completion for still2mov: its subcommands, each one's options as its own --help lists
# them (so they never drift from the program), and the kind of file each argument takes.

# Prints the options that "PROGRAM [SUBCOMMAND] --help" lists, one per line: every line of its
# "Options:" block that starts, indented, with a dash, up to its description
# ("  -j, --jobs=N   Convert ..."). The list of commands below it is no list of options.
_still2mov_help_options() {
  local program=$1 subcommand=$2 line names part in_options=
  local -a parts
  while IFS= read -r line; do
    if [[ $line == "Options:" ]]; then in_options=1; continue; fi
    [[ $line =~ ^[[:space:]] ]] || in_options=
    [[ -n $in_options && $line =~ ^[[:space:]]+(-[^[:space:]].*)$ ]] || continue
    names=${BASH_REMATCH[1]%%  *}
    IFS=',' read -ra parts <<<"$names"
    for part in "${parts[@]}"; do
      part=${part#"${part%%[![:space:]]*}"}
      part=${part%%[= []*}
      [[ $part == -* ]] && printf '%s\n' "$part"
    done
  done < <("$program" ${subcommand:+"$subcommand"} --help 2>/dev/null)
}

# Directories, and files matching any of the patterns given.
_still2mov_files() {
  local IFS=$'\n' pattern
  compopt -o filenames 2>/dev/null
  COMPREPLY+=($(compgen -d -- "$cur"))
  for pattern in "$@"; do
    COMPREPLY+=($(compgen -f -X "!$pattern" -- "$cur"))
  done
}

_still2mov() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local program=${COMP_WORDS[0]} subcommand="" word i position=0 options_ended=""
  local -a jpeg=('*.[jJ][pP][gG]' '*.[jJ][pP][eE][gG]') wave=('*.[wW][aA][vV]')
  COMPREPLY=()
  # The program as typed, so that a build tree's still2mov answers for itself.
  [[ $program == */* && -x $program ]] || program=still2mov

  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $subcommand && -z $options_ended ]]; then
      case $word in
        convert | watch | --info | extract | embed | prefs | app | open | send) subcommand=$word; continue ;;
      esac
    fi
    if [[ $word == -- ]]; then
      options_ended=1
    elif [[ -n $options_ended || $word != -* ]]; then
      # A value that follows its option is not a file name.
      [[ ${COMP_WORDS[i-1]} == -j || ${COMP_WORDS[i-1]} == --jobs || ${COMP_WORDS[i-1]} == --poll ]] ||
        position=$((position + 1))
    fi
  done

  if [[ -z $options_ended && $cur == -* ]]; then
    local IFS=$'\n'
    local -a offered=($(_still2mov_help_options "$program" "${subcommand:-}"))
    [[ -z $subcommand ]] && offered+=(--info)
    COMPREPLY=($(compgen -W "${offered[*]}" -- "$cur"))
    return
  fi
  case $prev in
    -j | --jobs | --poll) return ;;
  esac

  case $subcommand in
    "")
      # The first word: a subcommand, or the photographs of a conversion.
      [[ $position -eq 0 ]] && COMPREPLY=($(compgen -W "convert watch extract embed prefs app open send" -- "$cur"))
      _still2mov_files "${jpeg[@]}"
      ;;
    watch)
      COMPREPLY=($(compgen -d -- "$cur"))
      ;;
    extract)
      if [[ $position -eq 0 ]]; then _still2mov_files "${jpeg[@]}"; else _still2mov_files "${wave[@]}"; fi
      ;;
    embed)
      if [[ $position -eq 0 ]]; then _still2mov_files "${wave[@]}"; else _still2mov_files "${jpeg[@]}"; fi
      ;;
    prefs)
      case $position in
        0) COMPREPLY=($(compgen -W "get set" -- "$cur")) ;;
        1) COMPREPLY=($(compgen -W "Resize_QT_Image Movie_Format" -- "$cur")) ;;
        2) if [[ ${COMP_WORDS[COMP_CWORD-2]} == set ]]; then
             case ${COMP_WORDS[COMP_CWORD-1]} in
               Movie_Format) COMPREPLY=($(compgen -W "mov mp4 motion" -- "$cur")) ;;
               *) COMPREPLY=($(compgen -W "true false" -- "$cur")) ;;
             esac
           fi ;;
      esac
      ;;
    *)
      _still2mov_files "${jpeg[@]}"
      ;;
  esac
}

complete -F _still2mov still2mov
