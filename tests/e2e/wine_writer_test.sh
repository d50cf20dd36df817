#!/usr/bin/env bash
# The Windows AVI writer with the real compressor choice dialog under Wine and Xvfb:
# winauto accepts full frames in one run and cancels in another. The written files are
# checked by ffprobe and decoded by ffmpeg against the frames the writer drew; the files of
# the seam-driven writer tests and of the job at the path limit are checked as well.
set -u
. "$(dirname "$0")/lib.sh"
wine_e2e_start tests/zelvo_win32_tests.exe winauto.exe
tests="$build/tests/zelvo_win32_tests.exe"
run_tests() {  # run_tests FOLDER MODE FILTER
  ZELVO_WIN_TEST_OUT=$(winpath "$1") ZELVO_REAL_COMPRESSOR_DIALOG=$2 \
    wine_run 300 "$tests" --gtest_filter="$3" >"$1.log" 2>&1
}
field() { probe_field "$1" "$2"; }

# --- the dialog accepted with full frames -------------------------------------------
mkdir "$work/accept"
run_tests "$work/accept" accept 'RealCompressorDialog.AcceptedFullFramesWritesTheFrames' &
pid=$!
check "the compressor dialog is accepted with full frames" auto accept-compressor
wait $pid
status=$?
check "the writer test with the accepted dialog passes" test $status -eq 0
[ $status -eq 0 ] || tail -n 20 "$work/accept.log"
avi="$work/accept/dialog.avi"
check "ffprobe: rawvideo" test "$(field "$avi" codec_name)" = rawvideo
check "ffprobe: 37x20" test "$(field "$avi" width)x$(field "$avi" height)" = 37x20
check "ffprobe: 15000/1000 reads as 15/1" test "$(field "$avi" r_frame_rate)" = 15/1
check "ffprobe: 5 frames" test "$(field "$avi" nb_read_frames)" = 5
check "ffprobe: title VIDEO" test "$(field "$avi" TAG:title)" = VIDEO
check "ffmpeg decodes the frames the canvas held" cmp -s <(decode_rgb "$avi") "$work/accept/dialog.rgb"

# --- the test compressor chosen, with a key frame every 5, quality 5000, 300 KB/s -------
# The writer hands the choice to the compressing stream, which hands it to the codec: the
# codec's log says what arrived, the index where the key frames are.
if register_test_codec; then
  mkdir "$work/codec"
  run_tests "$work/codec" codec 'RealCompressorDialog.ChosenCodecGetsTheKeyFrameRateQualityAndDataRate' &
  pid=$!
  check "the test compressor is chosen in the compressor dialog" auto choose-compressor "Zelvo test codec"
  wait $pid
  status=$?
  check "the writer test with the test compressor passes" test $status -eq 0
  [ $status -eq 0 ] || tail -n 20 "$work/codec.log"
  avi="$work/codec/codec.avi"
  check "ffprobe: zlib, 37x20, 12 frames" test \
    "$(field "$avi" codec_name) $(field "$avi" width)x$(field "$avi" height) $(field "$avi" nb_read_frames)" = "zlib 37x20 12"
  check "strh: the chosen codec's FOURCC ZLIB" test "$(stream_handler "$avi")" = ZLIB
  check "ffmpeg decodes every frame as the canvas held it" cmp -s <(decode_rgb "$avi") "$work/codec/codec.rgb"
  check "key frames every 5 frames: 0, 5 and 10" test "$(key_frames "$avi")" = "0 5 10"
  check "the codec was handed quality 5000, key frames every 5, 300 KB/s as 307200 bytes per second" \
    grep -qx 'frames-info quality=5000 keyrate=5 datarate=307200 rate=15000 scale=1000' "$codec_log"
  check "every frame was compressed at quality 5000, key frames where asked" test \
    "$(sed -n 's/^frame=\([0-9]*\) key=1 quality=5000 .*/\1/p' "$codec_log" | tr '\n' ' ')" = "0 5 10 " -a \
    "$(grep -c '^frame=[0-9]* key=0 quality=5000 ' "$codec_log")" = 9
  check "the first frame is asked for its share of the data rate: 307200 x 1000 / 15000 bytes" \
    grep -q '^frame=0 key=1 quality=5000 request=20480 ' "$codec_log"
fi

# --- the dialog cancelled: nothing created ----------------------------------------
mkdir "$work/cancel"
run_tests "$work/cancel" cancel 'RealCompressorDialog.CancelledCreatesNothing' &
pid=$!
check "the compressor dialog is cancelled" auto cancel-compressor
wait $pid
status=$?
check "the writer test with the cancelled dialog passes" test $status -eq 0
[ $status -eq 0 ] || tail -n 20 "$work/cancel.log"
check "a cancelled choice leaves no file" test ! -e "$work/cancel/cancelled.avi"

# --- the writer's own files, as ffprobe reads them -----------------------------------
mkdir "$work/seam"
run_tests "$work/seam" none 'AviSaver.FullFramesFileReadsBackFrameForFrame:AviSaver.NegativeHeightBecomesBottomUpFrames'
check "the seam-driven writer tests pass" test $? -eq 0
while read -r name size rate frames; do
  f="$work/seam/$name"
  check "ffprobe $name: rawvideo $size at $rate, $frames frames, VIDEO" test \
    "$(field "$f" codec_name) $(field "$f" width)x$(field "$f" height) $(field "$f" r_frame_rate) $(field "$f" nb_read_frames) $(field "$f" TAG:title)" \
    = "rawvideo $size $rate $frames VIDEO"
done <<'EOF'
full_1x1.avi 1x1 15/1 4
full_5x3.avi 5x3 15/1 4
full_16x9.avi 16x9 2997/100 4
full_7x2.avi 7x2 30000/1001 4
topdown.avi 6x4 15/1 1
EOF

# --- the job's outputs at the path limit and under sound-file extensions ------------
# The job under the Windows host writes 259-byte outputs named "a.avi", ".avi" and "a",
# whose temporary names have no room for an extension, and outputs named .wav and .au,
# which AVIFile would take for sound files: each must be a movie of the three frames.
mkdir "$work/job"
run_tests "$work/job" none 'WindowsJob.OutputsAtThePathLimitAndOfAnyExtensionAreWritten'
status=$?
check "the job test at the path limit passes" test $status -eq 0
[ $status -eq 0 ] || tail -n 20 "$work/job.log"
for label in limit-a-avi limit-dot-avi limit-a wav au; do
  d="$work/job/job-$label"
  outputs=$(find "$d" -type f ! -name 'f?.bmp')
  check "$label: one output and nothing beside it" test "$(echo "$outputs" | grep -c .)" = 1
  f=$(echo "$outputs" | head -n 1)
  check "ffprobe $label ($(basename "$f")): rawvideo 4x2, 3 frames" test \
    "$(field "$f" codec_name) $(field "$f" width)x$(field "$f" height) $(field "$f" nb_read_frames)" = "rawvideo 4x2 3"
  check "$label: every frame equals its input" cmp -s <(decode_frames "$d"/f1.bmp "$d"/f2.bmp "$d"/f3.bmp) <(decode_rgb "$f")
done

# --- the progress dialog as another program sees it, stopped from outside -----------
title="AVIファイル出力"
for how in key close click; do
  ZELVO_OUTSIDE_PROGRESS=1 wine_run 300 "$tests" --gtest_filter='OutsideProgressDialog.*' >"$work/outside-$how.log" 2>&1 &
  pid=$!
  check "the progress dialog appears ($how)" auto wait-window "$title" 60
  check "its count reads 0/3 終了" test "$(auto text "$title" 1029 | tr -d '\r')" = "0/3 終了"
  check "its status shows the frame's path" test "$(auto text "$title" 1031 | tr -d '\r')" = 'C:\シーケンス\frame0001.bmp'
  case $how in
    key) check "Esc is pressed" auto key "$title" ESC ;;
    close) check "a WM_CLOSE is sent from outside" auto close "$title" ;;
    click) check "中止 is pressed" auto click "$title" 中止 ;;
  esac
  wait $pid
  check "the routine saw the abort and the dialog ended ($how)" test $? -eq 0
done

# --- a file size limit: the lost frames are reported, not passed off as written ------
# Last, so that no Wine helper process started under the limit serves the cases above.
mkdir "$work/limited"
(
  ulimit -f 1024  # 1 MiB; the writes beyond it fail instead of ending the process
  trap '' XFSZ
  export ZELVO_FILE_SIZE_LIMITED=1
  run_tests "$work/limited" none 'AviSaverLimit.WritePastTheFileSizeLimitFails'
) 2>/dev/null
status=$?
[ $status -eq 0 ] || tail -n 20 "$work/limited.log"
check "a write past the file size limit is reported" test $status -eq 0
check "the limited file really was cut short" test "$(stat -c %s "$work/limited/limited.avi")" -le 1048576

# --- a file of the Linux writer read back by Video for Windows -------------------------
zelvo="${ZELVO_NATIVE_BUILD:-$e2e_root/build/native}/zelvo"
if [ -x "$zelvo" ]; then
  mkdir "$work/linux"
  cp "$e2e_root"/samples/demo/frame*.bmp "$work/linux/"
  "$zelvo" -y -c dib "$work/linux/frame0001.bmp" </dev/null 2>/dev/null
  decode_rgb "$work/linux/frame.avi" >"$work/linux/frames.rgb"
  ZELVO_FOREIGN_AVI=$(winpath "$work/linux/frame.avi") ZELVO_FOREIGN_RGB=$(winpath "$work/linux/frames.rgb") \
    wine_run 300 "$tests" --gtest_filter='LinuxWrittenFile.*' >"$work/linux.log" 2>&1
  check "AVIFile reads the Linux writer's file: header and every frame" grep -q '^\[  PASSED  \] 1 test' "$work/linux.log"
  grep -q '^\[  PASSED  \] 1 test' "$work/linux.log" || tail -n 20 "$work/linux.log"
else
  echo "skip: the native zelvo is not built at $zelvo"
fi

finish
