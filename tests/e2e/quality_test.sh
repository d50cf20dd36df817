#!/usr/bin/env bash
# --quality reaches every codec that has a quality scale: a higher quality gives a larger
# file that is closer to the input frames (PSNR from ffmpeg's psnr filter), and no
# --quality is the documented default of MJPEG and MPEG-4 (quantiser 3).
set -u
. "$(dirname "$0")/lib.sh"
native_e2e_start

ffmpeg -v error -f lavfi -i "testsrc2=size=160x120:rate=15" -frames:v 8 -pix_fmt bgr24 "$work/f%04d.bmp"
# Average PSNR of a movie against the frames, in dB.
psnr() {
  ffmpeg -nostdin -i "$1" -framerate 15 -i "$work/f%04d.bmp" \
    -lavfi "[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p' | tail -1
}
rising() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

codecs="mjpeg mpeg4"
"$zelvo" --list-codecs | grep -q '^h264' && codecs="$codecs h264"
for codec in $codecs; do
  previous_size=0 previous_psnr=0
  for quality in 10 50 90; do
    out="$work/$codec-$quality.avi"
    "$zelvo" -y -c "$codec" --quality "$quality" -o "$out" "$work/f0001.bmp" </dev/null 2>/dev/null
    check "$codec at quality $quality writes 8 frames" test "$(probe_field "$out" nb_read_frames)" = 8
    size=$(stat -c %s "$out")
    value=$(psnr "$out")
    echo "     $codec quality $quality: $size bytes, PSNR $value dB"
    check "$codec: quality $quality gives a larger file than the quality below" rising "$previous_size" "$size"
    check "$codec: quality $quality comes closer to the input than the quality below" rising "$previous_psnr" "$value"
    previous_size=$size previous_psnr=$value
  done
done
# The default's quality: quantiser 3 is quality 95 to 98 (31 - (29q + 50) / 100).
for codec in mjpeg mpeg4; do
  "$zelvo" -y -c "$codec" -o "$work/$codec-default.avi" "$work/f0001.bmp" </dev/null 2>/dev/null
  "$zelvo" -y -c "$codec" --quality 96 -o "$work/$codec-96.avi" "$work/f0001.bmp" </dev/null 2>/dev/null
  check "$codec without --quality is quantiser 3 (quality 96)" cmp -s "$work/$codec-default.avi" "$work/$codec-96.avi"
  check "$codec at its default writes 8 frames" test "$(probe_field "$work/$codec-default.avi" nb_read_frames)" = 8
done
# H.264 at its defaults is the stream ffmpeg's x264 makes with the same settings, byte for
# byte: what Zelvo asks of x264 beside them (no look-ahead thread, no huge pages) only
# saves memory.
if echo "$codecs" | grep -q h264; then
  "$zelvo" -y -c h264 -o "$work/h264.avi" "$work/f0001.bmp" </dev/null 2>/dev/null
  ffmpeg -v error -y -framerate 15 -i "$work/f%04d.bmp" -sws_flags bicubic+accurate_rnd+full_chroma_int \
    -c:v libx264 -pix_fmt yuv420p -crf 18 -bf 0 -rc-lookahead 10 -f h264 "$work/ffmpeg.h264"
  check "h264 at its defaults: ffmpeg's x264 stream with the same settings, byte for byte" \
    cmp -s <(ffmpeg -v error -i "$work/h264.avi" -c:v copy -f h264 -) "$work/ffmpeg.h264"
fi

finish
