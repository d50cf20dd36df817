#!/usr/bin/env bash
# Scale: a run of 100,000 numbered 1x1
# frames (width 5, 00000 to 99999) converted end to end by zelvo, the progress counted to
# the end, and ffprobe counting 100,000 frames in the AVI.
set -u
. "$(dirname "$0")/lib.sh"
english_messages
native_e2e_start
start=$(date +%s.%N)
python3 - "$work" <<'PY'
import struct, sys
for k in range(100000):
    px = bytes([k & 255, (k >> 8) & 255, (k >> 16) & 255, 0])
    info = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 24, 0, 4, 0, 0, 0, 0)
    with open("%s/t%05d.bmp" % (sys.argv[1], k), "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 58, 0, 0, 54) + info + px)
PY
made=$(date +%s.%N)
echo "made 100,000 frames in $(echo "$made - $start" | bc) s"
/usr/bin/time -f '%e s wall, %M KiB peak' "$zelvo" -y -c dib "$work/t50000.bmp" </dev/null 2>"$work/err"
r=$?
tail -n 3 "$work/err"
check "100,000 frames convert" test $r -eq 0
check "the confirmation counts 100000 frames from t00000 to t99999" \
  grep -q "^100000 image(s) will be converted" "$work/err"
check "the progress ends at 100000/100000" grep -q "^100000/100000 done" "$work/err"
n=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/t.avi")
check "ffprobe counts 100000 frames" test "$n" = 100000
finish
