#!/usr/bin/env bash
# zelvo.exe's main dialog under Wine and Xvfb, used as a person would: the input frame
# typed, the range narrowed, 29.97 frames per second typed, Run, full frames accepted in
# the compressor dialog; the AVI is checked with ffprobe and ffmpeg, then Exit ends the
# program with exit code 1.
set -u
. "$(dirname "$0")/lib.sh"
wine_e2e_start zelvo.exe winauto.exe
title="Zelvo  Version 1.00"

mkdir "$work/seq"
cp "$e2e_root"/samples/demo/frame*.bmp "$work/seq/"

wine_run 600 "$exe" &
pid=$!
check "no arguments open the main dialog" auto wait-window "$title" 60
check "the count starts at 0" test "$(auto text "$title" 1062 | tr -d '\r')" = 0
auto type "$title" 1024 "$(winpath "$work/seq/frame0005.bmp")"
check "typing a frame finds its run: first 1" test "$(auto text "$title" 1060 | tr -d '\r')" = 1
check "typing a frame finds its run: last 12" test "$(auto text "$title" 1061 | tr -d '\r')" = 12
check "the count shows 12" test "$(auto text "$title" 1062 | tr -d '\r')" = 12
check "the output name is derived" test "$(auto text "$title" 1025 | tr -d '\r')" = "$(winpath "$work/seq/frame.avi")"
auto type "$title" 1060 3
auto type "$title" 1061 9
check "narrowing to 3..9 counts 7" test "$(auto text "$title" 1062 | tr -d '\r')" = 7
auto type "$title" 1058 29.97
check "the typed rate stays as typed" test "$(auto text "$title" 1058 | tr -d '\r')" = 29.97
auto click "$title" 1
check "Run asks for the codec; full frames accepted" auto accept-compressor
avi="$work/seq/frame.avi"
for i in $(seq 1 600); do [ -s "$avi" ] && break; sleep 0.1; done
auto wait-gone "AVIファイル出力" 60 >/dev/null
check "the job wrote the output" test -s "$avi"
check "ffprobe: 29.97 reads as 2997/100" test "$(probe_field "$avi" r_frame_rate)" = 2997/100
check "strh: dwRate/dwScale 29970/1000" test "$(stream_rate "$avi")" = 29970/1000
check "ffprobe: the 7 chosen frames" test "$(probe_field "$avi" nb_read_frames)" = 7
check "ffprobe: title VIDEO" test "$(probe_field "$avi" TAG:title)" = VIDEO
mkdir "$work/oracle"
for n in 03 04 05 06 07 08 09; do
  f="$work/seq/frame00$n.bmp"
  if head -c 4 "$f" | grep -q PNG; then cp "$f" "$work/oracle/$n.png"; else cp "$f" "$work/oracle/$n.bmp"; fi
done
decode_frames $(ls "$work"/oracle/* | sort) >"$work/expected.rgb"
check "frames 3 to 9 in order, each equal to its input" cmp -s "$work/expected.rgb" <(decode_rgb "$avi")
check "the dialog stays open after the job" auto wait-window "$title" 10
auto click "$title" 2
wait $pid
check "Exit ends the program with exit code 1" test $? -eq 1

finish
