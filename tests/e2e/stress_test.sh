#!/usr/bin/env bash
# Two jobs at the same time in one folder, twenty rounds each way: on two sequences (each
# AVI must be its own sequence, frame for frame) and on one output (the survivor must be
# one complete movie of one sequence, never a mix). No temporary file may be left.
set -u
. "$(dirname "$0")/lib.sh"
native_e2e_start
shopt -s nullglob
rounds=20

# Two sequences of moving test pictures, of different lengths so that a mix shows in the
# count as well as in the pixels; ffmpeg's decoding of them is the oracle.
d="$work/seq"
mkdir "$d"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 300 -pix_fmt rgb24 "$d/a%04d.png"
ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 240 -pix_fmt rgb24 "$d/b%04d.png"
ffmpeg -v error -i "$d/a%04d.png" -f rawvideo -pix_fmt rgb24 - >"$work/a.rgb"
ffmpeg -v error -i "$d/b%04d.png" -f rawvideo -pix_fmt rgb24 - >"$work/b.rgb"

# Starts the jobs "A-options a0001.png" and "B-options b0001.png" at once and watches the
# folder while they run. Sets rc_a, rc_b, and overlapped=1 when both temporary files were
# there at the same moment (the jobs really ran side by side).
run_pair() {
  # shellcheck disable=SC2086  # the options are plain words
  "$zelvo" -y -c dib $1 "$d/a0001.png" </dev/null >/dev/null 2>"$work/err_a" &
  local pa=$!
  # shellcheck disable=SC2086
  "$zelvo" -y -c dib $2 "$d/b0001.png" </dev/null >/dev/null 2>"$work/err_b" &
  local pb=$!
  overlapped=0
  local tmp
  while kill -0 $pa 2>/dev/null || kill -0 $pb 2>/dev/null; do
    tmp=("$d"/~*)
    [ ${#tmp[@]} -ge 2 ] && overlapped=1
  done
  wait $pa; rc_a=$?
  wait $pb; rc_b=$?
}
# 0 when AVI holds exactly the frames of sequence a or b (given as "a" or "b").
is_movie_of() {
  local avi=$1 seq=$2 n
  n=$(probe_field "$avi" nb_read_frames)
  [ "$n" = "$([ "$seq" = a ] && echo 300 || echo 240)" ] && cmp -s <(decode_rgb "$avi") "$work/$seq.rgb"
}
left_over() { local tmp=("$d"/~*); [ ${#tmp[@]} -gt 0 ]; }

# --- two sequences, two outputs -----------------------------------------------------------
bad_exit=0 bad_a=0 bad_b=0 leftovers=0 overlaps=0
for round in $(seq 1 $rounds); do
  rm -f "$d/a.avi" "$d/b.avi"
  run_pair "" ""
  overlaps=$((overlaps + overlapped))
  [ $rc_a -eq 0 ] && [ $rc_b -eq 0 ] || { bad_exit=$((bad_exit + 1)); echo "  round $round: exit $rc_a and $rc_b"; }
  is_movie_of "$d/a.avi" a || { bad_a=$((bad_a + 1)); echo "  round $round: a.avi is not sequence a"; }
  is_movie_of "$d/b.avi" b || { bad_b=$((bad_b + 1)); echo "  round $round: b.avi is not sequence b"; }
  left_over && { leftovers=$((leftovers + 1)); printf '  left: %s\n' "$d"/~*; rm -f "$d"/~*; }
done
check "two sequences at once: the jobs overlapped ($overlaps of $rounds rounds)" test $overlaps -gt 0
check "two sequences at once: both jobs exit 0 in every round" test $bad_exit -eq 0
check "two sequences at once: a.avi is always sequence a (300 frames, every pixel)" test $bad_a -eq 0
check "two sequences at once: b.avi is always sequence b (240 frames, every pixel)" test $bad_b -eq 0
check "two sequences at once: no temporary file is ever left" test $leftovers -eq 0

# --- two sequences, one output ------------------------------------------------------------
bad_exit=0 mixed=0 leftovers=0 overlaps=0 seen_a=0 seen_b=0
for round in $(seq 1 $rounds); do
  rm -f "$d/same.avi"
  run_pair "-o $d/same.avi" "-o $d/same.avi"
  overlaps=$((overlaps + overlapped))
  [ $rc_a -eq 0 ] && [ $rc_b -eq 0 ] || { bad_exit=$((bad_exit + 1)); echo "  round $round: exit $rc_a and $rc_b"; }
  if is_movie_of "$d/same.avi" a; then seen_a=$((seen_a + 1))
  elif is_movie_of "$d/same.avi" b; then seen_b=$((seen_b + 1))
  else mixed=$((mixed + 1)); echo "  round $round: same.avi is neither sequence: $(probe "$d/same.avi" | tr '\n' ' ')"
  fi
  left_over && { leftovers=$((leftovers + 1)); printf '  left: %s\n' "$d"/~*; rm -f "$d"/~*; }
done
echo "  the survivor was sequence a $seen_a times, b $seen_b times"
check "one output: the jobs overlapped ($overlaps of $rounds rounds)" test $overlaps -gt 0
check "one output: both jobs exit 0 in every round" test $bad_exit -eq 0
check "one output: the survivor is always one complete movie of one sequence" test $mixed -eq 0
check "one output: no temporary file is ever left" test $leftovers -eq 0

finish
