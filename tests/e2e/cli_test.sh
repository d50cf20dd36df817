#!/usr/bin/env bash
# The Linux command-line program end to end: real sequences converted and checked with
# ffprobe and ffmpeg, questions answered on standard input, Ctrl-C, a file size limit,
# and the promise that an older output survives every outcome but success.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start

# --- the bundled sample: BMP, RLE8 and PNG frames under .bmp names ------------------
mkdir "$work/sample"
cp "$e2e_root"/samples/demo/frame*.bmp "$work/sample/"
"$zelvo" -y -c dib "$work/sample/frame0003.bmp" </dev/null 2>"$work/err"
check "sample converts with exit 0" test $? -eq 0
avi="$work/sample/frame.avi"
check "ffprobe: rawvideo" test "$(probe_field "$avi" codec_name)" = rawvideo
check "ffprobe: 96x64" test "$(probe_field "$avi" width)x$(probe_field "$avi" height)" = 96x64
check "ffprobe: 15 frames per second" test "$(probe_field "$avi" r_frame_rate)" = 15/1
check "ffprobe: all 12 frames (the whole run, not from the named frame)" test "$(probe_field "$avi" nb_read_frames)" = 12
check "ffprobe: stream title VIDEO" test "$(probe_field "$avi" TAG:title)" = VIDEO
# ffmpeg reads BMP, RLE8 BMP and PNG itself: its pictures are the oracle for ours.
decode_frames "$work"/sample/frame00{01,02,03,04,05,06,07,08,09,10,11,12}.bmp >"$work/expected.rgb" 2>/dev/null ||
  { mkdir "$work/png"; for f in "$work"/sample/frame*.bmp; do
      b=$(basename "$f" .bmp); if head -c 4 "$f" | grep -q PNG; then cp "$f" "$work/png/$b.png"; else cp "$f" "$work/png/$b.bmp"; fi; done
    decode_frames $(ls "$work"/png/* | sort) >"$work/expected.rgb"; }
decode_rgb "$avi" >"$work/actual.rgb"
check "every frame equals its input, pixel for pixel" cmp -s "$work/expected.rgb" "$work/actual.rgb"
check "the confirmation names first and last frame and the count" \
  test "$(head -n 4 "$work/err")" = "Zelvo: $work/sample/frame0001.bmp
to
$work/sample/frame0012.bmp
12 image(s) will be converted into"
check "the progress line ends at 12/12" grep -q "^12/12 done" "$work/err"
on_terminal "" "$zelvo" -y -c dib -o "$work/tty.avi" "$work/sample/frame0001.bmp" >"$work/tty"
check "on a terminal the progress line ends with a full bar at 12/12" \
  grep -qxE "\[#{24}\] 12/12 done  [0-9:]+ elapsed  [0-9.]+ frames/s  [0-9.]+ KiB  $work/sample/frame0012.bmp" \
  <<<"$(tr '\r' '\n' <"$work/tty" | grep -a ' done ' | tail -n 1 | sed 's/^\x1b\[K//')"

# --- rates, ranges, backwards ------------------------------------------------------
"$zelvo" -y -c dib -r 29.97 --first 10 --last 4 -o "$work/back.avi" "$work/sample/frame0005.bmp" </dev/null 2>/dev/null
check "backwards range converts" test $? -eq 0
check "29.97 reads as 2997/100" test "$(probe_field "$work/back.avi" r_frame_rate)" = 2997/100
check "29.97 is stored as 29970/1000" test "$(stream_rate "$work/back.avi")" = 29970/1000
check "backwards range holds 7 frames" test "$(probe_field "$work/back.avi" nb_read_frames)" = 7
decode_rgb "$work/back.avi" >"$work/back.rgb"
frame_bytes=$((96 * 64 * 3))
ok_order=1
for i in 0 1 2 3 4 5 6; do
  want=$((10 - i))
  cmp -s <(tail -c +$((i * frame_bytes + 1)) "$work/back.rgb" | head -c $frame_bytes) \
         <(tail -c +$(((want - 1) * frame_bytes + 1)) "$work/actual.rgb" | head -c $frame_bytes) || ok_order=0
done
check "backwards frames run 10, 9, ... 4" test $ok_order = 1
# Decode-ahead changes nothing in the file: one reader, and more readers than cores.
for t in 1 5; do
  "$zelvo" -y -c dib --threads $t -r 29.97 --first 10 --last 4 -o "$work/back$t.avi" "$work/sample/frame0005.bmp" </dev/null 2>/dev/null
  check "--threads $t writes the same file" cmp -s "$work/back.avi" "$work/back$t.avi"
done
"$zelvo" -y -c dib -r 30000/1001 -o "$work/ntsc.avi" "$work/sample/frame0001.bmp" </dev/null 2>/dev/null
check "an exact fraction keeps its rate" test "$(probe_field "$work/ntsc.avi" r_frame_rate)" = 30000/1001

# --- codecs ------------------------------------------------------------------------
codecs=$("$zelvo" --list-codecs | awk '{print $1}' | tr '\n' ' ')
check "--list-codecs offers dib mjpeg ffv1 huffyuv mpeg4, and h264 with its encoder ($codecs)" \
  test "${codecs% }" = "dib mjpeg ffv1 huffyuv mpeg4" -o "${codecs% }" = "dib mjpeg ffv1 huffyuv mpeg4 h264"
for codec in $codecs; do
  "$zelvo" -y -c "$codec" -o "$work/c-$codec.avi" "$work/sample/frame0001.bmp" </dev/null 2>"$work/c-$codec.err"
  r=$?
  n=$(probe_field "$work/c-$codec.avi" nb_read_frames 2>/dev/null)
  check "codec $codec writes 12 readable frames" test $r -eq 0 -a "$n" = 12
done
# Full-range pixels only where JPEG defines them: H.264 and MPEG-4 players expect the video range.
declare -A layout=([mjpeg]=yuvj420p [mpeg4]=yuv420p [h264]=yuv420p [dib]=bgr24)
for codec in "${!layout[@]}"; do
  [ -f "$work/c-$codec.avi" ] || continue
  got=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of default=nw=1:nk=1 "$work/c-$codec.avi")
  check "codec $codec stores $got, expected ${layout[$codec]}" test "$got" = "${layout[$codec]}"
done

# --- questions on standard input ---------------------------------------------------
echo "old movie" >"$work/sample/frame.avi"
printf 'n\n' | "$zelvo" -c dib "$work/sample/frame0001.bmp" 2>"$work/err"
check "declining the overwrite exits 1" test $? -eq 1
check "declining keeps the older file" test "$(cat "$work/sample/frame.avi")" = "old movie"
printf 'y\nn\n' | "$zelvo" -c dib "$work/sample/frame0001.bmp" 2>"$work/err"
check "declining the confirmation exits 1" test $? -eq 1
check "the older file survives a declined confirmation" test "$(cat "$work/sample/frame.avi")" = "old movie"
check "the overwrite question is asked in the program's words" grep -qx "This file already exists." "$work/err"
"$zelvo" -c dib "$work/sample/frame0001.bmp" </dev/null 2>/dev/null
check "end of input answers No" test $? -eq 1 -a "$(cat "$work/sample/frame.avi")" = "old movie"
check "no temporary file is left" no_temporaries "$work/sample"

# --- usage errors -------------------------------------------------------------------
"$zelvo" -r 0 "$work/sample/frame0001.bmp" </dev/null 2>"$work/err"
check "a rate of 0 is a usage error naming what is allowed" test $? -eq 2 -a -n "$(grep "0.001 to 120" "$work/err")"
"$zelvo" -c nosuch "$work/sample/frame0001.bmp" </dev/null 2>"$work/err"
check "an unknown codec is a usage error" test $? -eq 2 -a -n "$(grep "nosuch" "$work/err")"
"$zelvo" --first 40 "$work/sample/frame0001.bmp" </dev/null 2>"$work/err"
check "a first number outside the run is a usage error" test $? -eq 2 -a -n "$(grep "1 to 12" "$work/err")"
"$zelvo" -y "$work/sample/nosuch0001.bmp" </dev/null 2>/dev/null
check "a missing frame exits 1" test $? -eq 1
"$zelvo" --dry-run "$work/sample/frame0005" </dev/null >"$work/out" 2>&1
check "a frame named without its extension is found with .bmp added" \
  test $? -eq 0 -a -n "$(grep -F "$work/sample/frame0001.bmp to" "$work/out")"
"$zelvo" -y "$work/sample" </dev/null 2>"$work/err"
check "a folder as the frame is said to be one" grep -qx "zelvo: $work/sample: a folder, not a frame" "$work/err"

# What the options get wrong is a usage error before any question, and creates nothing.
mkdir "$work/odd" "$work/checks" "$work/checks/folder.avi"
convert -size 33x18 xc:red "bmp3:$work/odd/o1.bmp" && cp "$work/odd/o1.bmp" "$work/odd/o2.bmp"
s1="$work/sample/frame0001.bmp"
h264=$("$zelvo" --list-codecs | awk '$1 == "h264" {print "h264"}')
while IFS='|' read -r what args; do
  [ -n "$what" ] || continue
  case $args in *h264*) [ -n "$h264" ] || { echo "skip: $what (no H.264 encoder)"; continue; } ;; esac
  before=$(ls -laR "$work/sample" "$work/odd" "$work/checks")
  eval "set -- $args"
  (cd "$work/checks" && exec "$zelvo" "$@" <&- >"$work/out" 2>&1)
  r=$?
  check "usage error before any question, nothing created, no library's own line: $what" test $r -eq 2 \
    -a -z "$(grep -F '[y/n]' "$work/out")" -a -n "$(grep -x "Try 'zelvo --help'." "$work/out")" \
    -a -z "$(grep -E '^(x264 \[|\[[a-z0-9_]+ @ )' "$work/out")" \
    -a "$(ls -laR "$work/sample" "$work/odd" "$work/checks")" = "$before"
done <<EOF
an unknown --codec-options key|-c mjpeg --codec-options no_such_key=1 "$s1"
a --codec-options value the encoder refuses|-c mpeg4 --codec-options g=abc "$s1"
an H.264 preset that does not exist|-c h264 --codec-options preset=bogus "$s1"
an H.264 tune that does not exist|-c h264 --codec-options tune=film+bogus "$s1"
an H.264 profile that does not exist|-c h264 --codec-options profile=bogus "$s1"
codec options for full frames|--codec-options g=5 "$s1"
an empty output|-o "" "$s1"
an output that is a folder|-o folder.avi "$s1"
an output in a missing folder|-o no/such/out.avi "$s1"
an odd --size for mpeg4|-c mpeg4 --size 33x18 "$work/odd/o1.bmp"
an odd --size for h264 with an even first frame|-c h264 --size 32x17 "$s1"
a fraction just below 0.001 fps|-r 1/1001 "$s1"
a fraction above 120 fps|-r 120001/1000 "$s1"
a folder as the frame|"$work/sample"
EOF
"$zelvo" -c mpeg4 --size 33x18 "$work/odd/o1.bmp" <&- 2>"$work/err"
check "an odd --size names the codecs that take any size" grep -q "Codecs that take any size: dib, mjpeg" "$work/err"
for rate in 1/1000 120/1; do
  "$zelvo" -y -c dib -r "$rate" -o "$work/rate.avi" "$s1" </dev/null 2>/dev/null
  check "the rate $rate at the edge of the range is taken" test $? -eq 0 -a "$(probe_field "$work/rate.avi" r_frame_rate)" = "$rate"
done

# --- a long sequence: Ctrl-C, a second Ctrl-C, a file size limit -------------------
mkdir "$work/long"
python3 - "$work/long" <<'PY'
import struct, sys
w, h = 320, 240
stride = w * 3
for k in range(400):
    data = bytes([k & 255, 40, 200]) * (w * h)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
    with open("%s/L%04d.bmp" % (sys.argv[1], k), "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data)
PY
echo "older" >"$work/long/L.avi"
"$zelvo" -y -c ffv1 "$work/long/L0000.bmp" </dev/null 2>"$work/err" &
pid=$!
signal_when_writing $pid "$work/long" INT
wait $pid
r=$?
check "Ctrl-C ends the job as aborted (exit 1)" test $r -eq 1
check "Ctrl-C: one line says the job was aborted and nothing was written" \
  test "$(grep -c "aborted" "$work/err")" = 1 -a -n "$(grep -x "zelvo: aborted; nothing was written to $work/long/L.avi" "$work/err")"
check "after Ctrl-C the older file is intact" test "$(cat "$work/long/L.avi")" = "older"
check "after Ctrl-C no temporary file is left" no_temporaries "$work/long"
"$zelvo" -y -c ffv1 "$work/long/L0000.bmp" </dev/null 2>"$work/err" &
pid=$!
signal_when_writing $pid "$work/long" INT
sleep 0.01
kill -INT $pid 2>/dev/null
wait $pid
r=$?
# Whether the second interrupt finds the job still running is up to the scheduler; either
# ending is right as long as nothing partial is left and the older file stands.
check "two Ctrl-C end the program (exit 130, or 1 when the first ended it)" test $r -eq 130 -o $r -eq 1
check "after a second Ctrl-C the older file is intact" test "$(cat "$work/long/L.avi")" = "older"
check "after a second Ctrl-C no temporary file is left" no_temporaries "$work/long"
(ulimit -f 2048; exec "$zelvo" -y -c dib "$work/long/L0000.bmp" </dev/null 2>"$work/err")
r=$?
check "a full disk (file size limit) fails the job" test $r -eq 1
check "the user is told which file could not be written, and why" test -n "$(grep -x "Zelvo: $work/long/L.avi" "$work/err")" \
  -a -n "$(grep -x "could not be written." "$work/err")" -a -n "$(grep -x "File too large" "$work/err")"
check "after a full disk the older file is intact" test "$(cat "$work/long/L.avi")" = "older"
check "after a full disk no temporary file is left" no_temporaries "$work/long"

finish
