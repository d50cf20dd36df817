#!/usr/bin/env bash
# zelvo.exe's main dialog under Wine and Xvfb, used as a person would: the input frame
# typed, the range narrowed, 29.97 frames per second typed, Run, full frames accepted in
# the compressor dialog; the AVI is checked with ffprobe and ffmpeg. Then, with the real
# keyboard and mouse: the range bars' shafts, the keyboard's way back after the compressor
# dialog and the writer's message, and a long compressed job after the overwrite question
# with Exit clicked on the way (and stopped by an unreadable frame, then whole); Exit ends
# the program with exit code 1.
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
decode_inputs "$work"/seq/frame000[3-9].bmp >"$work/expected.rgb"
check "frames 3 to 9 in order, each equal to its input" cmp -s "$work/expected.rgb" <(decode_rgb "$avi")
check "the dialog stays open after the job" auto wait-window "$title" 10

# The rest is driven with the real keyboard and mouse (xdotool on the Xvfb display), as the
# keyboard's way back into the dialog and the scroll bars' shafts are what it is about.
state() { auto state "$title" | tr -d '\r' | tr '\t' ' '; }
# Polls until the dialog's state (enabled, foreground, active, focused control id) is $1.
state_becomes() {
  local i
  for i in $(seq 1 50); do [ "$(state)" = "$1" ] && return 0; sleep 0.1; done
  echo "  state: $(state), expected $1"
  return 1
}
text_becomes() {  # text_becomes ID TEXT
  local i
  for i in $(seq 1 50); do [ "$(auto text "$title" "$1" | tr -d '\r')" = "$2" ] && return 0; sleep 0.1; done
  echo "  control $1 shows $(auto text "$title" "$1" | tr -d '\r'), expected $2"
  return 1
}
click_at() { xdotool mousemove "$1" "$2" click 1; }
# The compressor dialog's owner, whether it lies over it and whether the owner is enabled
# are $1 (see winauto compressor-owner).
compressor_owner_is() {
  local seen
  seen=$(auto compressor-owner | tr -d '\r' | tr '\t' '|')
  [ "$seen" = "$1" ] || { echo "  compressor dialog: $seen, expected $1"; return 1; }
}
click_control() {  # the middle of control $1 of the main dialog
  local l t r b
  read -r l t r b <<<"$(auto rect "$title" "$1" | tr -d '\r')"
  click_at $(((l + r) / 2)) $(((t + b) / 2))
}

# --- the range bars: a click in the shaft beside the thumb steps a page ------------------
mkdir "$work/run"
for n in $(seq 8 120); do : >"$work/run/img$(printf %03d "$n").bmp"; done
auto type "$title" 1024 "$(winpath "$work/run/img050.bmp")"
auto type "$title" 1060 50
read -r left right y <<<"$(auto shaft "$title" 1063 | tr -d '\r')"
click_at $((right - 2)) "$y"  # the shaft's right end: right of the thumb at 50 of 8..120
check "a click in the shaft right of the thumb steps a page: 50 to 60" text_becomes 1060 60
auto type "$title" 1060 110
click_at $((left + 1)) "$y"   # the shaft's left end: left of the thumb at 110
check "a click in the shaft left of the thumb steps a page back: 110 to 100" text_becomes 1060 100

# --- the keyboard comes back after the compressor dialog and the writer's message ------
mkdir "$work/keys"  # a sequence without a movie yet: no overwrite question comes first
cp "$e2e_root"/samples/demo/frame*.bmp "$work/keys/"
auto type "$title" 1024 "$(winpath "$work/keys/frame0005.bmp")"
click_control 1060
xdotool key shift+Tab shift+Tab shift+Tab shift+Tab  # the path, Browse, Exit, Run
check "the dialog has the keyboard, Run the focus" state_becomes "1 1 1 1"
xdotool key Return
check "Return runs: the compressor dialog is modal over the main dialog" \
  compressor_owner_is "$title|1|0"
xdotool key Escape
check "after Escape in the compressor dialog the keyboard is back on Run" state_becomes "1 1 1 1"
xdotool key Tab
check "Tab then moves on to Exit" state_becomes "1 1 1 2"
xdotool key shift+Tab
xdotool key Return
auto choose-compressor "MS-RLE" >/dev/null  # Wine's RLE codec takes no 24-bit frames
check "the writer says why it cannot write with that codec" \
  test "$(auto message AviSaver | tr -d '\r')" = "ストリームのフォーマットを設定するのに失敗しました。"
xdotool key Return
check "after the writer's message the keyboard is back on Run" state_becomes "1 1 1 1"

# --- after a question, the dialog stays disabled through the whole job ------------------
# 300 frames of 480x360 through the test compressor, over an older movie: the overwrite
# question comes first, and frame 150 cannot be read, so the job stops at its message
# until it is answered. Exit, clicked during the compressor dialog and during that
# message, must neither close the dialog nor leave the job running without it.
register_test_codec
long_sequence "$work/long" 300
mv "$work/long/L0150.bmp" "$work/L0150.bmp"
printf 'BM but no picture in it at all..........................................' >"$work/long/L0150.bmp"
echo older >"$work/long/L.avi"
auto type "$title" 1024 "$(winpath "$work/long/L0000.bmp")"
auto click "$title" 1
check "the overwrite question is answered Yes" auto answer-yes Zelvo
check "then the compressor dialog is modal over the main dialog, which stays disabled" \
  compressor_owner_is "$title|1|0"
click_control 2
auto choose-compressor "Zelvo test codec" >/dev/null
check "the job stops at the unreadable frame with its message" \
  test "$(auto message Zelvo | tr -d '\r')" = "$(winpath "$work/long/L0150.bmp")"$'\n'"を読めませんでした。"
check "the main dialog is disabled while the job's message is open" test "$(state | cut -d' ' -f1)" = 0
click_control 2
auto answer-ok Zelvo >/dev/null
auto wait-gone "AVIファイル出力" 60 >/dev/null
check "Exit clicked meanwhile did nothing: the dialog is there, enabled, with the keyboard" \
  state_becomes "1 1 1 1"
check "the failed job left the older movie and no temporary file" \
  test "$(cat "$work/long/L.avi")" = older -a -z "$(ls "$work/long" | grep '~')"

# The frame mended, Run again: the whole compressed movie replaces the older one.
mv "$work/L0150.bmp" "$work/long/L0150.bmp"
auto click "$title" 1
auto answer-yes Zelvo >/dev/null
auto choose-compressor "Zelvo test codec" >/dev/null
auto wait-window "AVIファイル出力" 30 >/dev/null
auto wait-gone "AVIファイル出力" 300 >/dev/null
check "after the job the dialog is enabled, with the keyboard" state_becomes "1 1 1 1"
avi="$work/long/L.avi"
check "the job replaced the older movie with 300 compressed frames" \
  test "$(probe_field "$avi" codec_name) $(probe_field "$avi" nb_read_frames) $(stream_handler "$avi")" = "zlib 300 ZLIB"
check "every frame equals its input" cmp -s <(long_sequence_rgb 300) <(decode_rgb "$avi")

auto click "$title" 2
wait $pid
check "Exit ends the program with exit code 1" test $? -eq 1

finish
