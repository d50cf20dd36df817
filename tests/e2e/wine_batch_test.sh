#!/usr/bin/env bash
# zelvo.exe under Wine and Xvfb, driven as a user would drive it: frames on the command
# line, the confirmation answered, full frames accepted in the compressor dialog, the
# abort button pressed mid-way, the main dialog opened for an unusable argument. Every AVI
# is checked with ffprobe and its frames against ffmpeg's reading of the inputs.
set -u
. "$(dirname "$0")/lib.sh"
wine_e2e_start zelvo.exe winauto.exe

# Frames: 24-bit BMP, RLE8 BMP and PNG mixed (the bundled sample).
mkdir "$work/seq"
cp "$e2e_root"/samples/demo/frame*.bmp "$work/seq/"

# --- one frame on the command line: confirmation, compressor dialog, result ----------
wine_run 300 "$exe" "$(winpath "$work/seq/frame0004.bmp")" &
pid=$!
check "the confirmation is asked" auto answer-yes Zelvo
check "the compressor dialog is accepted with full frames" auto accept-compressor
wait $pid
check "a batch that converted exits 0" test $? -eq 0
avi="$work/seq/frame.avi"
check "ffprobe: rawvideo" test "$(probe_field "$avi" codec_name)" = rawvideo
check "ffprobe: 96x64" test "$(probe_field "$avi" width)x$(probe_field "$avi" height)" = 96x64
check "ffprobe: 15000/1000 reads as 15/1" test "$(probe_field "$avi" r_frame_rate)" = 15/1
check "ffprobe: 12 frames" test "$(probe_field "$avi" nb_read_frames)" = 12
check "ffprobe: title VIDEO" test "$(probe_field "$avi" TAG:title)" = VIDEO
decode_inputs "$work"/seq/frame*.bmp >"$work/expected.rgb"
decode_rgb "$avi" >"$work/actual.rgb"
check "every frame equals its input" cmp -s "$work/expected.rgb" "$work/actual.rgb"

# --- declining keeps an older file --------------------------------------------------
cp "$avi" "$work/older.avi"
wine_run 300 "$exe" "$(winpath "$work/seq/frame0001.bmp")" &
pid=$!
check "the overwrite question is asked" auto answer-yes Zelvo
check "the confirmation is declined" auto answer-no Zelvo
wait $pid
check "a declined batch still exits 0" test $? -eq 0
check "declining keeps the older file byte for byte" cmp -s "$avi" "$work/older.avi"

# --- abort during a long sequence -----------------------------------------------------
long_sequence "$work/long" 500
echo "older" >"$work/long/L.avi"
wine_run 600 "$exe" "$(winpath "$work/long/L0000.bmp")" &
pid=$!
auto answer-yes Zelvo >/dev/null   # overwrite
auto answer-yes Zelvo >/dev/null   # confirmation
# The abort is pressed the moment the progress dialog shows, by a winauto started before
# the codec is accepted, so the job is surely still running.
auto click "AVIファイル出力" 中止 &
clicker=$!
auto accept-compressor >/dev/null
wait $clicker
check "the abort button is pressed on the progress dialog" test $? -eq 0
wait $pid
check "an aborted batch exits 0" test $? -eq 0
check "after the abort the older file is intact" test "$(head -c 5 "$work/long/L.avi")" = older
check "after the abort no temporary file is left" test -z "$(ls "$work/long" | grep '~zelvo')"

# --- arguments that open the main dialog, or none --------------------------------------
wine_run 60 "$exe" -x /q
check "arguments that are all switches exit 0 without a window" test $? -eq 0
wine_run 120 "$exe" "$(winpath "$work/seq/nosuch0001.bmp")" &
pid=$!
check "an unusable argument opens the main dialog" auto wait-window "Zelvo  Version 1.00" 60
check "the main dialog's Exit button closes it" auto click "Zelvo  Version 1.00" 2
wait $pid
check "the dialog having been shown, the exit code is 1" test $? -eq 1

finish
