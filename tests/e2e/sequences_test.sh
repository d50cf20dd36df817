#!/usr/bin/env bash
# Real sequences and the habits of ffmpeg and GNU tool users: globs, two sequences of one
# output name, the codec menu with the command line's settings, misleading messages, long
# numbers, gaps, --dry-run, -n, -q, --threads 0, rate names, unused settings, the progress
# line and --version.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start
cd "$work" || exit 1

# BMP frames of WIDTHxHEIGHT, each its own colour: frames FOLDER/NAME... (made by ffmpeg).
frames() {
  local size=$1 f i=0
  shift
  for f in "$@"; do
    ffmpeg -v error -f lavfi -i "color=c=0x$(printf '%02x%02x%02x' $((i * 37 % 256)) $((i * 91 % 256)) 128):s=$size" \
      -frames:v 1 -pix_fmt bgr24 "$f"
    i=$((i + 1))
  done
}
# What a folder holds, names and sizes, to see that nothing was written.
contents() { ls -laR "$@" | grep -v ' \.\.\?$'; }
keyframes() { ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 "$1" | grep -c K; }

# --- fault: two sequences whose jobs would write one output --------------------------------
mkdir two
frames 8x8 two/img00{1,2,3}.bmp
for n in 1 2 3 4 5; do ffmpeg -v error -i two/img001.bmp "two/img000$n.png"; done
before=$(contents two)
"$zelvo" -y -c dib two/img001.bmp two/img0001.png </dev/null >out 2>&1
check "img001.bmp and img0001.png (both img.avi) are a usage error (exit 2) naming both, nothing asked or written" \
  test $? -eq 2 -a -n "$(grep -F "'two/img001.bmp' and 'two/img0001.png' would both be written to 'two/img.avi'" out)" \
  -a -z "$(grep -F '[y/n]' out)" -a "$(contents two)" = "$before"
"$zelvo" -y -c dib -o one.avi two/img002.bmp two/img0003.png </dev/null >out 2>&1
check "one -o for two sequences is the same usage error" test $? -eq 2 -a ! -e one.avi -a -n "$(grep -F "would both be" out)"

# --- fault: a glob converts its run once, runs in the order first named --------------------
mkdir seq
frames 16x16 seq/img0{01,02,03,04,05,06,07,08,09,10,11,12,13,14,15,16,17,18,19,20}.bmp
frames 16x16 seq/b{1,2}.bmp
"$zelvo" -c dib seq/img*.bmp seq/b*.bmp <<<$'y\ny\n' >out 2>&1
check "a glob over a run of 20 and one of 2: exit 0, two confirmations, in the order named" \
  test $? -eq 0 -a "$(grep -A 3 '^Zelvo: seq/' out | grep -E 'seq/(img|b)' | head -n 2 | tr '\n' ' ')" = "Zelvo: seq/img001.bmp seq/img020.bmp "
check "... each run written once" test "$(grep -c ' will be converted into' out)" = 2 -a -z "$(grep -F 'already exists' out)"
check "... seq/img.avi holds the 20 frames" test "$(probe_field seq/img.avi nb_read_frames)" = 20
check "... every frame equal to its input" cmp -s <(decode_rgb seq/img.avi) <(decode_frames seq/img0*.bmp)
"$zelvo" -y -c dib -o glob.avi seq/img01*.bmp </dev/null 2>/dev/null
check "-o with a glob over one run converts that run (exit 0)" test $? -eq 0 -a "$(probe_field glob.avi nb_read_frames)" = 20

# --- fault: six-digit names ------------------------------------------------------------------
mkdir six
frames 8x8 six/f00000{2,3,4}.bmp
"$zelvo" -y -c dib six/f000003.bmp </dev/null 2>/dev/null
check "f000002.bmp...f000004.bmp give f.avi (not f0.avi), all 3 frames" \
  test "$(ls six | grep avi)" = f.avi -a "$(probe_field six/f.avi nb_read_frames)" = 3

# --- fault: paths beyond the Windows limit -------------------------------------------------
# A folder whose path with its separator is $1 bytes long, of components of at most 200.
folder_of() {
  local path=$PWD/long$1
  while [ $(($1 - ${#path})) -gt 202 ]; do path="$path/$(printf '%*s' 200 '' | tr ' ' d)"; done
  path="$path/$(printf '%*s' $(($1 - ${#path} - 2)) '' | tr ' ' e)"
  mkdir -p "$path" && echo "$path/"
}
for length in 275 4080; do
  dir=$(folder_of $((length - 9)))
  for n in 1 2 3; do cp "two/img00$n.bmp" "${dir}f0$n.bmp"; done  # (ffmpeg names no file past 1 KiB)
  "$zelvo" -y -c dib "$dir"f02.bmp </dev/null >/dev/null 2>err
  check "a frame at a $length-byte path converts its run of 3 (exit 0), the confirmation naming it whole" \
    test $? -eq 0 -a ${#dir} -eq $((length - 9)) -a "$(probe_field "$dir"f.avi nb_read_frames)" = 3 \
    -a -n "$(grep -xF "Zelvo: ${dir}f01.bmp" err)" -a -n "$(grep -xF "${dir}f.avi" err)"
done
out="$(folder_of 4090)x.avi"
"$zelvo" -y -c dib -o "$out" "$dir"f01.bmp </dev/null >/dev/null 2>err
check "an output of 4095 bytes (the system's limit) is written" test $? -eq 0 -a ${#out} -eq 4095 -a -s "$out"
"$zelvo" -y -c dib -o "${out%.avi}y.avi" "$dir"f01.bmp </dev/null >/dev/null 2>err
check "one of 4096 bytes is a usage error naming the limit" test $? -eq 2 -a -n "$(grep -F 'at most 4095 bytes' err)"

# --- fault: the codec menu gets the command line's settings ---------------------------------
if "$zelvo" --list-codecs | grep -q '^h264 '; then
  h264=$("$zelvo" --list-codecs | awk '$1 == "h264" {print NR}')
  mkdir moving
  ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 20 -pix_fmt bgr24 moving/t%02d.bmp
  on_terminal "$h264"$'\n\n' timeout 60 "$zelvo" -y --threads 1 --keyint 2 --quality 0 -o menu.avi moving/t01.bmp >out
  check "menu h264 with --keyint 2 --quality 0: exit 0, a key frame every 2 of 20 frames" \
    test $? -eq 0 -a "$(keyframes menu.avi)" = 10
  check "... quality and key frames not asked again (the data rate is)" \
    test -z "$(grep -E '^(Quality|Key frame)' out)" -a -n "$(grep -F 'Data rate' out)"
  "$zelvo" -y --threads 1 -c h264 --keyint 2 --quality 0 -o option.avi moving/t01.bmp </dev/null 2>/dev/null
  check "... the same file, byte for byte, as -c h264 with the same options" cmp -s menu.avi option.avi
  on_terminal "$h264"$'\n\n\n\nq\n' timeout 60 "$zelvo" -y --codec-options no_such_key=1 -o bad.avi seq/img001.bmp >out
  check "an unknown --codec-options key with the menu's codec is refused as with -c (exit 1, nothing written)" \
    test $? -eq 1 -a ! -e bad.avi -a -n "$(grep -F 'has no option no_such_key' out)" && no_temporaries .
  check "... and the menu is offered again" test "$(grep -c 'Choose a codec' out)" = 2
else
  echo "skip: the codec menu with h264 (no H.264 encoder)"
fi

# --- fault: messages that named the wrong thing ----------------------------------------------
while IFS='|' read -r what args want; do
  eval "set -- $args"
  "$zelvo" "$@" </dev/null >out 2>&1
  r=$?
  check "$what: exit 2, '$want'" test $r -eq 2 -a -n "$(grep -F -- "$want" out)"
done <<'EOF'
an unknown letter in a cluster after a value|-r 25 -ab seq/b1.bmp|unknown option '-a'
an unknown letter after a long option|--yes -xy seq/b1.bmp|unknown option '-x'
a long option given a value it does not take|--yes=1 seq/b1.bmp|option '--yes' takes no value
a shortened long option of two|--co x seq/b1.bmp|option '--co' is ambiguous (--codec, --codec-options)
codec options without a codec|--codec-options preset=slow seq/b1.bmp|--codec-options needs a codec (-c)
EOF
"$zelvo" --codec-options preset=slow seq/b1.bmp </dev/null >out 2>&1
check "... codec options without a codec name no frame and no codec the user did not choose" \
  test -z "$(grep -F -e 'b1.bmp' -e 'Full frames (dib)' out)"

# --- --dry-run, -n, -q ---------------------------------------------------------------------
before=$(contents seq six)
"$zelvo" --dry-run seq/img005.bmp seq/b2.bmp six/f000002.bmp </dev/null >out 2>err
check "--dry-run: exit 0, one line a job: first and last frame, count and output" test $? -eq 0 -a "$(cat out)" = \
  "seq/img001.bmp to seq/img020.bmp, 20 frame(s), into seq/img.avi
seq/b1.bmp to seq/b2.bmp, 2 frame(s), into seq/b.avi
six/f000002.bmp to six/f000004.bmp, 3 frame(s), into six/f.avi"
check "... nothing asked, nothing written" test -z "$(grep -F '[y/n]' err)" -a "$(contents seq six)" = "$before"
mkdir odd
convert -size 33x18 xc:red bmp3:odd/o1.bmp && cp odd/o1.bmp odd/o2.bmp
"$zelvo" --dry-run -c mpeg4 --size 33x18 odd/o1.bmp </dev/null >out 2>&1
check "... and what -c cannot take is still a usage error (exit 2)" test $? -eq 2 -a -n "$(grep -F 'odd/o1.bmp' out)"

printf older >seq/b.avi
"$zelvo" -n -y -c dib seq/b1.bmp </dev/null 2>err
check "-n: an existing output is not replaced: exit 1, said, the older file intact" \
  test $? -eq 1 -a "$(cat seq/b.avi)" = older -a -n "$(grep -Fx 'zelvo: seq/b.avi exists and is not replaced (--no-overwrite)' err)"
"$zelvo" --no-overwrite -y -c dib -o new.avi seq/b1.bmp </dev/null 2>/dev/null
check "--no-overwrite converts into a new output (exit 0)" test $? -eq 0 -a "$(probe_field new.avi nb_read_frames)" = 2

mkdir gap
frames 8x8 gap/g0{1,2,3,5,6}.bmp
"$zelvo" -q -y -c dib gap/g02.bmp </dev/null >out 2>err
check "-q -y: exit 0, nothing on standard output or error but the gap notice" test $? -eq 0 -a ! -s out -a "$(cat err)" = \
  "zelvo: gap/g04.bmp is missing: the run ends at gap/g03.bmp, though numbered frames go on from gap/g05.bmp"
check "... the job went on as before: g01 to g03" test "$(probe_field gap/g.avi nb_read_frames)" = 3
"$zelvo" -q -c dib -o q.avi gap/g05.bmp </dev/null >out 2>err
check "-q asks for no confirmation: g05 and g06 convert with no answer to read (exit 0)" \
  test $? -eq 0 -a "$(probe_field q.avi nb_read_frames)" = 2 -a -n "$(grep 'the run starts at gap/g05.bmp' err)"
"$zelvo" -q -c dib -o q.avi gap/g05.bmp </dev/null 2>err
check "-q keeps the overwrite question (end of input: No, exit 1)" test $? -eq 1 -a -n "$(grep -F 'already exists' err)"
"$zelvo" -q -y -c dib gap/nosuch01.bmp </dev/null 2>err
check "-q keeps errors" test $? -eq 1 -a -n "$(grep -F 'nosuch01.bmp' err)"

# --- --threads 0, rate names, unused settings ------------------------------------------------
"$zelvo" -y -c dib --threads 1 -o t1.avi seq/img001.bmp </dev/null 2>/dev/null
"$zelvo" -y -c dib --threads 0 -o t0.avi seq/img001.bmp </dev/null 2>/dev/null
check "--threads 0 (one reader per core) writes the same file as --threads 1" test $? -eq 0 -a -s t0.avi && cmp -s t0.avi t1.avi
for row in ntsc:30000/1001 pal:25/1 film:24/1 ntsc-film:24000/1001; do
  "$zelvo" -y -c dib -r "${row%%:*}" -o rate.avi seq/b1.bmp </dev/null 2>/dev/null
  check "-r ${row%%:*} stores ${row#*:}" test $? -eq 0 -a "$(stream_rate rate.avi)" = "${row#*:}"
done
while IFS='|' read -r what args want; do
  eval "set -- $args"
  "$zelvo" -y -o warn.avi "$@" seq/b1.bmp </dev/null >/dev/null 2>err
  check "$what warns and converts" test $? -eq 0 -a -n "$(grep -Fx "zelvo: warning: $want" err)"
done <<'EOF'
--quality with dib|-c dib --quality 50|the codec dib does not use --quality
--bitrate with ffv1|-c ffv1 --bitrate 100|the codec ffv1 does not use --bitrate
--keyint with mjpeg|-c mjpeg --keyint 5|the codec mjpeg does not use --keyint: every frame is a key frame
--quality with --bitrate|-c mpeg4 --quality 50 --bitrate 100|--quality is not used: --bitrate sets the data rate instead
EOF
"$zelvo" -y -c mpeg4 --quality 50 --keyint 5 -o warn.avi seq/b1.bmp </dev/null 2>err
check "settings the codec uses give no warning" test -z "$(grep warning err)"
on_terminal $'1\n' "$zelvo" -y --quality 50 -o menuwarn.avi seq/b1.bmp >out
check "a setting the menu's codec (dib) does not use warns too" test $? -eq 0 -a -n "$(grep -F 'warning: the codec dib does not use --quality' out)"

# --- the progress line, --version --------------------------------------------------------------
on_terminal "" "$zelvo" -y -c dib -o tty.avi seq/img001.bmp >out
last=$(tr '\r' '\n' <out | grep -a ' done ' | tail -n 1 | sed 's/^\x1b\[K//')
check "the final progress line: full bar, 20/20, elapsed time, frames per second, the output's size, the frame" \
  grep -qE '^\[#{24}\] 20/20 done  0:0[0-9] elapsed  [0-9.]+ frames/s  [0-9.]+ KiB  seq/img020.bmp$' <<<"$last"
size=$(stat -c %s tty.avi)
check "... its size is the file's ($size bytes)" grep -qF "$(awk -v b="$size" 'BEGIN { printf "%.1f KiB", b / 1024 }')" <<<"$last"
mkdir ttyname
frames 8x8 $'ttyname/\033[31mred1.bmp' $'ttyname/\033[31mred2.bmp'
on_terminal "" "$zelvo" -y -c dib -o ttyname.avi $'ttyname/\033[31mred1.bmp' >out
check "names in the progress line stay terminal-safe" \
  test -z "$(grep -aF $'\033[31m' out)" -a -n "$(grep -aF 'ttyname/\033[31mred2.bmp' out)"
"$zelvo" --version >out
check "--version names the version and the libraries with theirs (exit 0)" test $? -eq 0 -a \
  "$(awk '{print $1}' out | grep -v libdeflate | tr '\n' ' ')" = "zelvo libavcodec libavformat libavutil libswscale libswresample libjpeg-turbo libpng zlib "
if ldd "$zelvo" | grep -q libdeflate; then check "... libdeflate too, which this build links" grep -q '^libdeflate ' out; fi
check "... each with a version number" test -z "$(grep -vE '^[a-z-]+ [0-9]+(\.[0-9]+)+' out)"
"$zelvo" --version >/dev/full 2>err
check "--version into a full disk: exit 1, 'write error'" test $? -eq 1 -a -n "$(grep -F 'write error' err)"

finish
