#!/usr/bin/env bash
# The Linux command-line program end to end: real sequences converted and checked with
# ffprobe and ffmpeg, questions answered on standard input, Ctrl-C, a file size limit,
# and the promise that an older output survives every outcome but success.
set -u
. "$(dirname "$0")/lib.sh"
zelvo="${ZELVO_NATIVE_BUILD:-$e2e_root/build/native}/zelvo"
[ -x "$zelvo" ] || { not_ok "zelvo is built at $zelvo"; finish; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
check "the confirmation names first and last frame and the count" grep -q "12枚を" "$work/err"

# --- rates, ranges, backwards ------------------------------------------------------
"$zelvo" -y -c dib -r 29.97 --first 10 --last 4 -o "$work/back.avi" "$work/sample/frame0005.bmp" </dev/null 2>/dev/null
check "backwards range converts" test $? -eq 0
check "29.97 is stored as 29970/1000" test "$(probe_field "$work/back.avi" r_frame_rate)" = 2997/100
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
for codec in $("$zelvo" --list-codecs | awk '{print $1}'); do
  "$zelvo" -y -c "$codec" -o "$work/c-$codec.avi" "$work/sample/frame0001.bmp" </dev/null 2>"$work/c-$codec.err"
  r=$?
  n=$(probe_field "$work/c-$codec.avi" nb_read_frames 2>/dev/null)
  check "codec $codec writes 12 readable frames" test $r -eq 0 -a "$n" = 12
done

# --- questions on standard input ---------------------------------------------------
echo "old movie" >"$work/sample/frame.avi"
printf 'n\n' | "$zelvo" -c dib "$work/sample/frame0001.bmp" 2>"$work/err"
check "declining the overwrite exits 1" test $? -eq 1
check "declining keeps the older file" test "$(cat "$work/sample/frame.avi")" = "old movie"
printf 'y\nn\n' | "$zelvo" -c dib "$work/sample/frame0001.bmp" 2>"$work/err"
check "declining the confirmation exits 1" test $? -eq 1
check "the older file survives a declined confirmation" test "$(cat "$work/sample/frame.avi")" = "old movie"
check "the overwrite question is asked in the program's words" grep -q "このファイルはすでに存在します。" "$work/err"
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
check "the user is told which file could not be written" grep -q "に書き込めませんでした" "$work/err"
check "after a full disk the older file is intact" test "$(cat "$work/long/L.avi")" = "older"
check "after a full disk no temporary file is left" no_temporaries "$work/long"

finish
