# Sourced by the processor checks.
#
# compare_frames NATIVE OTHER NAME SCRIPT:
# every frame in NATIVE (this machine's) against the one of the same name in
# OTHER, byte for byte; says which differ (the first five) or that all are
# the same. Fails where any differ.
compare_frames() {
  local native="$1" other="$2" name="$3" script="$4" different=0 f
  for f in "$native"/frame_*.png; do
    if ! cmp -s "$f" "$other/$(basename "$f")"; then
      [ "$different" -lt 5 ] && echo "$script: $name: $(basename "$f") differs from this machine's" >&2
      different=$((different + 1))
    fi
  done
  if [ "$different" -ne 0 ]; then
    echo "$script: $name: $different frames differ" >&2
    return 1
  fi
  echo "$name: $(ls "$native" | grep -c '^frame_') frames the same as this machine's"
}

# capture_frames DATA OUT NAME COMMAND...: the show's frames to $frames s,
# two a second, from COMMAND (the capture program, or an emulator running
# it) started in DATA (the folder holding data/), to OUT/NAME. The
# emulator's warning about features it does not model is left out.
capture_frames() {
  local data="$1" out="$2" name="$3"
  shift 3
  echo "== $name: the show's frames to $frames s"
  (cd "$data" && "$@" --fps 2 --to "$frames" --png --no-video --out "$out/$name" \
    2> >(grep -v "TCG doesn't support" >&2) >/dev/null)
}

# parse_options SCRIPT ARGS...: a folder sets build (left as it was
# otherwise), --frames S sets frames; anything else ends the script.
parse_options() {
  local script="$1"
  shift
  frames=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --frames) frames="${2:?--frames needs seconds}"; shift 2 ;;
      -*) echo "$script: unknown option $1" >&2; exit 2 ;;
      *) build="$1"; shift ;;
    esac
  done
}
