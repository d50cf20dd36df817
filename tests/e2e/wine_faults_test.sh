#!/usr/bin/env bash
# zelvo.exe under Wine against bad luck: every bad BMP of the suite and every libpng
# crasher as a frame in the middle of a sequence, names with double-byte characters whose
# second byte is 0x5C, a frame path of 259 characters, an output that is a folder, and
# the main dialog still usable for the next job after a failed one.
set -u
. "$(dirname "$0")/lib.sh"
wine_e2e_start zelvo.exe winauto.exe
sample="$e2e_root/samples/demo"
bmpsuite="$e2e_root/../shared/corpus/bmpsuite"
crashers="$e2e_root/.cache/libpng/contrib/testpngs/crashers"

# Runs a batch of one frame path: answers the confirmation, accepts full frames, and
# answers OK to the job's message if one comes. Prints the message's text.
batch() {
  wine_run 300 "$exe" "$(winpath "$1")" &
  local pid=$!
  auto answer-yes Zelvo >/dev/null
  auto accept-compressor >/dev/null
  local message
  message=$(WINAUTO_TIMEOUT=${2:-6} auto message Zelvo) || message=""
  message=${message//$'\r'/}
  [ -n "$message" ] && auto answer-ok Zelvo >/dev/null
  wait $pid
  printf '%s' "$message"
}

bad_middle_frame() {
  local file=$1 label=$2 n
  local d="$work/bad"
  rm -rf "$d"; mkdir "$d"
  for n in 1 2 3 5 6; do cp "$sample/frame000$n.bmp" "$d/s$n.bmp"; done
  cp "$file" "$d/s4.bmp"
  local message
  message=$(batch "$d/s1.bmp")
  if [ -z "$message" ]; then
    [ "$(probe_field "$d/s.avi" nb_read_frames)" = 6 ] && return 0
    echo "  $label: no message and no complete movie"; return 1
  fi
  case "$message" in
    *s4.bmp*) ;;
    *) echo "  $label: unexpected message: $message"; return 1 ;;
  esac
  [ ! -e "$d/s.avi" ] && [ -z "$(ls "$d" | grep '~')" ] || { echo "  $label: output left behind"; return 1; }
}

# Under Wine each job takes seconds, so a cross-section of the broken files stands for all
# of them here; the Linux tests take every one.
if [ -d "$bmpsuite/b" ]; then
  all=1
  for f in "$bmpsuite"/b/{badbitcount,badrle4,reallybig,shortfile}.bmp; do bad_middle_frame "$f" "b/$(basename "$f")" || all=0; done
  check "every bad BMP as a middle frame: the frame is named, nothing is left" test $all = 1
else
  echo "skip: $bmpsuite is absent (bad BMP files)"
fi
if [ -d "$crashers" ]; then
  all=1
  for f in "$crashers"/{badcrc,huge_IDAT}.png; do bad_middle_frame "$f" "crasher $(basename "$f")" || all=0; done
  check "every libpng crasher as a middle frame: named or read, nothing partial" test $all = 1
else
  echo "skip: $crashers is absent (run scripts/setup)"
fi

# Double-byte names whose second byte is 0x5C (表, ソ, 能 in code page 932).
d="$work/表示/ソフト"
mkdir -p "$d"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$d/能00$n.bmp"; done
message=$(batch "$d/能002.bmp")
check "double-byte names with a 0x5C second byte convert (${message:-no message})" test -z "$message" -a "$(probe_field "$d/能.avi" nb_read_frames)" = 3

# A frame path of 259 characters (the output, 4 shorter, fits).
wdir=$(winpath "$work")
pad=$((259 - ${#wdir} - 2 - 10))
d="$work/L$(printf '%*s' "$pad" '' | tr ' ' d)"
mkdir -p "$d"
cp "$sample/frame0001.bmp" "$d/x0001.bmp"; cp "$sample/frame0002.bmp" "$d/x0002.bmp"
wp=$(winpath "$d/x0001.bmp")
message=$(batch "$d/x0001.bmp" 20)
# Wine's AVIFile does not write files at paths this long; the job must then say which
# file it could not write and leave nothing behind, rather than report success.
if [ -z "$message" ]; then
  check "a frame path of ${#wp} characters converts" test "$(probe_field "$d/x.avi" nb_read_frames)" = 2
else
  check "a frame path of ${#wp} characters: the unwritable output is named, nothing is left" \
    test -n "$(echo "$message" | grep 'x.avi')" -a ! -e "$d/x.avi" -a -z "$(ls "$d" | grep '~')"
fi

# An output that is a folder: the job fails with a message, the folder stays.
d="$work/folderout"
mkdir -p "$d/f.avi"
for n in 1 2; do cp "$sample/frame000$n.bmp" "$d/f$n.bmp"; done
wine_run 300 "$exe" "$(winpath "$d/f1.bmp")" &
pid=$!
auto answer-yes Zelvo >/dev/null   # the folder exists: overwrite?
auto answer-yes Zelvo >/dev/null   # confirmation
auto accept-compressor >/dev/null
message=$(auto message Zelvo | tr -d '\r')
auto answer-ok Zelvo >/dev/null
wait $pid
check "an output that is a folder fails with a message naming it" test -n "$(echo "$message" | grep 'f.avi')"
check "the folder stays and nothing is left beside it" test -d "$d/f.avi" -a -z "$(ls "$d" | grep '~')"

# The main dialog after a failed job: the next job runs.
d="$work/again"
mkdir -p "$d"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$d/a$n.bmp"; done
printf 'garbage that is no image at all, long enough to pass a first look........' >"$d/a2.bmp"
title="Zelvo  Version 1.00"
wine_run 600 "$exe" &
pid=$!
auto type "$title" 1024 "$(winpath "$d/a1.bmp")"
auto click "$title" 1
auto accept-compressor >/dev/null
message=$(auto message Zelvo | tr -d '\r')
auto answer-ok Zelvo >/dev/null
check "a failed job in the dialog names the frame" test -n "$(echo "$message" | grep 'a2.bmp')"
cp "$sample/frame0002.bmp" "$d/a2.bmp"
# A Run pressed while the failed job is still winding down is dropped by design; the
# user presses it again once the progress dialog has gone.
auto wait-gone "AVIファイル出力" 30 >/dev/null
auto type "$title" 1024 "$(winpath "$d/a1.bmp")"
auto click "$title" 1
auto accept-compressor >/dev/null
for i in $(seq 1 300); do [ -s "$d/a.avi" ] && break; sleep 0.1; done
check "the dialog stays usable: the next job writes its movie" test "$(probe_field "$d/a.avi" nb_read_frames)" = 3
auto wait-gone "AVIファイル出力" 30 >/dev/null
auto click "$title" 2
wait $pid

finish
