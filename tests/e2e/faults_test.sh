#!/usr/bin/env bash
# Hostile input and bad luck against the Linux program: broken files as a frame in the
# middle of a sequence, frames that change while the job runs, a pipe in place of a frame,
# frames that declare gigabytes, a memory limit, outputs that cannot be written, a folder
# renamed under the job, every signal that ends a process, a killed process, standard
# output that cannot be written, long and non-ASCII names, frames of every size and depth.
# The rule throughout: the job names the problem, leaves no partial file, and an older
# output is byte for byte what it was.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start
trap 'chattr -i "$work"/ro 2>/dev/null; rm -rf "$work"' EXIT
bmpsuite="$e2e_root/../shared/corpus/bmpsuite"
crashers="$e2e_root/.cache/libpng/contrib/testpngs/crashers"
sample="$e2e_root/samples/demo"

# A sequence of the first six sample frames with frame 4 replaced by FILE, all named with
# EXT (bmp unless given; the content decides the format): the job must name frame 4 and
# say why, remove its output, keep the older one, and the program must not crash.
bad_middle_frame() {
  local file=$1 label=$2 ext=${3:-bmp} n
  local d="$work/bad"
  rm -rf "$d"; mkdir "$d"
  for n in 1 2 3 5 6; do cp "$sample/frame000$n.bmp" "$d/s$n.$ext"; done
  cp "$file" "$d/s4.$ext"
  printf 'older' >"$d/s.avi"
  "$zelvo" -y -c dib "$d/s1.$ext" </dev/null >/dev/null 2>"$d/err"
  local r=$?
  if [ $r -eq 0 ]; then
    # Read safely instead of refused: then the whole file must be a complete movie.
    [ "$(probe_field "$d/s.avi" nb_read_frames)" = 6 ] && no_temporaries "$d" && return 0
    echo "  $label: read, but the output is not a complete 6-frame movie"; return 1
  fi
  [ $r -eq 1 ] || { echo "  $label: exit $r"; return 1; }
  grep -q "s4.$ext" "$d/err" && grep -q "^could not be read\.$" "$d/err" || { echo "  $label: frame not named"; cat "$d/err"; return 1; }
  # Below it, why, in the program's words.
  grep -qxE "the image is damaged|the image is too large|not enough memory|not an image in a format zelvo reads \(BMP, PNG.*\)" "$d/err" ||
    { echo "  $label: no reason given"; cat "$d/err"; return 1; }
  # Decoders' own lines ("[mjpeg @ 0x...] ...") never reach the user.
  ! grep -q '@ 0x' "$d/err" || { echo "  $label: a decoder's line was shown"; cat "$d/err"; return 1; }
  [ "$(cat "$d/s.avi")" = older ] && no_temporaries "$d" || { echo "  $label: output not restored"; return 1; }
}

if [ -d "$bmpsuite/b" ]; then
  all=1
  for f in "$bmpsuite"/b/*.bmp; do bad_middle_frame "$f" "b/$(basename "$f")" || all=0; done
  check "every bad BMP of the suite as a middle frame: named or read, never a crash or a partial file" test $all = 1
else
  echo "skip: $bmpsuite is absent (bad BMP files)"
fi
if [ -d "$crashers" ]; then
  all=1
  for f in "$crashers"/*.png; do bad_middle_frame "$f" "crasher $(basename "$f")" || all=0; done
  check "every libpng crasher as a middle frame: named or read safely" test $all = 1
else
  echo "skip: $crashers is absent (run scripts/setup)"
fi
all=1 inputs=0
for f in "$e2e_root"/fuzz/regressions/*/* "$e2e_root"/fuzz/corpus/bmp/* "$e2e_root"/fuzz/corpus/png/* \
         "$e2e_root"/fuzz/corpus/image/*; do
  [ -f "$f" ] || continue
  inputs=$((inputs + 1))
  bad_middle_frame "$f" "fuzz input $(basename "$f")" "${f##*.}" || all=0
done
check "every saved fuzz input ($inputs) as a middle frame: named or read safely" test $all = 1 -a $inputs -gt 0
# Every format the program reads, damaged the ways files get damaged: cut off after a few
# bytes, after half, bytes overwritten in the middle, and its header's sizes made huge.
all=1 inputs=0
for f in "$e2e_root"/fuzz/corpus/image/*; do
  [ -f "$f" ] || continue
  ext=${f##*.} size=$(stat -c %s "$f")
  for how in 20 half middle huge; do
    case $how in
      20) head -c 20 "$f" ;;
      half) head -c $((size / 2)) "$f" ;;
      middle) { head -c $((size / 2)) "$f"; head -c 64 /dev/urandom; tail -c +$((size / 2 + 65)) "$f"; } ;;
      huge) python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read())
for at in range(4, min(len(d), 64), 8): d[at:at + 2] = b"\xff\x7f"
sys.stdout.buffer.write(d)' "$f" ;;
    esac >"$work/damaged.$ext"
    inputs=$((inputs + 1))
    bad_middle_frame "$work/damaged.$ext" "$(basename "$f") $how" "$ext" || all=0
  done
done
check "every format's seed cut, overwritten or with huge sizes ($inputs files) as a middle frame: named or read safely" \
  test $all = 1 -a $inputs -gt 100
for n in 10 54 55 200 1000; do
  head -c $n "$sample/frame0002.bmp" >"$work/trunc$n.bmp"
  bad_middle_frame "$work/trunc$n.bmp" "truncated to $n bytes"
  check "a frame truncated to $n bytes is handled" test $? -eq 0
done
# A BMP cut short inside its pixels is read: what the file holds, black for the rest (the
# rows are stored bottom up, so the top is missing), and the program names it once.
d="$work/cut"
mkdir "$d"
for i in 1 2 3; do
  ffmpeg -v error -f lavfi -i testsrc2=size=64x48 -frames:v 1 -vf "hue=h=$((i * 90))" -pix_fmt bgr24 "$d/c$i.bmp"
done
ffmpeg -v error -i "$d/c%d.bmp" -f rawvideo -pix_fmt rgb24 - >"$work/full.rgb"
row=$((64 * 3))
truncate -s $((54 + 20 * row)) "$d/c2.bmp"  # the bottom 20 of 48 rows
{ head -c $((48 * row)) "$work/full.rgb"; head -c $((28 * row)) /dev/zero
  tail -c +$(((48 + 28) * row + 1)) "$work/full.rgb"; } >"$work/cut.rgb"
"$zelvo" -y -c dib "$d/c1.bmp" </dev/null 2>"$d/err"
check "a BMP cut short in its pixels is converted (exit 0), all 3 frames" test $? -eq 0 -a "$(probe_field "$d/c.avi" nb_read_frames)" = 3
check "... its missing rows are black, the rest and the other frames are their inputs" cmp -s <(decode_rgb "$d/c.avi") "$work/cut.rgb"
check "... and the program says so once, naming it" test "$(grep -cF "zelvo: $d/c2.bmp: the file is shorter than its header says; the missing part is black" "$d/err")" = 1
head -c 5000 /dev/urandom >"$work/garbage.bmp"
bad_middle_frame "$work/garbage.bmp" garbage
check "a frame of random bytes is named" test $? -eq 0

# --- outputs that cannot be written ---------------------------------------------------
mkdir -p "$work/seq" "$work/ro"
cp "$sample"/frame00*.bmp "$work/seq/"
if chattr +i "$work/ro" 2>/dev/null; then
  "$zelvo" -y -c dib -o "$work/ro/out.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
  check "an unwritable output folder fails and names the output and the reason" \
    test $? -eq 1 -a -n "$(grep 'ro/out.avi' "$work/err")" -a -n "$(grep -x 'Operation not permitted' "$work/err")"
  chattr -i "$work/ro"
else
  chmod 555 "$work/ro"
  if [ "$(id -u)" -ne 0 ]; then
    "$zelvo" -y -c dib -o "$work/ro/out.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
    check "an unwritable output folder fails and names the output and the reason" \
      test $? -eq 1 -a -n "$(grep 'ro/out.avi' "$work/err")" -a -n "$(grep -x 'Permission denied' "$work/err")"
  else
    echo "skip: no way to make a folder unwritable for root here"
  fi
fi
mkdir "$work/seq/folder.avi"
"$zelvo" -y -c dib -o "$work/seq/folder.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
check "an output path that is a folder is a usage error naming it" test $? -eq 2 -a -n "$(grep 'folder.avi' "$work/err")"
folder_stands() { [ -d "$work/seq/folder.avi" ] && no_temporaries "$work/seq"; }
check "the folder is still a folder, nothing left beside it" folder_stands
cp "$work/seq/frame0003.bmp" "$work/keep3.bmp"
frame3_untouched() { cmp -s "$work/seq/frame0003.bmp" "$work/keep3.bmp" && cmp -s "$1" "$work/keep3.bmp"; }
# Frame 3 under four spellings: itself, a symbolic link, a path through "..", a second
# (hard) link; each from a fresh frame 3, so one row's damage cannot pass the next.
for out in frame0003.bmp alias.avi ../seq/frame0003.bmp hard.avi; do
  rm -f "$work/seq/alias.avi" "$work/seq/hard.avi"
  cp "$work/keep3.bmp" "$work/seq/frame0003.bmp"
  ln -s frame0003.bmp "$work/seq/alias.avi"
  ln "$work/seq/frame0003.bmp" "$work/seq/hard.avi"
  out="$work/seq/$out"
  # -f: a name ending in .bmp names no container of its own.
  "$zelvo" -y -c dib -f avi -o "$out" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
  r=$?
  check "an output that is one of the frames (${out#"$work/seq/"}) is refused, naming both" \
    test $r -eq 1 -a -n "$(grep -F "$out" "$work/err")" -a -n "$(grep 'frame0003.bmp' "$work/err")"
  check "... and the frame is untouched under both names" frame3_untouched "$out"
done
rm "$work/seq/alias.avi" "$work/seq/hard.avi"

# --- a frame that changes while the job runs -------------------------------------------
mkdir "$work/live"
python3 - "$work/live" <<'PY'
import struct, sys
w, h = 320, 240
for k in range(300):
    data = bytes([k & 255, 60, 160]) * (w * h)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
    with open("%s/v%04d.bmp" % (sys.argv[1], k), "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data)
PY
older_stands() { [ "$(cat "$1/v.avi")" = older ] && no_temporaries "$1"; }
older_stands_at() { [ "$(cat "$1/$2")" = older ] && no_temporaries "$1"; }
for how in delete truncate garbage; do
  cp -r "$work/live" "$work/live-$how"
  d="$work/live-$how"
  printf 'older' >"$d/v.avi"
  "$zelvo" -y -c ffv1 "$d/v0000.bmp" </dev/null 2>"$d/err" &
  pid=$!
  stop_when_writing $pid "$d"
  case $how in
    delete) rm "$d/v0250.bmp" ;;
    truncate) truncate -s 30 "$d/v0250.bmp" ;;
    garbage) head -c 230454 /dev/urandom >"$d/v0250.bmp" ;;
  esac
  kill -CONT $pid
  wait $pid
  r=$?
  check "a frame ${how}d during the job ends it (exit 1) naming the frame" test $r -eq 1 -a -n "$(grep 'v0250.bmp' "$d/err")"
  check "after the frame was ${how}d the older output stands, no temporary" older_stands "$d"
done

# --- a pipe in place of a frame: named at once, never waited on ------------------------
# A pipe with no writer would hold a plain open forever; the job names it as no file. A
# watchdog ends a program that waits all the same, so the check fails instead of hanging.
pipe_job() {  # pipe_job FOLDER FIRST-FRAME FRAME-TO-REPLACE: runs the job, exit status
  local d=$1 first=$2 replace=$3 pid watchdog r
  "$zelvo" -y -c dib "$first" </dev/null 2>"$d/err" &
  pid=$!
  stop_when_writing $pid "$d"
  rm "$replace"
  mkfifo "$replace"
  kill -CONT $pid
  (sleep 30; kill -KILL $pid 2>/dev/null) &
  watchdog=$!
  wait $pid
  r=$?
  kill $watchdog 2>/dev/null
  wait $watchdog 2>/dev/null
  return $r
}
cp -r "$work/live" "$work/live-pipe"
d="$work/live-pipe"
printf 'older' >"$d/v.avi"
pipe_job "$d" "$d/v0000.bmp" "$d/v0250.bmp"
check "a frame replaced by a pipe during the job ends it (exit 1, not a hang)" test $? -eq 1
check "... naming the frame as no regular file" \
  test -n "$(grep -F "$d/v0250.bmp" "$d/err")" -a -n "$(grep -x 'not a regular file' "$d/err")"
check "... the older output stands, no temporary" older_stands "$d"

# --- frames that declare gigabytes, and a memory limit ----------------------------------
# Three files of 118 bytes that declare 20000x13000 in a run of 64x48: read in their place
# (black, the canvas's size), within the memory of a few frames whatever the readers.
d="$work/huge"
mkdir "$d"
python3 - "$d" <<'PY'
import struct, sys
def bmp(w, h, data):
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data
for i in range(1, 11):
    big = i in (3, 5, 7)
    with open("%s/h%02d.bmp" % (sys.argv[1], i), "wb") as f:
        f.write(bmp(20000, 13000, b"\x55" * 64) if big else bmp(64, 48, bytes([i * 20, 90, 200]) * (64 * 48)))
PY
for threads in 1 2 8 64; do
  /usr/bin/time -f %M -o "$d/peak" "$zelvo" -y -c dib --threads $threads -o "$d/h.avi" "$d/h01.bmp" </dev/null 2>"$d/err"
  r=$?
  check "frames declaring 20000x13000, --threads $threads: converted (exit 0), all 10 frames" \
    test $r -eq 0 -a "$(probe_field "$d/h.avi" nb_read_frames)" = 10
  check "... at a peak of $(($(cat "$d/peak") / 1024)) MiB, below 200 MiB" test "$(cat "$d/peak")" -lt 204800
done
# Frames that decode to 64 MiB each from 66 KB (like the issue's) under a 1 GiB address
# space limit: whether the job succeeds does not depend on --threads.
d="$work/dense"
mkdir "$d"
python3 - "$d" <<'PY'
import struct, sys, zlib
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
w, h = 4096, 5461
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress((b"\0" + b"\x40" * (w * 3)) * h, 9)) + chunk(b"IEND", b"")
for i in range(1, 13):
    open("%s/d%02d.png" % (sys.argv[1], i), "wb").write(png)
PY
for threads in 1 8 64; do
  (ulimit -v 1048576; exec "$zelvo" -y -c dib --threads $threads -o "$d/d.avi" "$d/d01.png" </dev/null 2>"$d/err")
  r=$?
  check "12 frames of 64 MiB under ulimit -v 1G, --threads $threads: converted (exit 0), all 12" \
    test $r -eq 0 -a "$(probe_field "$d/d.avi" nb_read_frames)" = 12
  rm -f "$d/d.avi"
done
# A frame that cannot fit the memory at all: the job names it and says so, and nothing
# ends the process.
python3 - "$d" <<'PY'
import struct, sys
info = struct.pack("<IiiHHIIiiII", 40, 20000, 15000, 1, 24, 0, 0, 0, 0, 0, 0)
open("%s/m1.bmp" % sys.argv[1], "wb").write(struct.pack("<2sIHHI", b"BM", 118, 0, 0, 54) + info + b"\x55" * 64)
PY
cp "$sample/frame0001.bmp" "$d/m2.bmp"
printf 'older' >"$d/m.avi"
for threads in 1 4; do
  (ulimit -v 700000; exec "$zelvo" -y -c dib --threads $threads "$d/m1.bmp" </dev/null 2>"$d/err")
  r=$?
  check "a 900 MB frame under ulimit -v 700M, --threads $threads: the job fails (exit 1), no crash" test $r -eq 1
  check "... naming the frame and saying there is not enough memory" \
    test -n "$(grep -F "$d/m1.bmp" "$d/err")" -a -n "$(grep -x 'not enough memory' "$d/err")"
  check "... the older output stands, no temporary" older_stands_at "$d" m.avi
done

# --- every signal that ends a process ------------------------------------------------------
# Each removes the temporary file, then ends the process by that signal (the exit status
# shows it); SIGXFSZ sent by someone else as well. SIGINT, SIGTERM and SIGHUP abort the
# job (output_test.sh); a second SIGINT or SIGTERM ends the program at once.
d="$work/live"
printf 'older' >"$d/v.avi"
for sig in QUIT USR1 USR2 ALRM VTALRM PROF XCPU XFSZ; do
  "$zelvo" -y -c dib "$d/v0000.bmp" </dev/null 2>/dev/null &
  pid=$!
  signal_when_writing $pid "$d" $sig
  wait $pid
  r=$?
  check "SIG$sig during a job ends the program by that signal (exit $((128 + $(kill -l $sig))))" \
    test $r -eq $((128 + $(kill -l $sig)))
  check "... the older output stands, no temporary" older_stands "$d"
  rm -f "$d"/core*
done
# The second may come while the first is still stopping the job, or after it has: either
# way nothing is left behind.
for sig in INT TERM; do
  "$zelvo" -y -c dib "$d/v0000.bmp" </dev/null 2>/dev/null &
  pid=$!
  signal_when_writing $pid "$d" $sig
  kill -$sig $pid 2>/dev/null
  wait $pid
  r=$?
  check "a second SIG$sig ends the program (by the signal, or exit 1 when the first had)" \
    test $r -eq $((128 + $(kill -l $sig))) -o $r -eq 1
  check "... the older output stands, no temporary" older_stands "$d"
done
# A CPU time limit (ulimit -t, the soft one: the hard one kills outright) sends SIGXCPU:
# the same end, without a temporary file.
d="$work/dense"
(ulimit -St 1; exec "$zelvo" -y -c ffv1 --threads 1 -o "$d/d.avi" "$d/d01.png" </dev/null 2>/dev/null)
r=$?
check "a CPU time limit ends the job by SIGXCPU (exit $((128 + $(kill -l XCPU))))" test $r -eq $((128 + $(kill -l XCPU)))
check "... no output and no temporary file" test ! -e "$d/d.avi" -a -z "$(ls -A "$d" | grep '^~')"
d="$work/live"
# The program's own write past the file size limit (ulimit -f): SIGXFSZ then only fails
# that write, and the job says so.
(ulimit -f 2048; exec "$zelvo" -y -c dib "$d/v0000.bmp" </dev/null 2>"$d/err")
r=$?
check "a write past ulimit -f fails the job (exit 1) with the system's reason" \
  test $r -eq 1 -a -n "$(grep -x 'File too large' "$d/err")"
check "... the older output stands, no temporary" older_stands "$d"

# --- the output folder renamed during the job ----------------------------------------------
# Every step after the start works in the folder the job found, wherever it went: the movie
# completes into it, an abort leaves the older output in it, and frames that went along
# with it end the job, naming one; never is a temporary file left there.
for how in complete abort frames; do
  rm -rf "$work/moving" "$work/moved"
  mkdir "$work/moving"
  printf 'older' >"$work/moving/v.avi"
  if [ $how = frames ]; then
    cp "$work"/live/v0*.bmp "$work/moving/"
    "$zelvo" -y -c dib "$work/moving/v0000.bmp" </dev/null 2>"$work/err" &
  else
    "$zelvo" -y -c dib -o "$work/moving/v.avi" "$work/live/v0000.bmp" </dev/null 2>"$work/err" &
  fi
  pid=$!
  stop_when_writing $pid "$work/moving"
  mv "$work/moving" "$work/moved"
  [ $how = abort ] && kill -INT $pid
  kill -CONT $pid
  wait $pid
  r=$?
  case $how in
    complete)
      check "the output's folder renamed during the job: the movie completes in it (exit 0, 300 frames)" \
        test $r -eq 0 -a "$(probe_field "$work/moved/v.avi" nb_read_frames)" = 300 ;;
    abort)
      check "the output's folder renamed, then Ctrl-C: the older output stands in it (exit 1)" \
        test $r -eq 1 -a "$(cat "$work/moved/v.avi")" = older ;;
    frames)
      check "the folder of frames and output renamed: the job names a missing frame (exit 1)" \
        test $r -eq 1 -a -n "$(grep -F "$work/moving/v0" "$work/err")" -a "$(cat "$work/moved/v.avi")" = older ;;
  esac
  check "... no temporary file is left in the renamed folder" no_temporaries "$work/moved"
done

# --- an older output is replaced only once the new one is on the disk ----------------------
# The data is flushed before the rename and the folder after it; a new output needs neither.
d="$work/flush"
mkdir "$d"
cp "$sample"/frame000[1-3].bmp "$d/"
flushes() {  # the calls in order: "data", "rename", "folder"
  strace -f -qq -y -e trace=fsync,fdatasync,rename,renameat,renameat2 -o "$d/trace" \
    "$zelvo" -y -c dib "$d/frame0001.bmp" </dev/null >/dev/null 2>&1
  sed -n -e 's/.*fsync([0-9]*<[^>]*~zelvo[^>]*>).*/data/p' -e 's/.*rename.*/rename/p' \
    -e "s|.*fsync([0-9]*<$d>).*|folder|p" "$d/trace" | tr '\n' ' '
}
if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
  printf 'older' >"$d/frame.avi"
  check "replacing an older output: the data flushed, then the rename, then the folder flushed" \
    test "$(flushes)" = "data rename folder "
  rm "$d/frame.avi"
  check "a new output is renamed into place without a flush" test "$(flushes)" = "rename "
else
  echo "skip: strace cannot trace here (the flushes before and after a replacement)"
fi

# --- the codec libraries: loaded only by the jobs that need them ---------------------------
# Full frames from BMP and PNG into AVI never load libavcodec (its libraries are most of a
# small job's memory); codecs, other containers and formats libavcodec decodes do. Where it
# cannot be loaded, those jobs fail saying why, and the others still convert.
d="$work/lazy"
mkdir "$d"
for ext in bmp png tif; do
  ffmpeg -v error -f lavfi -i testsrc2=size=32x24 -frames:v 2 -pix_fmt rgb24 "$d/$ext%d.$ext"
done
# Which libavcodec a job loads: its file name, empty when none.
loaded_codec_library() {
  LD_DEBUG=files "$zelvo" -y "$@" </dev/null 2>&1 >/dev/null | sed -n 's/.*file=\(libavcodec\.so\.[0-9]*\) .*/\1/p' | head -n 1
}
soname=""
for row in "dib bmp1.bmp no" "dib png1.png no" "mjpeg bmp1.bmp yes" "dib tif1.tif yes"; do
  set -- $row
  library=$(loaded_codec_library -c "$1" -o "$d/out-$1-$2.avi" "$d/$2")
  [ "$3" = yes ] && soname=${soname:-$library}
  check "-c $1 with ${2#*.} frames loads libavcodec: $3" test "$([ -n "$library" ] && echo yes || echo no)" = "$3"
done
if [ -n "$soname" ] && command -v cc >/dev/null; then
  # A libavcodec that is not one: an empty library of its name, found first.
  mkdir "$d/fake"
  : >"$d/fake/empty.c"
  cc -shared -fPIC -o "$d/fake/$soname" "$d/fake/empty.c" -Wl,-soname,"$soname"
  for row in "-c mjpeg bmp1.bmp" "-c dib tif1.tif" "-f mkv -c ffv1 bmp1.bmp"; do
    set -- $row
    frame=${!#}
    printf 'older' >"$d/v.avi"
    LD_LIBRARY_PATH="$d/fake" "$zelvo" -y "${@:1:$(($# - 1))}" -o "$d/v.avi" "$d/$frame" </dev/null >/dev/null 2>"$d/err"
    r=$?
    check "$* with a broken $soname: exit 1, naming it and why ($(tail -n 1 "$d/err"))" \
      test $r -eq 1 -a -n "$(grep -E "^(zelvo: )?$soname cannot be used: .*undefined symbol" "$d/err")"
    check "... the older output stands, no temporary" older_stands_at "$d" v.avi
  done
  LD_LIBRARY_PATH="$d/fake" "$zelvo" -y -c dib -o "$d/v.avi" "$d/bmp1.bmp" </dev/null >/dev/null 2>"$d/err"
  check "-c dib with BMP frames and the same broken $soname converts both frames" \
    test $? -eq 0 -a "$(probe_field "$d/v.avi" nb_read_frames)" = 2
  LD_LIBRARY_PATH="$d/fake" "$zelvo" --version >"$d/out" 2>"$d/err"
  check "--version with it: exit 1, its own version and why" \
    test $? -eq 1 -a "$(head -c 6 "$d/out")" = "zelvo " -a -n "$(grep "^zelvo: $soname cannot be used" "$d/err")"
else
  not_ok "no job loaded libavcodec, or no C compiler for a broken one"
fi

# --- standard output that cannot be written ------------------------------------------------
for option in --help --version --list-codecs; do
  "$zelvo" $option >/dev/full 2>"$work/err"
  r=$?
  check "zelvo $option into a full disk: exit 1, saying the write failed" \
    test $r -eq 1 -a -n "$(grep '^zelvo: write error: No space left on device$' "$work/err")"
done

# --- a killed process never replaces the older file -------------------------------------
d="$work/live"
printf 'older' >"$d/v.avi"
for delay in 0.05 0.2 0.5 1; do
  "$zelvo" -y -c dib "$d/v0000.bmp" </dev/null 2>/dev/null &
  pid=$!
  sleep $delay
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  if [ "$(head -c 5 "$d/v.avi")" = older ]; then
    ok "killed after ${delay}s: the older output is untouched"
  elif [ "$(probe_field "$d/v.avi" nb_read_frames)" = 300 ]; then
    ok "killed after ${delay}s: the job had finished, the output is complete"
    printf 'older' >"$d/v.avi"
  else
    not_ok "killed after ${delay}s: the output is neither the older file nor complete"
  fi
  rm -f "$d"/*~zelvo* "$d"/~zelvo*
done

# --- names: long, spaced, non-ASCII --------------------------------------------------------
for len in 255 257 259; do
  base="$work/L"
  pad=$((len - ${#base} - 10))  # "/x0001.bmp" is 10 characters
  d="$base$(printf '%*s' "$pad" '' | tr ' ' d)"
  mkdir -p "$d"
  cp "$sample/frame0001.bmp" "$d/x0001.bmp"; cp "$sample/frame0002.bmp" "$d/x0002.bmp"
  p="$d/x0001.bmp"
  "$zelvo" -y -c dib "$p" </dev/null 2>/dev/null
  r=$?
  check "a frame path of ${#p} characters converts" test $r -eq 0 -a "$(probe_field "$d/x.avi" nb_read_frames)" = 2
  check "beside a ${#p}-character path no temporary is left" test -z "$(ls -A "$d" | grep '~')"
done
d="$work/名前 と 空白/Séquence ünïcödé"
mkdir -p "$d"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$d/ショット 00$n.bmp"; done
"$zelvo" -y -c dib "$d/ショット 002.bmp" </dev/null 2>/dev/null
check "UTF-8 names with spaces and non-ASCII letters convert" test $? -eq 0 -a "$(probe_field "$d/ショット .avi" nb_read_frames)" = 3

# --- frames of every size and depth in one sequence ---------------------------------------
d="$work/mixed"
mkdir "$d"
i=0
for shape in "64x48 -type truecolor bmp3" "80x60 -type palette -colors 2 bmp3" "32x24 -type palette -colors 16 bmp3" \
            "100x70 -type palette bmp3" "50x40 png" "70x50 -type truecolormatte png32" "64x48 -define bmp:format=bmp3 -depth 5 bmp" \
            "90x30 -type grayscale png8" "64x48 -type truecolormatte bmp"; do
  set -- $shape
  size=$1; shift
  fmt=${!#}; opts=("${@:1:$(($# - 1))}")
  i=$((i + 1))
  convert -size "$size" "plasma:fractal" -seed $i "${opts[@]}" "$fmt:$d/m$(printf %02d $i).bmp" 2>/dev/null ||
    convert -size "$size" "gradient:red-blue" "${opts[@]}" "$fmt:$d/m$(printf %02d $i).bmp"
done
"$zelvo" -y -c dib "$d/m01.bmp" </dev/null 2>"$d/err"
check "a sequence of mixed sizes, depths and formats converts" test $? -eq 0
check "it holds every frame at the first frame's size" test "$(probe_field "$d/m.avi" nb_read_frames)" = $i -a "$(probe_field "$d/m.avi" width)x$(probe_field "$d/m.avi" height)" = 64x48

# The canvas takes the first frame's size; whatever a frame does not reach is black (never
# an earlier frame showing through), and the program says once where sizes start to differ.
d="$work/sizes"
mkdir "$d"
i=0
for size in 64x48 40x30 64x48 30x60 100x20 64x48; do
  i=$((i + 1))
  ffmpeg -v error -f lavfi -i "testsrc2=size=$size" -frames:v 1 -vf "hue=h=$((i * 60))" -pix_fmt rgb24 "$d/z$i.png"
  ffmpeg -v error -i "$d/z$i.png" -vf "crop='min(iw,64)':'min(ih,48)':0:0,pad=64:48:0:0:black" \
    -f rawvideo -pix_fmt rgb24 - >>"$work/sizes.rgb"
done
"$zelvo" -y -c dib "$d/z1.png" </dev/null 2>"$d/err"
check "frames smaller and larger than the first convert (exit 0), all $i at 64x48" \
  test $? -eq 0 -a "$(probe_field "$d/z.avi" nb_read_frames)" = $i -a "$(probe_field "$d/z.avi" width)x$(probe_field "$d/z.avi" height)" = 64x48
check "... each frame at the top left, cut to the canvas, black where it does not reach" cmp -s <(decode_rgb "$d/z.avi") "$work/sizes.rgb"
check "... and the program says once that sizes differ, from the second frame on" \
  test "$(grep -c "differ" "$d/err")" = 1 -a -n "$(grep -F "zelvo: frames differ in size, from $d/z2.png on; the first frame's size is used" "$d/err")"

# --- the run on disk: a folder named like a frame ends it; a link to a frame belongs to it --
d="$work/gap"
mkdir "$d"
ffmpeg -v error -f lavfi -i testsrc=size=32x24:rate=25 -frames:v 20 -pix_fmt rgb24 "$d/s%03d.png"
mv "$d/s005.png" "$d/real5.png"
ln -s real5.png "$d/s005.png"
rm "$d/s012.png"
mkdir "$d/s012.png"
for row in "s001 1 11" "s015 13 20"; do
  set -- $row
  "$zelvo" -y -c dib -o "$d/$1.avi" "$d/$1.png" </dev/null 2>"$d/err"
  r=$?
  check "named $1.png, the run is $2 to $3 (exit 0, $(($3 - $2 + 1)) frames), not into the folder s012.png" \
    test $r -eq 0 -a "$(probe_field "$d/$1.avi" nb_read_frames)" = $(($3 - $2 + 1))
  check "... every frame equal to its input" \
    cmp -s <(decode_rgb "$d/$1.avi") <(decode_frames $(seq -f "$d/s%03g.png" $2 $3))
done

finish
