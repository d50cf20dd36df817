#!/usr/bin/env bash
# What stands at the output path, and what happens to the process while it writes: a
# device, a pipe or a link as the output, an older file's mode and owner, names at the path
# limit, signals and a closed pipe, one output for several sequences. Nothing may be
# destroyed, and nothing the job finished may be lost.
set -u
. "$(dirname "$0")/lib.sh"
native_e2e_start

seq="$work/seq"
o="$work/out"
mkdir "$seq" "$o"
ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -pix_fmt rgb24 "$seq/f%04d.png"
ffmpeg -v error -i "$seq/f%04d.png" -f rawvideo -pix_fmt rgb24 - >"$work/seq.rgb"
frame="$seq/f0001.png"
# True when the AVI holds the twelve frames of $seq, pixel for pixel.
is_movie() { [ "$(probe_field "$1" nb_read_frames)" = 12 ] && cmp -s <(decode_rgb "$1") "$work/seq.rgb"; }

# --- outputs that are no files: refused before anything is asked, left as they were ------
# Answers are offered on standard input: a program that asked would go on and replace them.
kinds=("fifo.avi -p a FIFO" "link.avi -p a link to that FIFO")
mkfifo "$o/fifo.avi"
ln -s fifo.avi "$o/link.avi"
if mknod "$o/null" c 1 3 2>/dev/null; then kinds+=("null -c a character device (1,3 like /dev/null)"); else
  echo "skip: no device node can be made here (not root)"; fi
for row in "${kinds[@]}"; do
  set -- $row
  name=$1 flag=$2; shift 2
  printf 'y\ny\n' | timeout 20 "$zelvo" -c dib -o "$o/$name" "$frame" 2>"$work/err"
  r=$?
  # Named by -o, so a usage error (exit 2) found before the first question.
  check "$* as output is refused (exit 2, not a hang), naming it, nothing asked" \
    test $r -eq 2 -a -n "$(grep -F "$o/$name" "$work/err")" -a -z "$(grep -F '[y/n]' "$work/err")"
  check "... and stays $*" test "$flag" "$o/$name"
done
check "no temporary file is left beside them" no_temporaries "$o"
# The system's own /dev/null, in a private mount namespace whose /dev is a fresh tmpfs: the
# path is the real one, but a program that replaced it could not harm the machine.
got=$(unshare -m sh -c 'mount -t tmpfs zelvo-test /dev 2>/dev/null && mknod /dev/null c 1 3 || { echo skip; exit; }
  printf "y\ny\n" | timeout 20 "$0" -c dib -o /dev/null "$1" 2>"$2"
  r=$?; [ -c /dev/null ] && echo "$r device" || echo "$r replaced"' "$zelvo" "$frame" "$work/err" 2>/dev/null)
if [ "${got:-skip}" = skip ]; then
  echo "skip: no private mount namespace with its own /dev here (-o /dev/null)"
else
  check "-o /dev/null is refused and /dev/null stays a character device (private /dev)" test "$got" = "2 device"
fi
check "the machine's /dev/null is a character device" test -c /dev/null

# --- symbolic links: the link stays, its target gets the movie -----------------------------
mkdir "$o/real"
printf older >"$o/real/t1.avi"
printf older >"$o/real/t3.avi"
ln -s "$o/real/t1.avi" "$o/absolute.avi"
ln -s real/t2.avi "$o/dangling.avi"
ln -s real/t3.avi "$o/hop.avi"
ln -s hop.avi "$o/chain.avi"
for row in "absolute.avi real/t1.avi" "dangling.avi real/t2.avi" "chain.avi real/t3.avi"; do
  set -- $row
  before=$(readlink "$o/$1")
  "$zelvo" -y -c dib -o "$o/$1" "$frame" </dev/null 2>"$work/err"
  r=$?
  check "a link as output ($1) converts (exit 0) and stays the same link" \
    test $r -eq 0 -a -L "$o/$1" -a "$(readlink "$o/$1")" = "$before"
  check "... and its target $2 is the movie" is_movie "$o/$2"
done
check "no temporary file is left beside the links or their targets" no_temporaries "$o" "$o/real"

# --- an older output's mode, owner and group carry over ------------------------------------
printf older >"$o/kept.avi"
chmod 0640 "$o/kept.avi"
[ "$(id -u)" -eq 0 ] && chown 1:4 "$o/kept.avi"  # another user and group: only root may
want=$(stat -c '%a %u:%g' "$o/kept.avi")
"$zelvo" -y -c dib -o "$o/kept.avi" "$frame" </dev/null 2>"$work/err"
check "replacing an older output keeps its mode, owner and group ($want)" \
  test $? -eq 0 -a "$(stat -c '%a %u:%g' "$o/kept.avi")" = "$want"
check "... and it is the new movie" is_movie "$o/kept.avi"

# --- outputs at the path limit (259 bytes) with the shortest names -------------------------
# A new folder whose path is exactly $1 bytes long, made of components of at most 200.
deep_folder() {
  local path="$work/deep$2"
  while [ $(($1 - ${#path})) -gt 201 ]; do path="$path/$(printf '%*s' 200 '' | tr ' ' d)"; done
  path="$path/$(printf '%*s' $(($1 - ${#path} - 1)) '' | tr ' ' e)"
  mkdir -p "$path" && echo "$path"
}
for name in a.avi .avi; do
  dir=$(deep_folder $((259 - 1 - ${#name})) "$name")
  "$zelvo" -y -c dib -o "$dir/$name" "$frame" </dev/null 2>"$work/err"
  r=$?
  check "a ${#dir}+1+${#name}-byte output named \"$name\" converts (exit 0) into a complete movie" \
    test $r -eq 0 -a "$(ls -A "$dir")" = "$name"
  [ $r -eq 0 ] && check "... every frame equal to its input" is_movie "$dir/$name"
done

# --- signals and a closed pipe ---------------------------------------------------------------
long="$work/long"
mkdir "$long"
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 200 -pix_fmt rgb24 "$long/L%04d.png"
older_stands() { [ "$(cat "$long/L.avi")" = older ] && no_temporaries "$long"; }
for sig in TERM HUP; do
  printf older >"$long/L.avi"
  "$zelvo" -y -c ffv1 "$long/L0001.png" </dev/null 2>"$work/err" &
  pid=$!
  signal_when_writing $pid "$long" $sig
  wait $pid
  r=$?
  check "SIG$sig during a job aborts it like Ctrl-C (exit 1)" test $r -eq 1
  check "after SIG$sig the older output is intact, no temporary file left" older_stands
done
rm -f "$long/L.avi"
"$zelvo" -y -c ffv1 "$long/L0001.png" </dev/null 2>&1 | head -2 >/dev/null
r=${PIPESTATUS[0]}
check "a reader that stops after two lines (| head -2) does not stop the job: exit 0" test $r -eq 0
check "... no temporary file is left" no_temporaries "$long"
check "... the movie is there under its name, all 200 frames" test "$(probe_field "$long/L.avi" nb_read_frames)" = 200
check "... every frame equal to its input" cmp -s <(decode_rgb "$long/L.avi") \
  <(ffmpeg -v error -i "$long/L%04d.png" -f rawvideo -pix_fmt rgb24 -)
# A closed standard error: the next file the program opens takes its number, and nothing
# meant for the terminal may land in it. A smaller last frame makes the program speak
# while the movie is being written.
c="$work/closed"
cp -r "$seq" "$c"
ffmpeg -v error -y -f lavfi -i testsrc2=size=32x24 -frames:v 1 -pix_fmt rgb24 "$c/f0012.png"
{ head -c $((11 * 64 * 48 * 3)) "$work/seq.rgb"
  ffmpeg -v error -i "$c/f0012.png" -vf pad=64:48:0:0:black -f rawvideo -pix_fmt rgb24 -; } >"$work/closed.rgb"
"$zelvo" -y -c dib -o "$c/open.avi" "$c/f0001.png" </dev/null 2>/dev/null
check "(with its streams open, the job writes its 12 frames)" cmp -s <(decode_rgb "$c/open.avi") "$work/closed.rgb"
"$zelvo" -y -c dib -o "$c/closed.avi" "$c/f0001.png" </dev/null 2>&-
check "with standard error closed the job converts (exit 0)" test $? -eq 0
check "... into the same file, byte for byte (no message inside the movie)" cmp -s "$c/open.avi" "$c/closed.avi"

# --- one output for several sequences ------------------------------------------------------
mkdir "$work/g"
cp "$seq/f0001.png" "$work/g/g0001.png"
cp "$seq/f0002.png" "$work/g/g0002.png"
ls -A "$seq" "$work/g" >"$work/before"
"$zelvo" -y -c dib -o "$o/x.avi" "$frame" "$work/g/g0001.png" </dev/null 2>"$work/err"
check "-o with two frames is a usage error (exit 2)" test $? -eq 2
check "... and nothing is written" test ! -e "$o/x.avi" -a "$(ls -A "$seq" "$work/g")" = "$(cat "$work/before")"

finish
