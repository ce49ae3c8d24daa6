# Sourced by the processor checks. compare_frames NATIVE OTHER NAME SCRIPT:
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
