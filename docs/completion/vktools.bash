# bash completion for the vktools programs: vkburn vkram vklist vkcheck
# vkerase vkname vkwipe vkstart vksim vkports.
# Installed as .../bash-completion/completions/vktools with a link per
# program name; plain bash, it needs nothing from bash-completion itself.

# The loaders' source names: lane files NAME.X0 without the extension, and
# directories to descend into. The loaders open NAME.X0 as typed or
# upper-cased, so a name is offered as its file is called, and what was
# typed of it matches in either case ("b" offers BLINK for BLINK.X0); a
# lower-case .x0 file is not offered, as no loader can open it.
_vktools_sources() {
  local cur=$1 dir= f base
  compopt -o filenames 2>/dev/null
  [[ $cur == */* ]] && dir=${cur%/*}/
  for f in "$dir"*.X0; do
    [ -e "$f" ] || continue
    base=${f%.X0}
    [[ ${base^^} == "${cur^^}"* ]] && COMPREPLY+=("$base")
  done
  COMPREPLY+=($(compgen -d -- "$cur"))
}

_vktools() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prog=${1##*/}
  local options="-C1 -C2 -C3 -C4 -H -I --help --version"
  COMPREPLY=()
  [ "$prog" = vkburn ] && options+=" -Ms -Mf"
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [ "$prog" = vkburn ] || [ "$prog" = vkram ]; then
    _vktools_sources "$cur"
  fi
}

_vksim() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  COMPREPLY=()
  case $prev in
    --flash|--trace|--ram-dump|--replay)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
    --baud)
      COMPREPLY=($(compgen -W "115200 38400" -- "$cur"))
      return ;;
    --adapter)
      COMPREPLY=($(compgen -W "ft232r cp2102 ch340 pl2303" -- "$cur"))
      return ;;
    --port|--program|--idle-timeout|--latency|--cts-delay|--cts-drop-delay|--fillers-7f|\
    --fillers-ff|--echo-fault|--checksum-fault|--result|--silent-after|--stale|--sync-ignore|\
    --late-result|--reply-checksum-fault|--fail|--autoboot|--autostart-status|--corrupt|\
    --odd-entry|--ram-checksum-fault|--usbip|--unplug-after)
      return ;;
  esac
  COMPREPLY=($(compgen -W "--port --baud --flash --program --trace --trace-times --once
    --idle-timeout --pace --latency --cts-delay --cts-drop-delay --fillers-7f --fillers-ff
    --echo-fault --checksum-fault --result --silent-after --stale --cts-high --cts-stuck
    --no-cts --sync-junk --sync-ignore --late-result --reply-checksum-fault --fail --autoboot
    --autostart-status --corrupt --odd-entry --ram-checksum-fault --ram-dump --replay --usbip
    --adapter --unplug-after --help --version" -- "$cur"))
}

_vkports() {
  COMPREPLY=($(compgen -W "--help --version" -- "${COMP_WORDS[COMP_CWORD]}"))
}

complete -F _vktools vkburn vkram vklist vkcheck vkerase vkname vkwipe vkstart
complete -F _vksim vksim
complete -F _vkports vkports
