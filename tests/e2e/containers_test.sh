#!/usr/bin/env bash
# MKV, MP4, MOV and AVI out, a sound track in, one size for every frame: each container with
# each codec it holds, read back by ffprobe and ffmpeg (container, codec, frames, exact rate,
# pixels, the sound's codec and length), --size and odd sizes by their pixels, the usage
# errors that come before anything is written, and for each container a broken frame, an
# abort and signals leaving an older output byte for byte and no temporary file.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start

seq="$work/seq"
mkdir "$seq"
# A picture as smooth as a render, so that the lossy codecs' PSNR measures them, not the
# 4:2:0 layout's loss on hard colour edges.
ffmpeg -v error -f lavfi -i "testsrc2=size=64x48:rate=25,gblur=sigma=1.2" -frames:v 12 -pix_fmt bgr24 "$seq/f%02d.bmp"
decode_frames "$seq"/f*.bmp >"$work/seq.rgb"
ffmpeg -v error -f lavfi -i anoisesrc=sample_rate=44100:duration=3:seed=5 -ac 2 "$work/noise.wav"
ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=3 -c:a libvorbis -strict -2 "$work/tone.ogg" 2>/dev/null ||
  cp "$work/noise.wav" "$work/tone.ogg"
movie_seconds=0.4004  # 12 frames at 30000/1001

# PSNR in dB of two raw RGB streams of equal length (99 when equal; 0 when they differ in length).
psnr_of() {
  python3 - "$1" "$2" <<'PY'
import math, sys
a, b = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
if len(a) != len(b) or not a: print(0); sys.exit()
s = sum((x - y) ** 2 for x, y in zip(a, b))
print(99 if s == 0 else round(10 * math.log10(255 * 255 * len(a) / s), 2))
PY
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
# Seconds of sound in a movie, counted by decoding it.
sound_seconds() {
  local bytes
  bytes=$(ffmpeg -v error -i "$1" -map 0:a:0 -f s16le -ac 1 -ar 48000 - | wc -c)
  awk -v b="$bytes" 'BEGIN { printf "%.4f", b / 96000 }'
}
within_a_frame() { awk -v a="$1" -v b="$movie_seconds" 'BEGIN { d = a - b; exit !(d <= 1001 / 30000 && d >= -1001 / 30000) }'; }

# --- each container with each codec it holds, with sound ------------------------------------
declare -A format_name=([avi]=avi [mkv]=matroska,webm [mp4]=mov,mp4,m4a,3gp,3g2,mj2 [mov]=mov,mp4,m4a,3gp,3g2,mj2)
declare -A sound_codec=([avi]=pcm_s16le [mkv]=flac [mp4]=aac [mov]=aac)
declare -A holds=([avi]="dib mjpeg ffv1 huffyuv mpeg4 h264" [mkv]="mjpeg ffv1 huffyuv mpeg4 h264"
                  [mp4]="mjpeg mpeg4 h264" [mov]="dib mjpeg ffv1 huffyuv mpeg4 h264")
declare -A probe_codec=([dib]=rawvideo [mjpeg]=mjpeg [ffv1]=ffv1 [huffyuv]=huffyuv [mpeg4]=mpeg4 [h264]=h264)
available=$("$zelvo" --list-codecs | awk '{print $1}')
for container in avi mkv mp4 mov; do
  for codec in ${holds[$container]}; do
    echo "$available" | grep -qx "$codec" || { echo "skip: no $codec encoder here"; continue; }
    out="$work/$codec.$container"
    "$zelvo" -y -c "$codec" -r 30000/1001 --audio "$work/noise.wav" -o "$out" "$seq/f01.bmp" </dev/null >/dev/null 2>"$work/err"
    r=$?
    what="$codec in $container"
    got="$(ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 "$out" 2>/dev/null),$(probe_field "$out" codec_name),$(probe_field "$out" nb_read_frames),$(probe_field "$out" r_frame_rate)"
    check "$what: exit 0; ffprobe reads ${format_name[$container]}, ${probe_codec[$codec]}, 12 frames at 30000/1001" \
      test "$r,$got" = "0,${format_name[$container]},${probe_codec[$codec]},12,30000/1001"
    decode_rgb "$out" >"$work/got.rgb"
    case $codec in
      dib | ffv1 | huffyuv) check "$what: every pixel is its input's" cmp -s "$work/got.rgb" "$work/seq.rgb" ;;
      *) db=$(psnr_of "$work/got.rgb" "$work/seq.rgb")
         check "$what: PSNR $db dB against the input, at least 30" at_least "$db" 30 ;;
    esac
    seconds=$(sound_seconds "$out")
    check "$what: the sound is ${sound_codec[$container]}, $seconds s long (the video's $movie_seconds s, within a frame)" \
      test "$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$out")" = "${sound_codec[$container]}" -a \
      -n "$(within_a_frame "$seconds" && echo yes)"
    rm -f "$out"
  done
done
check "no temporary file is left" no_temporaries "$work"

# The sound in AVI is the file's own samples; a backward run keeps it forward.
"$zelvo" -y -c ffv1 -r 25 --first 12 --last 1 --audio "$work/noise.wav" -o "$work/back.avi" "$seq/f01.bmp" </dev/null 2>/dev/null
ffmpeg -v error -i "$work/noise.wav" -f s16le - 2>/dev/null | head -c $((44100 * 12 / 25 * 4)) >"$work/want.pcm"
ffmpeg -v error -i "$work/back.avi" -map 0:a -f s16le - >"$work/got.pcm"
check "a backward run: frames 12 down to 1, the sound forward, sample for sample" \
  cmp -s "$work/got.pcm" "$work/want.pcm"
decode_rgb "$work/back.avi" | tail -c $((64 * 48 * 3)) | cmp -s - <(decode_rgb "$seq/f01.bmp")
check "... and its last frame is frame 1" test $? -eq 0
"$zelvo" -y -c h264 --audio "$work/tone.ogg" -o "$work/ogg.mp4" "$seq/f01.bmp" </dev/null 2>/dev/null
check "an Ogg file becomes AAC in MP4" \
  test "$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$work/ogg.mp4")" = aac

# --- one size for every frame: --size ------------------------------------------------------
# A landscape and a portrait frame fitted into 96x96: centred, black bars, the picture as
# ffmpeg scales it.
fit="$work/fit"
mkdir "$fit"
cp "$seq/f01.bmp" "$fit/m1.bmp"
ffmpeg -v error -i "$seq/f02.bmp" -vf transpose=1 -pix_fmt bgr24 "$fit/m2.bmp"
"$zelvo" -y -c ffv1 --size 96x96 -o "$fit/fit.mkv" "$fit/m1.bmp" </dev/null 2>"$work/err"
check "--size 96x96: exit 0, 96x96, nothing said of sizes that differ" \
  test $? -eq 0 -a "$(probe_field "$fit/fit.mkv" width)x$(probe_field "$fit/fit.mkv" height)" = 96x96 -a \
  -z "$(grep 'differ in size' "$work/err")"
ffmpeg -v error -i "$fit/fit.mkv" -f rawvideo -pix_fmt rgb24 "$fit/got.rgb"
# The expected pictures: each frame scaled by ffmpeg into its box, on black.
ffmpeg -v error -i "$fit/m1.bmp" -vf scale=96:72:flags=bicubic,pad=96:96:0:12 -f rawvideo -pix_fmt rgb24 "$fit/want1.rgb"
ffmpeg -v error -i "$fit/m2.bmp" -vf scale=72:96:flags=bicubic,pad=96:96:12:0 -f rawvideo -pix_fmt rgb24 "$fit/want2.rgb"
frame=$((96 * 96 * 3))
head -c $frame "$fit/got.rgb" >"$fit/got1.rgb"
tail -c $frame "$fit/got.rgb" >"$fit/got2.rgb"
bars() {  # bars FILE ROWS-TOP-BOTTOM COLUMNS-LEFT-RIGHT: every bar pixel exactly black
  python3 - "$@" <<'PY'
import sys
data, rows, cols = open(sys.argv[1], "rb").read(), int(sys.argv[2]), int(sys.argv[3])
ok = len(data) == 96 * 96 * 3
for y in range(96):
    for x in range(96):
        if y < rows or y >= 96 - rows or x < cols or x >= 96 - cols:
            ok = ok and data[(y * 96 + x) * 3:(y * 96 + x) * 3 + 3] == b"\0\0\0"
sys.exit(0 if ok else 1)
PY
}
check "a landscape frame: black bars of 12 rows above and below" bars "$fit/got1.rgb" 12 0
check "a portrait frame: black bars of 12 columns left and right" bars "$fit/got2.rgb" 0 12
for i in 1 2; do
  db=$(psnr_of "$fit/got$i.rgb" "$fit/want$i.rgb")
  check "frame $i scaled as ffmpeg scales it: PSNR $db dB, at least 30" at_least "$db" 30
done
"$zelvo" -y -c h264 --size 95x96 -o "$fit/odd.mp4" "$fit/m1.bmp" </dev/null 2>"$work/err"
check "--size with an odd side and h264 is a usage error (exit 2) naming the size, nothing written" \
  test $? -eq 2 -a -n "$(grep -F 95x96 "$work/err")" -a ! -e "$fit/odd.mp4"

# --- frames read through libavcodec, fitted with --size and with sound -----------------------
# The frames of $seq in other formats into 96x96 with sound: the movie as before, the frames
# as ffmpeg decodes (and turns) them, converted to BGR and scaled into their box, the black
# bars exact where the codec is lossless. A JPEG whose EXIF data turns it upright is
# portrait, fitted between bars left and right.
# label | extension | ffmpeg's options making the frames | EXIF orientation | ffmpeg's
# options reading them (this ffmpeg turns a JPEG by its EXIF data unless told not to) | its
# filter showing them as Zelvo does | container | codec | bar rows | bar columns (the table
# comes on descriptor 3: ffmpeg reads its standard input)
while IFS='|' read -r -u 3 label ext making orientation reading turn container codec rows cols; do
  echo "$available" | grep -qx "$codec" || { echo "skip: no $codec encoder here"; continue; }
  d="$work/av-$ext-$codec"
  mkdir "$d"
  # shellcheck disable=SC2086
  ffmpeg -v error -i "$seq/f%02d.bmp" $making "$d/f%02d.$ext"
  if [ -n "$orientation" ]; then
    for f in "$d"/f*."$ext"; do add_orientation "$f" "$f.turned" "$orientation" && mv "$f.turned" "$f"; done
  fi
  out="$d/movie.$container"
  "$zelvo" -y -c "$codec" -r 30000/1001 --size 96x96 --audio "$work/noise.wav" -o "$out" "$d/f01.$ext" </dev/null >/dev/null 2>"$work/err"
  r=$?
  check "$label: exit 0; ffprobe reads $codec, 12 frames of 96x96, and ${sound_codec[$container]} sound" \
    test "$r,$(probe_field "$out" codec_name),$(probe_field "$out" nb_read_frames),$(probe_field "$out" width)x$(probe_field "$out" height),$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$out")" = \
    "0,${probe_codec[$codec]},12,96x96,${sound_codec[$container]}"
  seconds=$(sound_seconds "$out")
  check "$label: the sound lasts $seconds s, the video's $movie_seconds s within a frame" within_a_frame "$seconds"
  decode_rgb "$out" >"$d/got.rgb"
  # shellcheck disable=SC2086
  ffmpeg -v error $reading -i "$d/f%02d.$ext" \
    -vf "$turn,format=bgr24,scale=$((96 - 2 * cols)):$((96 - 2 * rows)):flags=bicubic,pad=96:96:$cols:$rows" \
    -f rawvideo -pix_fmt rgb24 "$d/want.rgb"
  db=$(psnr_of "$d/got.rgb" "$d/want.rgb")
  check "$label: the frames as ffmpeg decodes and scales them, PSNR $db dB, at least 30" at_least "$db" 30
  if [ "$codec" = ffv1 ]; then
    head -c $frame "$d/got.rgb" >"$d/got1.rgb"
    check "$label: every pixel of the bars is black" bars "$d/got1.rgb" "$rows" "$cols"
  fi
done 3<<EOF
JPEG into MP4 (h264, AAC)|jpg|-q:v 2|||null|mp4|h264|12|0
JPEG turned upright by EXIF into MKV (ffv1, FLAC)|jpg|-q:v 2|6|-noautorotate|transpose=1|mkv|ffv1|0|12
16-bit TIFF into MKV (ffv1, FLAC)|tif|-pix_fmt rgb48le -compression_algo deflate|||null|mkv|ffv1|12|0
OpenEXR half into MP4 (h264, AAC)|exr|-pix_fmt gbrpf32le -c:v exr -format half -compression zip1||-apply_trc iec61966_2_1|null|mp4|h264|12|0
WebP into MOV (mpeg4, AAC)|webp|-c:v libwebp -quality 95|||null|mov|mpeg4|12|0
EOF

# --- odd sizes: padded to even with black for mpeg4 and h264 ---------------------------------
odd="$work/odd"
mkdir "$odd"
for i in 1 2 3; do ffmpeg -v error -i "$seq/f0$i.bmp" -vf crop=63:47:0:0 -pix_fmt bgr24 "$odd/o$i.bmp"; done  # BGR: no rounding
decode_frames "$odd"/o*.bmp >"$odd/want.rgb"
# The same frames as JPEG (chroma of odd size too), and as JPEG turned upright by EXIF into
# 47x63; each kind's twins are its frames as Zelvo reads (and turns) them in full frames
# (libjpeg-turbo's decoding, a few levels from ffmpeg's), padded by ffmpeg.
for i in 1 2 3; do
  ffmpeg -v error -i "$odd/o$i.bmp" -q:v 2 "$odd/j$i.jpg"
  add_orientation "$odd/j$i.jpg" "$odd/t$i.jpg" 6
  ffmpeg -v error -i "$odd/o$i.bmp" -vf pad=64:48:0:0:black -pix_fmt bgr24 "$odd/p$i.bmp"
done
for kind in j:64:48 t:48:64; do
  IFS=: read -r k w h <<<"$kind"
  "$zelvo" -y -c dib -o "$odd/$k.avi" "$odd/${k}1.jpg" </dev/null >/dev/null 2>&1
  ffmpeg -v error -i "$odd/$k.avi" -vf "pad=$w:$h:0:0:black" -pix_fmt bgr24 "$odd/p$k%d.bmp"
done
# first frame | its padded twin | size | padded size
while read -r first twin size even; do
  for codec in mpeg4 h264; do
    movie="$odd/${first%.*}-$codec.mp4"
    "$zelvo" -y -c "$codec" -o "$movie" "$odd/$first" </dev/null 2>"$work/err"
    check "$first, $size frames with $codec: exit 0, a $even movie, and a notice that says so" \
      test $? -eq 0 -a "$(probe_field "$movie" width)x$(probe_field "$movie" height)" = "$even" -a \
      -n "$(grep -F "zelvo: $codec takes only even sizes: frames of $size are padded with black to $even" "$work/err")"
    # The frames padded by ffmpeg, through the same codec: the very same movie.
    "$zelvo" -y -c "$codec" -o "$odd/padded-$codec.mp4" "$odd/$twin" </dev/null 2>/dev/null
    check "... the movie of the frames padded with black by ffmpeg, frame for frame" \
      cmp -s <(decode_rgb "$movie") <(decode_rgb "$odd/padded-$codec.mp4")
  done
done <<EOF
o1.bmp p1.bmp 63x47 64x48
j1.jpg pj1.bmp 63x47 64x48
t1.jpg pt1.bmp 47x63 48x64
EOF
"$zelvo" -y -c ffv1 -o "$odd/ffv1.mkv" "$odd/o1.bmp" </dev/null 2>"$work/err"
check "63x47 frames with ffv1 keep their size, every pixel, and nothing is said" \
  test "$(probe_field "$odd/ffv1.mkv" width)x$(probe_field "$odd/ffv1.mkv" height)" = 63x47 -a \
  -z "$(grep 'even sizes' "$work/err")"
check "... (pixels)" cmp -s <(decode_rgb "$odd/ffv1.mkv") "$odd/want.rgb"

# --- usage errors before anything is written ------------------------------------------------
u="$work/usage"
mkdir "$u"
usage() {  # usage DESCRIPTION EXPECTED-TEXT ARGUMENTS...: exit 2, the text said, nothing written
  local what=$1 text=$2
  shift 2
  (cd "$u" && "$zelvo" -y "$@" "$seq/f01.bmp" </dev/null >/dev/null 2>"$work/err")
  local r=$?
  check "$what: exit 2, saying so, nothing written" \
    test $r -eq 2 -a -n "$(grep -F -- "$text" "$work/err")" -a -z "$(ls -A "$u")" -a -z "$(ls "$seq" | grep -v '\.bmp$')"
}
usage "-o clip.mpg" "does not end in .avi, .mkv, .mp4 or .mov" -o clip.mpg
usage "-o clip (no extension)" "does not end in .avi, .mkv, .mp4 or .mov" -o clip
usage "-f flv" "unknown container 'flv' (avi, mkv, mp4, mov)" -f flv -o clip.avi
usage "-c dib into MP4" "MP4 files cannot hold the codec dib (mjpeg, mpeg4, h264)" -c dib -o clip.mp4
usage "-c ffv1 into MP4" "MP4 files cannot hold the codec ffv1" -c ffv1 -o clip.mp4
usage "-c dib into MKV" "MKV files cannot hold the codec dib" -c dib -o clip.mkv
usage "--audio of a picture" "holds no sound this system can decode" --audio "$seq/f02.bmp" -o clip.mkv
usage "--audio of a missing file" "cannot be opened: No such file or directory" --audio "$work/none.wav" -o clip.mkv
usage "--size 0x10" "invalid frame size '0x10'" --size 0x10 -o clip.mkv
(cd "$u" && "$zelvo" -y -f mkv -c ffv1 -o clip.mpg "$seq/f01.bmp" </dev/null >/dev/null 2>&1)
check "-f mkv names the container whatever the extension" \
  test "$(ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 "$u/clip.mpg")" = matroska,webm
"$zelvo" -y -f mp4 -c h264 "$seq/f01.bmp" </dev/null >/dev/null 2>&1
check "without -o, -f mp4 writes the derived name with .mp4" test -s "$seq/f.mp4" -a ! -e "$seq/f.avi"
"$zelvo" -y "$seq/f01.bmp" </dev/null >/dev/null 2>&1
check "without -o and -f the derived name stays .avi" test -s "$seq/f.avi"
rm -f "$seq/f.avi" "$seq/f.mp4"
"$zelvo" -y -o "$u/default.mkv" "$seq/f01.bmp" </dev/null >/dev/null 2>&1
check "without -c and a terminal, MKV gets the first codec it holds (mjpeg)" test "$(probe_field "$u/default.mkv" codec_name)" = mjpeg
on_terminal $'q\n' "$zelvo" -y -o "$u/menu.mp4" "$seq/f01.bmp" >"$work/menu"
check "the codec menu for MP4 offers only what MP4 holds" \
  test -n "$(grep -E '^ +1\) mjpeg' "$work/menu")" -a -z "$(grep -E '\) (dib|ffv1|huffyuv) ' "$work/menu")"

# --- a broken frame, an abort and signals leave the older output as it was ------------------
f="$work/faults"
mkdir "$f"
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 150 -pix_fmt bgr24 "$f/s%03d.bmp"
broken="$work/broken"
mkdir "$broken"
cp "$seq"/f0{1,2,3,4}.bmp "$broken/"
printf 'BM broken' >"$broken/f05.bmp"
cp "$seq"/f0{6,7}.bmp "$broken/"
for container in avi mkv mp4 mov; do
  codec=h264
  echo "$available" | grep -qx h264 || codec=mjpeg
  printf 'older %s' "$container" >"$broken/f.$container"
  "$zelvo" -y -c "$codec" --audio "$work/noise.wav" -o "$broken/f.$container" "$broken/f01.bmp" </dev/null >/dev/null 2>"$work/err"
  check "$container: a broken middle frame fails the job (exit 1, naming it), the older output is kept, no temporary file" \
    test $? -eq 1 -a -n "$(grep -F f05.bmp "$work/err")" -a "$(cat "$broken/f.$container")" = "older $container" -a \
    -n "$(no_temporaries "$broken" && echo yes)"
  # A file size limit (ulimit -f) stops the write, for MP4 and MOV perhaps in the pass that
  # moves the index to the front: the system's reason is said, nothing else changes.
  printf 'older %s' "$container" >"$f/s.$container"
  (ulimit -f 300; exec "$zelvo" -y -c "$codec" --audio "$work/noise.wav" -o "$f/s.$container" "$f/s001.bmp" </dev/null >/dev/null 2>"$work/err")
  r=$?
  check "$container: a file size limit fails the job (exit 1) with 'File too large', the older output kept, no temporary file" \
    test $r -eq 1 -a -n "$(grep -x 'File too large' "$work/err")" -a "$(cat "$f/s.$container")" = "older $container" -a \
    -n "$(no_temporaries "$f" && echo yes)"
  for sig in INT TERM QUIT; do
    printf 'older %s' "$container" >"$f/s.$container"
    "$zelvo" -y -c "$codec" --threads 1 --audio "$work/noise.wav" -o "$f/s.$container" "$f/s001.bmp" </dev/null >/dev/null 2>"$work/err" &
    pid=$!
    signal_when_writing $pid "$f" "$sig"
    wait $pid
    r=$?
    case $sig in INT | TERM) want=1 ;; QUIT) want=131 ;; esac
    check "$container: SIG$sig while writing ends the job (exit $r, $want wanted), the older output byte for byte, no temporary file" \
      test $r -eq $want -a "$(cat "$f/s.$container")" = "older $container" -a -n "$(no_temporaries "$f" && echo yes)"
  done
done

finish
