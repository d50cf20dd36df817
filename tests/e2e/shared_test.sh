#!/usr/bin/env bash
# Other users in the folders the Linux program writes to, and names made to command a
# terminal. As root, with a throwaway second user: a link that user planted where the
# output goes (in a sticky folder everyone may write to, like /tmp), the temporary file
# swapped for a link by a member of the folder's group, that user reading the movie while
# it is written. Then frame names full of escape sequences, on a terminal and off it.
# The parts that need root skip with a message without it; the system's own link
# protection (fs.protected_symlinks) is not relied on, whether it is on or off.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start
umask 022
sample="$e2e_root/samples/demo"

# A long sequence, so that a job can be caught while it writes.
mkdir "$work/live"
ffmpeg -v error -f lavfi -i testsrc2=size=320x240 -frames:v 200 -pix_fmt bgr24 -start_number 0 "$work/live/v%04d.bmp"
mkdir "$work/seq"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$work/seq/"; done
temporary_in() { ls -A "$1" | grep '^~' | head -n 1; }

other=""
if [ "$(id -u)" -ne 0 ]; then
  echo "skip: not root: no second user can be made (links, swapped and read temporary files)"
elif ! command -v useradd >/dev/null || ! command -v setpriv >/dev/null; then
  echo "skip: useradd or setpriv is missing (links, swapped and read temporary files)"
else
  other="zelvo-e2e-$$"
  if useradd --no-create-home --user-group --shell /usr/sbin/nologin "$other" 2>"$work/useradd.err"; then
    trap 'userdel "$other" 2>/dev/null; groupdel "$other" 2>/dev/null; rm -rf "$work"' EXIT
  else
    echo "skip: the second user could not be made: $(cat "$work/useradd.err")"
    other=""
  fi
fi
as_other() { setpriv --reuid="$other" --regid="$other" --clear-groups -- "$@"; }

if [ -n "$other" ]; then
  chmod 755 "$work"
  mkdir -m 700 "$work/private"
  printf 'root only' >"$work/private/secret"
  chmod 600 "$work/private/secret"
  secret_stands() {
    [ "$(cat "$work/private/secret")" = "root only" ] && [ "$(stat -c %U:%a "$work/private/secret")" = root:600 ]
  }
  mkdir -m 1777 "$work/pub"

  # --- links in a sticky folder everyone may write to -----------------------------------
  as_other ln -s "$work/private/secret" "$work/pub/out.avi"
  "$zelvo" -y -c dib -o "$work/pub/out.avi" "$work/seq/frame0001.bmp" </dev/null 2>"$work/err"
  r=$?
  check "another user's link in a sticky shared folder is not followed (exit 1)" test $r -eq 1
  check "... the message names the link and where it leads" \
    test -n "$(grep -xF "Zelvo: $work/pub/out.avi" "$work/err")" -a -n "$(grep -xF "$work/private/secret" "$work/err")"
  check "... the root-only file it leads to is untouched" secret_stands
  as_other ln -s "$work/private/new.avi" "$work/pub/new.avi"
  "$zelvo" -y -c dib -o "$work/pub/new.avi" "$work/seq/frame0001.bmp" </dev/null 2>/dev/null
  r=$?
  check "another user's dangling link there makes no file in the root-only folder (exit 1)" \
    test $r -eq 1 -a ! -e "$work/private/new.avi"
  check "... and leaves nothing in the shared folder" no_temporaries "$work/pub"
  # The user's own link there is followed, and the question names the file it replaces.
  printf 'older' >"$work/private/mine.avi"
  ln -s "$work/private/mine.avi" "$work/pub/mine.avi"
  printf 'y\ny\n' | "$zelvo" -c dib -o "$work/pub/mine.avi" "$work/seq/frame0001.bmp" >/dev/null 2>"$work/err"
  r=$?
  check "the user's own link in the shared folder is followed (exit 0, 3 frames where it leads)" \
    test $r -eq 0 -a "$(probe_field "$work/private/mine.avi" nb_read_frames)" = 3 -a -L "$work/pub/mine.avi"
  check "... the overwrite question names the file the link leads to" \
    test -n "$(grep -xF "Zelvo: $work/private/mine.avi" "$work/err")"

  # --- the temporary file swapped by a member of the folder's group ----------------------
  # The older output is the member's (0666); the member replaces the job's temporary file
  # by a link to a root-only file while the job runs.
  mkdir -m 2770 "$work/group"
  chgrp "$other" "$work/group"
  printf 'older' >"$work/group/out.avi"
  chown "$other" "$work/group/out.avi"
  chmod 666 "$work/group/out.avi"
  "$zelvo" -y -c dib -o "$work/group/out.avi" "$work/live/v0000.bmp" </dev/null 2>"$work/err" &
  pid=$!
  stop_when_writing $pid "$work/group"
  swapped=$(temporary_in "$work/group")
  as_other rm -f "$work/group/$swapped"
  as_other ln -s "$work/private/secret" "$work/group/$swapped"
  kill -CONT $pid
  wait $pid
  r=$?
  check "a temporary file swapped for a link during the job is not put in place (exit 1)" \
    test $r -eq 1 -a -n "$(grep -F 'temporary file was replaced' "$work/err")"
  check "... the root-only file the link leads to keeps its owner, mode and content" secret_stands
  check "... the older output stands, the member's link is left alone" \
    test "$(cat "$work/group/out.avi")" = older -a -L "$work/group/$swapped"
  rm -f "$work/group/$swapped"

  # --- another user reading the movie while it is written --------------------------------
  mkdir -m 755 "$work/open"
  for older in 600 none; do
    rm -f "$work/open/out.avi"
    if [ $older = 600 ]; then
      printf 'older' >"$work/open/out.avi"
      chmod 600 "$work/open/out.avi"
    fi
    "$zelvo" -y -c dib -o "$work/open/out.avi" "$work/live/v0000.bmp" </dev/null 2>/dev/null &
    pid=$!
    stop_when_writing $pid "$work/open"
    written=$(temporary_in "$work/open")
    as_other head -c 4 "$work/open/$written" >"$work/peek" 2>/dev/null
    read_back=$?
    kill -CONT $pid
    wait $pid
    r=$?
    check "older output $older: another user cannot read the temporary file while it is written" \
      test -n "$written" -a $read_back -ne 0 -a ! -s "$work/peek"
    expected=$([ $older = 600 ] && echo 600 || echo 644)
    check "... the finished movie (exit 0) has mode $expected" \
      test $r -eq 0 -a "$(stat -c %a "$work/open/out.avi")" = $expected
  done
fi

# --- names that would command a terminal ---------------------------------------------------
title=$'\e]0;pwned\a'
clear=$'\e[2J'
d="$work/names"
mkdir "$d"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$d/${title}000$n.bmp"; done
on_terminal $'y\n' "$zelvo" -c dib "$d/${title}0001.bmp" >"$work/screen"
r=$?
check "frames named with an escape sequence convert on a terminal (exit 0)" test $r -eq 0
check "... the sequence never reaches the terminal (question, progress line)" \
  test -z "$(grep -aF "$title" "$work/screen")"
check "... the names are shown escaped, as GNU tools show them" \
  test -n "$(grep -aF '\033]0;pwned\a0001.bmp' "$work/screen")" -a -n "$(grep -aF '\033]0;pwned\a0003.bmp' "$work/screen")"
for n in 1 2 3; do cp "$sample/frame000$n.bmp" "$d/${clear}x$n.bmp"; done
head -c 100 /dev/urandom >"$d/${clear}x2.bmp"
"$zelvo" -y -c dib "$d/${clear}x1.bmp" </dev/null 2>"$work/err"
check "a message naming an unreadable frame carries no escape sequence" \
  test -z "$(grep -aF "$clear" "$work/err")" -a -n "$(grep -aF '\033[2Jx2.bmp' "$work/err")"
"$zelvo" -y -c dib "$d/${clear}x2.bmp" </dev/null 2>"$work/err"
check "... nor one naming a frame argument of no format zelvo reads" \
  test -z "$(grep -aF "$clear" "$work/err")" -a -n "$(grep -aF '\033[2Jx2.bmp: not an image in a format zelvo reads' "$work/err")"
for n in 1 2; do cp "$sample/frame000$n.bmp" "$d/a"$'\r'"zelvo: done"$'\n'"b$n.bmp"; done
"$zelvo" -y -c dib "$d/a"$'\r'"zelvo: done"$'\n'"b1.bmp" </dev/null 2>"$work/err"
check "names with a carriage return and a line feed spoof no line (shown as \\r and \\n)" \
  test -z "$(tr -d '\n' <"$work/err" | grep -a $'\r')" -a -z "$(grep -ax 'zelvo: done' "$work/err")" \
  -a -n "$(grep -aF 'a\rzelvo: done\nb1.bmp' "$work/err")"
"$zelvo" -r "$clear" "$d/${clear}x1.bmp" </dev/null 2>"$work/err"
check "a usage error shows the refused value escaped" \
  test -z "$(grep -aF "$clear" "$work/err")" -a -n "$(grep -aF "invalid frame rate '\\033[2J'" "$work/err")"

finish
