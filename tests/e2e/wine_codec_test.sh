#!/usr/bin/env bash
# zelvo.exe's compressed path under Wine and Xvfb: the project's test compressor (LCL
# "ZLIB", see tests/win32/compressor) chosen in the real compressor dialog. Every file is
# decoded by ffmpeg and compared frame by frame with the inputs; the stream header, the
# key frames of the index and what the codec was handed are checked; an abort, a frame the
# codec refuses, an unreadable frame and the 2 GiB limit each leave nothing behind.
set -u
. "$(dirname "$0")/lib.sh"
wine_e2e_start zelvo.exe winauto.exe
register_test_codec || { finish; exit 1; }
codec="Zelvo test codec"

# Runs a batch of one frame path with the test compressor: answers the questions (Yes to
# as many as $2 says), chooses the codec, answers OK to the job's message if one comes and
# prints it. The program's exit code goes to $work/status.
batch() {
  wine_run 600 "$exe" "$(winpath "$1")" &
  local pid=$! i message
  for i in $(seq 1 "${2:-1}"); do auto answer-yes Zelvo >/dev/null; done
  auto choose-compressor "$codec" >/dev/null
  message=$(WINAUTO_TIMEOUT=${3:-8} auto message Zelvo) || message=""
  message=${message//$'\r'/}
  [ -n "$message" ] && auto answer-ok Zelvo >/dev/null
  wait $pid
  echo $? >"$work/status"
  printf '%s' "$message"
}

# --- a batch through the test compressor -------------------------------------------
mkdir "$work/seq"
cp "$e2e_root"/samples/demo/frame*.bmp "$work/seq/"
: >"$codec_log"
message=$(batch "$work/seq/frame0004.bmp")
check "a compressed batch converts without a message (${message:-none})" test -z "$message" -a "$(cat "$work/status")" = 0
avi="$work/seq/frame.avi"
check "ffprobe: zlib, 96x64, 12 frames at 15/1, title VIDEO" test \
  "$(probe_field "$avi" codec_name) $(probe_field "$avi" width)x$(probe_field "$avi" height) $(probe_field "$avi" nb_read_frames) $(probe_field "$avi" r_frame_rate) $(probe_field "$avi" TAG:title)" \
  = "zlib 96x64 12 15/1 VIDEO"
check "strh: the chosen codec's FOURCC ZLIB, dwRate/dwScale 15000/1000" test \
  "$(stream_handler "$avi") $(stream_rate "$avi")" = "ZLIB 15000/1000"
check "every frame equals its input" cmp -s <(decode_inputs "$work"/seq/frame*.bmp) <(decode_rgb "$avi")
# The dialog under Wine has no key-frame or data-rate field and the program presets
# neither: every frame is a key frame, the quality is the codec's default.
check "no key-frame rate asked: every frame a key frame" test "$(key_frames "$avi")" = "$(seq -s ' ' 0 11)"
check "the codec was handed its default quality, no key-frame rate and no data rate" \
  grep -qx 'frames-info quality=7500 keyrate=1 datarate=0 rate=15000 scale=1000' "$codec_log"
check "the codec compressed the 12 frames" test "$(grep -c '^frame=[0-9]* key=1 quality=7500 ' "$codec_log")" = 12

# --- long sequences for the failures ------------------------------------------------
# 200 frames of 480x360 (an older movie of the output's name must survive each failure).
make_long() {
  long_sequence "$1" 200
  echo older >"$1/L.avi"
}
untouched() { test "$(cat "$1/L.avi")" = older -a -z "$(ls "$1" | grep '~')"; }

# --- abort mid-job --------------------------------------------------------------------
make_long "$work/abort"
wine_run 600 "$exe" "$(winpath "$work/abort/L0000.bmp")" &
pid=$!
auto answer-yes Zelvo >/dev/null   # overwrite
auto answer-yes Zelvo >/dev/null   # confirmation
auto click "AVIファイル出力" 中止 &
clicker=$!
auto choose-compressor "$codec" >/dev/null
wait $clicker
check "the abort button is pressed during the compressed job" test $? -eq 0
wait $pid
check "after the abort the older movie is intact and no temporary file is left" untouched "$work/abort"

# --- a frame the codec refuses mid-job ------------------------------------------------
make_long "$work/refused"
message=$(ZELVO_TEST_CODEC_FAIL_AT=7 batch "$work/refused/L0000.bmp" 2)
check "a frame the codec refuses is reported as the output not written" \
  test "$message" = "$(winpath "$work/refused/L.avi")"$'\n'"に書き込めませんでした。"
check "after the refused frame the older movie is intact and no temporary file is left" untouched "$work/refused"

# --- an unreadable frame mid-job --------------------------------------------------------
make_long "$work/broken"
printf 'BM garbage, no picture in it at all...........................................' >"$work/broken/L0005.bmp"
message=$(batch "$work/broken/L0000.bmp" 2)
check "an unreadable frame of a compressed job is named" \
  test "$message" = "$(winpath "$work/broken/L0005.bmp")"$'\n'"を読めませんでした。"
check "after the unreadable frame the older movie is intact and no temporary file is left" untouched "$work/broken"

# --- the 2 GiB limit of AVI 1.0 files, with compression ---------------------------------
# Small frames that the codec pads to 32 MiB each: the 64th would take the file past
# 2 GiB. The job stops there with its message and discards the file.
mkdir "$work/big"
for n in $(seq -w 1 80); do cp "$e2e_root/samples/demo/frame0001.bmp" "$work/big/b$n.bmp"; done
: >"$codec_log"
message=$(ZELVO_TEST_CODEC_PAD=33554432 batch "$work/big/b01.bmp" 1 600)
check "the 2 GiB limit stops the compressed job with its message" \
  test "$message" = "$(winpath "$work/big/b.avi")"$'\n'"は2GBを超えるため、これ以上書き込めません。"$'\n'"圧縮する形式を選ぶとファイルを小さくできます。"
check "past the limit nothing is left" test ! -e "$work/big/b.avi" -a -z "$(ls "$work/big" | grep '~')"
check "the codec had compressed frames up to the limit" test "$(grep -c '^frame=' "$codec_log")" -ge 63

finish
