#!/usr/bin/env bash
# Every format the Linux program reads beyond BMP and PNG, in frames made by ffmpeg,
# ImageMagick and oiiotool: each run converts as ffmpeg decodes its frames (every byte
# where the decoders and conversion are ffmpeg's; JPEG, read with libjpeg-turbo, within the
# few levels its IDCT and colour conversion round differently), OpenEXR shown as sRGB,
# a JPEG's EXIF orientation applied, formats mixed in one run by content, TGA known by its
# extension only, and a failing frame named in the program's own words without a line of
# the decoders'.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start
for tool in convert oiiotool; do
  command -v "$tool" >/dev/null || echo "skip: $tool is not installed (scripts/setup); its variants are left out"
done

# flat_jpeg DIR COMPONENTS ADOBE-TRANSFORM: frames DIR/f1.jpg to f3.jpg, baseline JPEGs of
# 64x48 in flat 8x8 blocks (DC coefficients only, quantiser 1: every decoder shows their
# levels exactly) whose Adobe segment says how the components are read (0: RGB or CMYK as
# stored), made here since neither ffmpeg nor ImageMagick writes such files.
flat_jpeg() {
  mkdir -p "$1"
  python3 - "$@" <<'PY'
import struct, sys
folder, count, transform = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
w, h = 64, 48
def segment(marker, body): return struct.pack(">BBH", 0xFF, marker, len(body) + 2) + body
dc_lengths = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]  # the standard luminance DC table
codes, code, size = [], 0, 0
for length in range(1, 17):
    for _ in range(dc_lengths[length - 1]):
        codes.append((code, length)); code += 1
    code <<= 1
for n in (1, 2, 3):
    head = b"\xff\xd8" + segment(0xEE, b"Adobe" + struct.pack(">HHHB", 100, 0, 0, transform))
    head += segment(0xDB, b"\x00" + b"\x01" * 64)
    head += segment(0xC0, struct.pack(">BHHB", 8, h, w, count) + b"".join(bytes([c + 1, 0x11, 0]) for c in range(count)))
    # DC table 0 as above; AC table 0 with one code, "0", for the end of the block.
    head += segment(0xC4, b"\x00" + bytes(dc_lengths) + bytes(range(12)) + b"\x10\x01" + bytes(15) + b"\x00")
    head += segment(0xDA, bytes([count]) + b"".join(bytes([c + 1, 0]) for c in range(count)) + b"\x00\x3f\x00")
    bits, scan, previous = [], bytearray(), [0] * count
    for by in range(h // 8):
        for bx in range(w // 8):
            for c in range(count):
                level = (29 * n + 37 * bx + 53 * by + 91 * c + bx * by * (c + 3)) % 256
                diff = 8 * (level - 128) - previous[c]
                previous[c] += diff
                size = abs(diff).bit_length()
                code, length = codes[size]
                bits += [(code >> i) & 1 for i in reversed(range(length))]
                extra = diff if diff > 0 else diff - 1
                bits += [(extra >> i) & 1 for i in reversed(range(size))] + [0]
    bits += [1] * (-len(bits) % 8)
    for i in range(0, len(bits), 8):
        byte = int("".join(map(str, bits[i:i + 8])), 2)
        scan += bytes([byte, 0]) if byte == 0xFF else bytes([byte])
    open("%s/f%d.jpg" % (folder, n), "wb").write(head + bytes(scan) + b"\xff\xd9")
PY
}

# An odd size: chroma of odd width and height, rows that are no whole number of words.
size=67x45
src="testsrc2=size=$size:rate=5,noise=alls=12:allf=t"
# make DIR EXT OUTPUT-OPTIONS...: frames DIR/f1.EXT to f3.EXT, each a different picture.
make() {
  local dir=$1 ext=$2; shift 2
  mkdir -p "$dir"
  ffmpeg -v error -f lavfi -i "$src" -frames:v 3 "$@" "$dir/f%d.$ext"
}
# remake FROM EXT TO NEW-EXT convert-options...: ImageMagick's rewrite of the frames of FROM.
remake() {
  local from=$1 ext=$2 to=$3 new=$4 n; shift 4
  mkdir -p "$to"
  for n in 1 2 3; do convert "$from/f$n.$ext" "$@" "$to/f$n.$new"; done
}

# What ffmpeg shows of the frames given (each file's first picture), with the decoder's
# options and the filters given, as BGR bytes: the movie's own pixel format, since
# libswscale's conversions to RGB and to BGR round some formats differently.
reference() {
  local options=$1 filters=$2 f; shift 2
  # shellcheck disable=SC2086
  for f in "$@"; do ffmpeg -v error $options -i "$f" -frames:v 1 -vf "$filters" -f rawvideo -pix_fmt bgr24 -; done
}
# The frames of a movie as top-down BGR bytes.
decode_bgr() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt bgr24 -; }
# same_within LEVELS A B: the byte streams A and B are as long, and no byte differs by more
# than LEVELS (0: the same bytes). Prints the largest difference when they are not.
same_within() {
  python3 - "$@" <<'PY'
import sys
levels, a, b = int(sys.argv[1]), open(sys.argv[2], "rb").read(), open(sys.argv[3], "rb").read()
worst = max((abs(x - y) for x, y in zip(a, b)), default=0) if len(a) == len(b) else 256
if worst > levels:
    print("  largest difference %d levels (sizes %d, %d)" % (worst, len(a), len(b)))
sys.exit(worst > levels)
PY
}
# convert_run LABEL DIR EXT [FFMPEG-OPTIONS [LEVELS]]: the run of DIR into an AVI, then
# every byte against ffmpeg's decoding of the frames: the same, or within LEVELS for
# pictures of more than 8 bits a sample, which Zelvo rounds to the nearest 8-bit level
# where libswscale's conversion is a level off here and there.
convert_run() {
  local label=$1 dir=$2 ext=$3 options=${4:-} levels=${5:-0}
  "$zelvo" -y -c dib -o "$dir.avi" "$dir/f1.$ext" </dev/null >/dev/null 2>"$dir.err"
  local r=$?
  check "$label: converted (exit 0), 3 frames" test $r -eq 0 -a "$(probe_field "$dir.avi" nb_read_frames)" = 3
  local what="every pixel as ffmpeg decodes it"
  [ "$levels" -gt 0 ] && what="every pixel within $levels levels of ffmpeg's decoding"
  check "$label: $what" \
    same_within "$levels" <(decode_bgr "$dir.avi") <(reference "$options" null "$dir/f1.$ext" "$dir/f2.$ext" "$dir/f3.$ext")
}

# JPEG frames of 4:2:0 (the kind cameras write) come out within this many levels of ffmpeg's
# decoding: libjpeg-turbo's IDCT and colour conversion round otherwise than libavcodec's
# and libswscale's. The table below gives each kind's own bound.
jpeg_levels=4

v="$work/v"
mkdir "$v"
# label | directory | extension | how the frames are made | ffmpeg's reading options |
# levels the frames may differ by (the table comes on descriptor 3: ffmpeg reads its
# standard input)
while IFS='|' read -r -u 3 label dir ext maker options levels; do
  [ -n "$label" ] || continue
  case $maker in
    remake*) command -v convert >/dev/null || continue ;;
    *oiiotool*) command -v oiiotool >/dev/null || continue ;;
  esac
  eval "$maker" 2>"$v/$dir.make" || { not_ok "$label: frames made ($(head -c 200 "$v/$dir.make"))"; continue; }
  convert_run "$label" "$v/$dir" "$ext" "$options" "${levels:-0}"
done 3<<EOF
JPEG baseline 4:2:0|jpeg|jpg|make \$v/jpeg jpg -q:v 3||4
JPEG 4:4:4|jpeg444|jpg|make \$v/jpeg444 jpg -pix_fmt yuvj444p -q:v 2||3
JPEG 4:2:2|jpeg422|jpg|make \$v/jpeg422 jpg -pix_fmt yuvj422p -q:v 2||3
JPEG progressive|progressive|jpg|remake \$v/jpeg jpg \$v/progressive jpg -interlace Plane||3
JPEG grey|grey|jpg|remake \$v/jpeg jpg \$v/grey jpg -colorspace Gray||1
JPEG CMYK (ImageMagick's, Adobe YCCK)|cmyk|jpg|remake \$v/jpeg jpg \$v/cmyk jpg -colorspace CMYK||3
JPEG Adobe CMYK|adobecmyk|jpg|flat_jpeg \$v/adobecmyk 4 0|
JPEG Adobe RGB|adobergb|jpg|flat_jpeg \$v/adobergb 3 0|
JPEG lossless (through libavcodec)|ljpeg|jpg|make \$v/ljpeg jpg -c:v ljpeg -pix_fmt bgr24|
TIFF 8-bit RGB, deflate|tiff8|tif|make \$v/tiff8 tif -pix_fmt rgb24 -compression_algo deflate|
JPEG 4:4:0 (through libavcodec)|jpeg440|jpg|remake \$v/tiff8 tif \$v/jpeg440 jpg -sampling-factor 1x2 -quality 90|
JPEG 4:1:1 (through libavcodec)|jpeg411|jpg|remake \$v/tiff8 tif \$v/jpeg411 jpg -sampling-factor 4x1 -quality 90|
TIFF 16-bit RGB, deflate|tiff16|tif|make \$v/tiff16 tif -pix_fmt rgb48le -compression_algo deflate||2
TIFF 16-bit grey, packbits|tiffgrey16|tif|make \$v/tiffgrey16 tif -pix_fmt gray16le -compression_algo packbits||2
TIFF RGBA, LZW|tiffrgba|tif|make \$v/tiffrgba tif -pix_fmt rgba -compression_algo lzw|
TIFF palette|tiffpal|tiff|remake \$v/tiff8 tif \$v/tiffpal tiff -type palette -colors 32|
TIFF grey, LZW|tiffgrey|tiff|remake \$v/tiff8 tif \$v/tiffgrey tiff -type grayscale -compress lzw|
WebP lossy|webplossy|webp|make \$v/webplossy webp -c:v libwebp -lossless 0|
WebP lossless with alpha|webplossless|webp|make \$v/webplossless webp -c:v libwebp -lossless 1 -pix_fmt bgra|
TGA|tga|tga|make \$v/tga tga -pix_fmt bgr24|
TGA RLE|tgarle|tga|remake \$v/tiff8 tif \$v/tgarle tga -compress RLE|
TGA palette|tgapal|tga|remake \$v/tiff8 tif \$v/tgapal tga -type palette -colors 64|
GIF (first picture of two)|gif|gif|for n in 1 2 3; do mkdir -p \$v/gif; ffmpeg -v error -f lavfi -i "\$src" -ss \$n -frames:v 2 \$v/gif/f\$n.gif; done|
DPX 8-bit|dpx8|dpx|make \$v/dpx8 dpx -pix_fmt rgb24|
DPX 10-bit|dpx10|dpx|make \$v/dpx10 dpx -pix_fmt gbrp10le||2
DPX 16-bit|dpx16|dpx|make \$v/dpx16 dpx -pix_fmt rgb48le||2
OpenEXR half, ZIP|exrhalf|exr|make \$v/exrhalf exr -pix_fmt gbrpf32le -c:v exr -format half -compression zip1|-apply_trc iec61966_2_1|2
OpenEXR float, RLE|exrfloat|exr|make \$v/exrfloat exr -pix_fmt gbrpf32le -c:v exr -format float -compression rle|-apply_trc iec61966_2_1|2
OpenEXR half, PIZ|exrpiz|exr|mkdir \$v/exrpiz; for n in 1 2 3; do oiiotool \$v/exrfloat/f\$n.exr -d half --compression piz -o \$v/exrpiz/f\$n.exr; done|-apply_trc iec61966_2_1|2
PPM|ppm|ppm|make \$v/ppm ppm|
PPM plain text|ppmplain|ppm|remake \$v/ppm ppm \$v/ppmplain ppm -compress none|
PGM|pgm|pgm|make \$v/pgm pgm -pix_fmt gray|
PBM|pbm|pbm|remake \$v/ppm ppm \$v/pbm pbm -monochrome|
PAM with alpha|pam|pam|make \$v/pam pam -pix_fmt rgba|
QOI|qoi|qoi|make \$v/qoi qoi|
SGI|sgi|sgi|make \$v/sgi sgi|
SGI RLE 16-bit|sgirle|sgi|remake \$v/ppm ppm \$v/sgirle sgi -compress RLE -depth 16||2
JPEG 2000 (JP2)|jp2|jp2|remake \$v/ppm ppm \$v/jp2 jp2|
JPEG 2000 codestream|j2k|j2k|make \$v/j2k j2k -c:v jpeg2000|
EOF

# --- narrow frames: libswscale writes whole groups of pixels past a row's end, which must
# neither spill onto the row before nor out of the frame -------------------------------
all=1
for w in 2 5 13 23 31; do
  for kind in "jpg -q:v 3" "webp -c:v libwebp"; do
    d="$work/w$w-${kind%% *}"
    mkdir "$d"
    set -- $kind
    ffmpeg -v error -f lavfi -i "testsrc2=size=32x9,crop=$w:9:0:0,noise=alls=20:allf=t" -frames:v 2 "${@:2}" "$d/f%d.$1"
    levels=0
    [ "$1" = jpg ] && levels=3  # libjpeg-turbo's rounding, measured on these
    "$zelvo" -y -c dib -o "$d.avi" "$d/f1.$1" </dev/null >/dev/null 2>&1 &&
      same_within $levels <(decode_bgr "$d.avi") <(reference "" null "$d/f1.$1" "$d/f2.$1") ||
      { echo "  $w pixels wide, $1: differs"; all=0; }
  done
done
check "JPEG and WebP frames 2 to 31 pixels wide: every pixel as ffmpeg decodes it (JPEG within 3 levels)" test $all = 1

# --- EXIF orientation: turned upright, as ffmpeg shows it only with the matching filter ----
filters=(null hflip hflip,vflip vflip transpose=0 transpose=1 transpose=3 transpose=2)
for o in 2 3 4 5 6 7 8; do
  d="$work/orient$o"
  mkdir "$d"
  for n in 1 2 3; do add_orientation "$v/jpeg/f$n.jpg" "$d/f$n.jpg" $o; done
  "$zelvo" -y -c dib -o "$d.avi" "$d/f1.jpg" </dev/null >/dev/null 2>&1
  check "JPEG with EXIF orientation $o: shown upright (ffmpeg's ${filters[$((o - 1))]}, within $jpeg_levels levels)" \
    same_within $jpeg_levels <(decode_bgr "$d.avi") <(reference "" "${filters[$((o - 1))]}" "$v/jpeg/f1.jpg" "$v/jpeg/f2.jpg" "$v/jpeg/f3.jpg")
done

# --- formats mixed in one run, all named .png, decided by content --------------------------
d="$work/mixed"
mkdir "$d"
sources=("$v/jpeg/f1.jpg" "$v/tiff16/f2.tif" "$v/webplossy/f3.webp" "$v/exrhalf/f1.exr" "$v/qoi/f2.qoi" "$v/dpx10/f3.dpx")
ffmpeg -v error -f lavfi -i "$src" -frames:v 1 -pix_fmt rgb24 "$d/m1.png"
ffmpeg -v error -f lavfi -i "$src" -frames:v 1 -pix_fmt bgr24 "$work/m.bmp"
n=1
for f in "${sources[@]}" "$work/m.bmp"; do n=$((n + 1)); cp "$f" "$d/m$n.png"; done
{ reference "" null "$d/m1.png"
  for f in "${sources[@]}"; do case $f in *.exr) reference "-apply_trc iec61966_2_1" null "$f" ;; *) reference "" null "$f" ;; esac; done
  reference "" null "$work/m.bmp"; } >"$work/mixed.bgr"
for threads in 1 2 8; do
  "$zelvo" -y -c dib --threads $threads -o "$d.avi" "$d/m1.png" </dev/null >/dev/null 2>&1
  check "PNG, JPEG, TIFF, WebP, OpenEXR, QOI, DPX and BMP named .png in one run ($threads readers): each frame as ffmpeg decodes it (16-bit, 10-bit and float within 2 levels, JPEG within $jpeg_levels)" \
    same_within $jpeg_levels <(decode_bgr "$d.avi") "$work/mixed.bgr"
done

# --- JPEG into MJPEG: 4:2:0 frames of the movie's size are requantised as they are stored,
# to libavcodec's tables; with encoder options they go to the encoder in their own YUV, as
# ffmpeg hands them over; others (another size, 4:4:4, PNG, turned) through the canvas ------
dqt() {  # dqt MOVIE: the first frame's quantisation tables, in hex
  ffmpeg -v error -i "$1" -frames:v 1 -c:v copy -f image2 -y "$work/dqt.jpg"
  python3 -c '
import sys
d = open(sys.argv[1], "rb").read()
i, out = 2, ""
while i + 4 <= len(d) and d[i] == 0xFF and d[i + 1] != 0xDA:
    n = d[i + 2] << 8 | d[i + 3]
    if d[i + 1] == 0xDB: out += d[i + 4:i + 2 + n].hex()
    i += 2 + n
print(out)' "$work/dqt.jpg"
}
psnr_to_input() {  # psnr_to_input MOVIE DIR: its frames against DIR's JPEGs, in dB (YUV average; 999: the same)
  ffmpeg -nostdin -i "$1" -framerate 15 -i "$2/f%d.jpg" -lavfi "[0][1]psnr" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\|inf\) .*/\1/p' | sed 's/^inf$/999/'
}
# ffmpeg's JPEGs at quantiser 3 keep their coefficients exactly (999 dB); ImageMagick's at
# quality 90 are requantised.
mkdir "$work/q90"
for n in 1 2 3; do convert "$v/jpeg/f$n.jpg" -quality 90 -sampling-factor 2x2 "$work/q90/f$n.jpg"; done
ready_ok=1 same_mjpeg=1
for jpegs in "$v/jpeg" "$work/q90"; do
  ffmpeg -v error -y -framerate 15 -i "$jpegs/f%d.jpg" -c:v mjpeg -pix_fmt yuvj420p -q:v 3 "$work/jf.avi"
  ffmpeg_psnr=$(psnr_to_input "$work/jf.avi" "$jpegs")
  for threads in 1 2; do
    "$zelvo" -y -c mjpeg --threads $threads -o "$work/jm.avi" "$jpegs/f1.jpg" </dev/null >/dev/null 2>&1
    ours=$(psnr_to_input "$work/jm.avi" "$jpegs")
    echo "     $(basename "$jpegs") into MJPEG, $threads readers: $ours dB against the JPEGs, ffmpeg's MJPEG $ffmpeg_psnr dB"
    [ "$(probe_field "$work/jm.avi" nb_read_frames)" = 3 ] && [ "$(dqt "$work/jm.avi")" = "$(dqt "$work/jf.avi")" ] &&
      awk -v a="$ours" -v b="$ffmpeg_psnr" 'BEGIN { exit !(a != "" && a >= b - 0.1) }' || ready_ok=0
    "$zelvo" -y -c mjpeg --codec-options huffman=optimal --threads $threads -o "$work/jo.avi" "$jpegs/f1.jpg" </dev/null >/dev/null 2>&1
    cmp -s <(decode_bgr "$work/jo.avi") <(decode_bgr "$work/jf.avi") || same_mjpeg=0
  done
done
check "JPEG 4:2:0 into MJPEG (1 and 2 readers): 3 frames with ffmpeg's quantisation tables, as close to the JPEGs as ffmpeg's MJPEG" test $ready_ok = 1
check "JPEG 4:2:0 into MJPEG with encoder options: the frames ffmpeg's MJPEG of the same JPEGs decodes to" test $same_mjpeg = 1
d="$work/mixedmjpeg"
mkdir "$d"
cp "$v/jpeg/f1.jpg" "$d/m1.jpg"
cp "$v/jpeg444/f2.jpg" "$d/m2.jpg"
cp "$v/qoi/f3.qoi" "$d/m3.jpg"
cp "$work/orient6/f1.jpg" "$d/m4.jpg"
ffmpeg -v error -f lavfi -i "$src" -frames:v 1 -vf crop=40:30:0:0 -q:v 3 "$d/m5.jpg"
cp "$v/jpeg/f2.jpg" "$d/m6.jpg"
for codec in dib mjpeg; do "$zelvo" -y -c $codec -o "$d/$codec.avi" "$d/m1.jpg" </dev/null >/dev/null 2>&1; done
# The least PSNR of a frame of MJPEG against the same frame in full frames: a frame drawn
# elsewhere, or not on black, falls far below what quantiser 3 keeps of these noisy
# pictures (some 27 dB where 4:4:4 becomes 4:2:0; a misplaced frame gives about 10).
least_psnr=$(python3 - <(decode_bgr "$d/dib.avi") <(decode_bgr "$d/mjpeg.avi") <<'PY'
import math, sys
a, b = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
frame = len(a) // 6
if len(a) != len(b) or len(a) != 6 * frame or frame == 0:
    print(0)
    sys.exit()
worst = 99.0
for k in range(6):
    mse = sum((x - y) ** 2 for x, y in zip(a[k * frame:(k + 1) * frame], b[k * frame:(k + 1) * frame])) / frame
    worst = min(worst, 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse))
print("%.1f" % worst)
PY
)
echo "     least PSNR of a mixed MJPEG frame against full frames: $least_psnr dB"
check "JPEG 4:2:0 and 4:4:4, QOI, a turned JPEG and a smaller JPEG into one MJPEG: every frame where the full frames have it" \
  awk -v p="$least_psnr" 'BEGIN { exit !(p >= 20) }'

# --- TGA: by its extension (any case) only ------------------------------------------------
d="$work/tganame"
mkdir "$d"
cp "$v/tga/f1.tga" "$d/t1.TGA"
cp "$v/tga/f2.tga" "$d/t2.TGA"
"$zelvo" -y -c dib "$d/t1.TGA" </dev/null >/dev/null 2>&1
check "TGA frames named .TGA are read" test "$(probe_field "$d/t.avi" nb_read_frames)" = 2
cp "$v/tga/f1.tga" "$d/u1.png"
"$zelvo" -y -c dib "$d/u1.png" </dev/null >/dev/null 2>"$d/err"
check "a TGA named .png is not taken for an image, and the message names it and the formats" \
  test $? -eq 1 -a -n "$(grep -F "zelvo: $d/u1.png: not an image in a format zelvo reads (BMP, PNG, JPEG," "$d/err")"

# --- failing frames: named, in the program's words, no decoder lines ----------------------
d="$work/fail"
mkdir "$d"
cp "$v/jpeg/f1.jpg" "$d/g1.jpg"
cp "$v/jpeg/f3.jpg" "$d/g3.jpg"
head -c 300 "$v/jpeg/f2.jpg" >"$d/g2.jpg"  # ends inside the headers
printf 'older' >"$d/g.avi"
"$zelvo" -y -c dib "$d/g1.jpg" </dev/null >/dev/null 2>"$d/err"
check "a damaged JPEG in the middle fails the job (exit 1) naming it and why, the older output kept" \
  test $? -eq 1 -a -n "$(grep -F "$d/g2.jpg" "$d/err")" -a -n "$(grep -x 'the image is damaged' "$d/err")" \
  -a "$(cat "$d/g.avi")" = older
check "... and no decoder's own line reaches the terminal" test -z "$(grep -E '@ 0x|\[(mjpeg|tiff|exr)' "$d/err")"
head -c 2000 "$v/jpeg/f2.jpg" >"$d/g2.jpg"  # ends inside the picture
"$zelvo" -y -c dib "$d/g1.jpg" </dev/null >/dev/null 2>"$d/err"
check "a JPEG cut short in its picture is read, the rest black, and said once naming it" \
  test $? -eq 0 -a "$(grep -c "g2.jpg: the file is shorter than its header says" "$d/err")" = 1
python3 - "$v/jpeg/f2.jpg" "$d/g2.jpg" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"\xff\xc0")
data[at + 5:at + 9] = bytes([0xFD, 0xE8, 0xFD, 0xE8])  # 65000 x 65000
open(sys.argv[2], "wb").write(data)
PY
/usr/bin/time -f '%M' -o "$d/rss" "$zelvo" -y -c dib "$d/g1.jpg" </dev/null >/dev/null 2>"$d/err"
check "a JPEG declaring 65000x65000 fails (exit 1) naming it and why" \
  test $? -eq 1 -a -n "$(grep -F "$d/g2.jpg" "$d/err")" -a -n "$(grep -x 'the image is too large' "$d/err")"
rss=$(tail -n 1 "$d/rss")
check "... within 100 MiB ($((rss / 1024)) MiB peak)" test "$rss" -lt 102400
check "... and no temporary file is left" no_temporaries "$d"
if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  ja() { (unset LANGUAGE; LC_ALL=ja_JP.UTF-8 "$zelvo" -y -c dib "$1" </dev/null >/dev/null 2>"$d/ja"); }
  ja "$work/tganame/u1.png"
  check "under ja_JP.UTF-8 the unknown format is said in Japanese" test -n "$(grep -F 'zelvo が読める形式の画像ではありません' "$d/ja")"
  ja "$d/g1.jpg"
  check "... a frame too large" test -n "$(grep -x '画像が大きすぎます' "$d/ja")"
  head -c 300 "$v/jpeg/f2.jpg" >"$d/g2.jpg"
  ja "$d/g1.jpg"
  check "... and a damaged one" test -n "$(grep -x '画像が壊れています' "$d/ja")"
fi

finish
