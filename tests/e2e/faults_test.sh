#!/usr/bin/env bash
# Hostile input and bad luck against the Linux program: broken files as a frame in the
# middle of a sequence, frames that change while the job runs, outputs that cannot be
# written, a killed process, long and non-ASCII names, frames of every size and depth.
# The rule throughout: the job names the problem, leaves no partial file, and an older
# output is byte for byte what it was.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
zelvo="${ZELVO_NATIVE_BUILD:-$e2e_root/build/native}/zelvo"
[ -x "$zelvo" ] || { not_ok "zelvo is built at $zelvo"; finish; exit 1; }
work=$(mktemp -d)
trap 'chattr -i "$work"/ro 2>/dev/null; rm -rf "$work"' EXIT
bmpsuite="$e2e_root/../shared/corpus/bmpsuite"
crashers="$e2e_root/.cache/libpng/contrib/testpngs/crashers"
sample="$e2e_root/samples/demo"

no_temporaries() { ! ls -A "$1" | grep -q '~zelvo'; }

# A sequence of the first six sample frames with frame 4 replaced by FILE: the job must
# name frame 4, remove its output, keep the older one, and the program must not crash.
bad_middle_frame() {
  local file=$1 label=$2 n
  local d="$work/bad"
  rm -rf "$d"; mkdir "$d"
  for n in 1 2 3 5 6; do cp "$sample/frame000$n.bmp" "$d/s$n.bmp"; done
  cp "$file" "$d/s4.bmp"
  printf 'older' >"$d/s.avi"
  "$zelvo" -y -c dib "$d/s1.bmp" </dev/null >/dev/null 2>"$d/err"
  local r=$?
  if [ $r -eq 0 ]; then
    # Read safely instead of refused: then the whole file must be a complete movie.
    [ "$(probe_field "$d/s.avi" nb_read_frames)" = 6 ] && no_temporaries "$d" && return 0
    echo "  $label: read, but the output is not a complete 6-frame movie"; return 1
  fi
  [ $r -eq 1 ] || { echo "  $label: exit $r"; return 1; }
  grep -q "s4.bmp" "$d/err" && grep -q "^could not be read\.$" "$d/err" || { echo "  $label: frame not named"; cat "$d/err"; return 1; }
  [ "$(cat "$d/s.avi")" = older ] && no_temporaries "$d" || { echo "  $label: output not restored"; return 1; }
}

if [ -d "$bmpsuite/b" ]; then
  all=1
  for f in "$bmpsuite"/b/*.bmp; do bad_middle_frame "$f" "b/$(basename "$f")" || all=0; done
  check "every bad BMP of the suite as a middle frame: named or read, never a crash or a partial file" test $all = 1
else
  echo "skip: $bmpsuite is absent (bad BMP files)"
fi
if [ -d "$crashers" ]; then
  all=1
  for f in "$crashers"/*.png; do bad_middle_frame "$f" "crasher $(basename "$f")" || all=0; done
  check "every libpng crasher as a middle frame: named or read safely" test $all = 1
else
  echo "skip: $crashers is absent (run scripts/setup)"
fi
all=1
for f in "$e2e_root"/fuzz/regressions/*/* "$e2e_root"/fuzz/corpus/bmp/* "$e2e_root"/fuzz/corpus/png/*; do
  [ -f "$f" ] || continue
  bad_middle_frame "$f" "fuzz input $(basename "$f")" || all=0
done
check "every saved fuzz input as a middle frame: named or read safely" test $all = 1
for n in 10 54 55 200 1000; do
  head -c $n "$sample/frame0002.bmp" >"$work/trunc$n.bmp"
  bad_middle_frame "$work/trunc$n.bmp" "truncated to $n bytes"
  check "a frame truncated to $n bytes is handled" test $? -eq 0
done
head -c 5000 /dev/urandom >"$work/garbage.bmp"
bad_middle_frame "$work/garbage.bmp" garbage
check "a frame of random bytes is named" test $? -eq 0

# --- outputs that cannot be written ---------------------------------------------------
mkdir -p "$work/seq" "$work/ro"
cp "$sample"/frame00*.bmp "$work/seq/"
if chattr +i "$work/ro" 2>/dev/null; then
  "$zelvo" -y -c dib -o "$work/ro/out.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
  check "an unwritable output folder fails and names the output and the reason" \
    test $? -eq 1 -a -n "$(grep 'ro/out.avi' "$work/err")" -a -n "$(grep -x 'Operation not permitted' "$work/err")"
  chattr -i "$work/ro"
else
  chmod 555 "$work/ro"
  if [ "$(id -u)" -ne 0 ]; then
    "$zelvo" -y -c dib -o "$work/ro/out.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
    check "an unwritable output folder fails and names the output and the reason" \
      test $? -eq 1 -a -n "$(grep 'ro/out.avi' "$work/err")" -a -n "$(grep -x 'Permission denied' "$work/err")"
  else
    echo "skip: no way to make a folder unwritable for root here"
  fi
fi
mkdir "$work/seq/folder.avi"
"$zelvo" -y -c dib -o "$work/seq/folder.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
check "an output path that is a folder is a usage error naming it" test $? -eq 2 -a -n "$(grep 'folder.avi' "$work/err")"
check "the folder is still a folder, nothing left beside it" test -d "$work/seq/folder.avi" -a -z "$(ls "$work/seq" | grep '~zelvo')"
cp "$work/seq/frame0003.bmp" "$work/keep3.bmp"
ln -s frame0003.bmp "$work/seq/alias.avi"
for out in "$work/seq/frame0003.bmp" "$work/seq/alias.avi" "$work/seq/../seq/frame0003.bmp"; do
  "$zelvo" -y -c dib -o "$out" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
  r=$?
  check "an output that is one of the frames ($(basename "$out")) is refused, naming both" \
    test $r -eq 1 -a -n "$(grep -F "$out" "$work/err")" -a -n "$(grep 'frame0003.bmp' "$work/err")"
done
check "... and the frame is untouched" cmp -s "$work/seq/frame0003.bmp" "$work/keep3.bmp"
rm "$work/seq/alias.avi"

# --- a frame that changes while the job runs -------------------------------------------
mkdir "$work/live"
python3 - "$work/live" <<'PY'
import struct, sys
w, h = 320, 240
for k in range(300):
    data = bytes([k & 255, 60, 160]) * (w * h)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
    with open("%s/v%04d.bmp" % (sys.argv[1], k), "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data)
PY
for how in delete truncate garbage; do
  cp -r "$work/live" "$work/live-$how"
  d="$work/live-$how"
  printf 'older' >"$d/v.avi"
  "$zelvo" -y -c ffv1 "$d/v0000.bmp" </dev/null 2>"$d/err" &
  pid=$!
  for i in $(seq 1 2000); do ls "$d" | grep -q '~zelvo' && break; sleep 0.005; done
  kill -STOP $pid
  case $how in
    delete) rm "$d/v0250.bmp" ;;
    truncate) truncate -s 30 "$d/v0250.bmp" ;;
    garbage) head -c 230454 /dev/urandom >"$d/v0250.bmp" ;;
  esac
  kill -CONT $pid
  wait $pid
  r=$?
  check "a frame ${how}d during the job ends it (exit 1) naming the frame" test $r -eq 1 -a -n "$(grep 'v0250.bmp' "$d/err")"
  check "after the frame was ${how}d the older output stands, no temporary" test "$(cat "$d/v.avi")" = older -a -z "$(ls "$d" | grep '~zelvo')"
done

# --- a killed process never replaces the older file -------------------------------------
d="$work/live"
printf 'older' >"$d/v.avi"
for delay in 0.05 0.2 0.5 1; do
  "$zelvo" -y -c dib "$d/v0000.bmp" </dev/null 2>/dev/null &
  pid=$!
  sleep $delay
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  if [ "$(head -c 5 "$d/v.avi")" = older ]; then
    ok "killed after ${delay}s: the older output is untouched"
  elif [ "$(probe_field "$d/v.avi" nb_read_frames)" = 300 ]; then
    ok "killed after ${delay}s: the job had finished, the output is complete"
    printf 'older' >"$d/v.avi"
  else
    not_ok "killed after ${delay}s: the output is neither the older file nor complete"
  fi
  rm -f "$d"/*~zelvo* "$d"/~zelvo*
done

# --- names: long, spaced, non-ASCII --------------------------------------------------------
for len in 255 257 259; do
  base="$work/L"
  pad=$((len - ${#base} - 10))  # "/x0001.bmp" is 10 characters
  d="$base$(printf '%*s' "$pad" '' | tr ' ' d)"
  mkdir -p "$d"
  cp "$sample/frame0001.bmp" "$d/x0001.bmp"; cp "$sample/frame0002.bmp" "$d/x0002.bmp"
  p="$d/x0001.bmp"
  "$zelvo" -y -c dib "$p" </dev/null 2>/dev/null
  r=$?
  check "a frame path of ${#p} characters converts" test $r -eq 0 -a "$(probe_field "$d/x.avi" nb_read_frames)" = 2
  check "beside a ${#p}-character path no temporary is left" test -z "$(ls -A "$d" | grep '~')"
done
d="$work/名前 と 空白/Séquence ünïcödé"
mkdir -p "$d"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$d/ショット 00$n.bmp"; done
"$zelvo" -y -c dib "$d/ショット 002.bmp" </dev/null 2>/dev/null
check "UTF-8 names with spaces and non-ASCII letters convert" test $? -eq 0 -a "$(probe_field "$d/ショット .avi" nb_read_frames)" = 3

# --- frames of every size and depth in one sequence ---------------------------------------
d="$work/mixed"
mkdir "$d"
i=0
for shape in "64x48 -type truecolor bmp3" "80x60 -type palette -colors 2 bmp3" "32x24 -type palette -colors 16 bmp3" \
            "100x70 -type palette bmp3" "50x40 png" "70x50 -type truecolormatte png32" "64x48 -define bmp:format=bmp3 -depth 5 bmp" \
            "90x30 -type grayscale png8" "64x48 -type truecolormatte bmp"; do
  set -- $shape
  size=$1; shift
  fmt=${!#}; opts=("${@:1:$(($# - 1))}")
  i=$((i + 1))
  convert -size "$size" "plasma:fractal" -seed $i "${opts[@]}" "$fmt:$d/m$(printf %02d $i).bmp" 2>/dev/null ||
    convert -size "$size" "gradient:red-blue" "${opts[@]}" "$fmt:$d/m$(printf %02d $i).bmp"
done
"$zelvo" -y -c dib "$d/m01.bmp" </dev/null 2>"$d/err"
check "a sequence of mixed sizes, depths and formats converts" test $? -eq 0
check "it holds every frame at the first frame's size" test "$(probe_field "$d/m.avi" nb_read_frames)" = $i -a "$(probe_field "$d/m.avi" width)x$(probe_field "$d/m.avi" height)" = 64x48

finish
