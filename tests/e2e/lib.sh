# shellcheck shell=bash
# Small helpers for the end-to-end scripts: named checks, counts, and the closing line
# "N passed, N failed" that scripts/test adds up.
e2e_passed=0
e2e_failed=0
e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

ok() { e2e_passed=$((e2e_passed + 1)); echo "ok   $*"; }
not_ok() { e2e_failed=$((e2e_failed + 1)); echo "FAIL $*"; }
check() {  # check "description" command...
  local what=$1; shift
  if "$@"; then ok "$what"; else not_ok "$what"; fi
}
finish() {
  echo "$e2e_passed passed, $e2e_failed failed"
  [ "$e2e_failed" -eq 0 ]
}

# The Linux program speaks the user's language: the native scripts read its English texts
# whatever the locale of the one who runs them (i18n_test.sh checks the Japanese ones).
# For the scripts that run the Linux program: $zelvo, the built program as an absolute
# path (checks run it from other folders), and $work, a scratch folder removed on exit.
# Ends the script when the program is not built.
native_e2e_start() {
  zelvo="${ZELVO_NATIVE_BUILD:-$e2e_root/build/native}/zelvo"
  [ -x "$zelvo" ] || { not_ok "zelvo is built at $zelvo"; finish; exit 1; }
  zelvo="$(cd "$(dirname "$zelvo")" && pwd)/zelvo"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

english_messages() {
  unset LANGUAGE LC_MESSAGES LANG
  export LC_ALL=C.UTF-8
}

# ffprobe's view of the first video stream: key=value lines.
probe() {
  ffprobe -v error -select_streams v:0 -count_frames \
    -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames:stream_tags=title \
    -of default=noprint_wrappers=1 "$1"
}
probe_field() { probe "$1" | sed -n "s/^$2=//p"; }
# The frame rate of an AVI's first stream as written, dwRate/dwScale of its header, before
# ffprobe reduces the fraction.
stream_rate() {
  local at
  at=$(grep -abo strh "$1" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] && od -An -tu4 -j $((at + 28)) -N 8 "$1" | awk '{print $2 "/" $1}'
}

# The codec FOURCC of an AVI's first stream header (strh fccHandler), as written.
stream_handler() {
  local at
  at=$(grep -abo strh "$1" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] && dd if="$1" bs=1 skip=$((at + 12)) count=4 2>/dev/null
}
# The numbers (from 0) of the frames of stream 0 that the AVI's idx1 index marks as key
# frames (AVIIF_KEYFRAME), on one line. Read from the index itself: ffprobe calls every
# frame of an intra-only codec a key frame, whatever the index says.
key_frames() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at, keys, frame = 12, [], 0
while at + 8 <= len(data):
    chunk, size = struct.unpack("<4sI", data[at:at + 8])
    if chunk == b"idx1":
        for entry in range(at + 8, at + 8 + size - 15, 16):
            name, flags = struct.unpack("<4sI", data[entry:entry + 8])
            if name[:2] == b"00" and name[2:] in (b"db", b"dc"):
                if flags & 0x10:
                    keys.append(str(frame))
                frame += 1
    at += 8 + size + (size & 1)
print(" ".join(keys))
PY
}

# The frames of a movie, or of one image, as raw top-down RGB24 bytes, decoded by ffmpeg.
decode_rgb() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt rgb24 - ; }

# The frames given, in that order, decoded by ffmpeg as raw top-down RGB24. Their names
# need not say their format (the samples hold PNG frames named .bmp): each is decoded from
# a copy named after its content.
decode_inputs() {
  local dir f ext n=0
  dir=$(mktemp -d "${work:-/tmp}/inputs.XXXXXX")
  for f in "$@"; do
    n=$((n + 1))
    ext=bmp
    if head -c 4 "$f" | grep -q PNG; then ext=png; fi
    cp "$f" "$dir/$n.$ext" && decode_rgb "$dir/$n.$ext"
  done
  rm -rf "$dir"
}

# Frames of a numbered image list, each decoded by ffmpeg, concatenated in order.
decode_frames() {
  local f
  for f in "$@"; do decode_rgb "$f"; done
}

# Writes COUNT frames of 480x360 named L0000.bmp onward into folder $1, frame k all of the
# colour red 30, green 90, blue k mod 256: a long sequence in which every frame differs.
#   long_sequence FOLDER COUNT
long_sequence() {
  mkdir -p "$1"
  python3 - "$1" "$2" <<'PY'
import struct, sys
w, h = 480, 360
for k in range(int(sys.argv[2])):
    data = bytes([k & 255, 90, 30]) * (w * h)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
    with open("%s/L%04d.bmp" % (sys.argv[1], k), "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data)
PY
}
# The first COUNT frames of long_sequence as raw top-down RGB24, as ffmpeg decodes them.
long_sequence_rgb() {
  python3 - "$1" <<'PY'
import sys
out = sys.stdout.buffer
for k in range(int(sys.argv[1])):
    out.write(bytes([30, 90, k & 255]) * (480 * 360))
PY
}

# True when none of the folders given holds a temporary file (a name beginning with "~").
no_temporaries() { ! ls -A "$@" | grep -q '^~'; }

# Stops process $1 as soon as a temporary file appears in folder $2 (or it ends), so that
# what the caller does next finds its job under way however fast the machine is.
stop_when_writing() {
  local pid=$1 dir=$2 i
  for i in $(seq 1 2000); do
    ls -A "$dir" | grep -q '^~' && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.005
  done
  kill -STOP "$pid" 2>/dev/null
}
# Sends the signals given after $2 to process $1 once its job in folder $2 is writing,
# then lets it go on.
signal_when_writing() {
  local pid=$1 dir=$2 sig
  shift 2
  stop_when_writing "$pid" "$dir"
  for sig in "$@"; do kill "-$sig" "$pid"; done
  kill -CONT "$pid"
}

# For the scripts that drive Windows programs: loads the Wine environment, checks that
# the programs named (relative to the Windows build) are built, starts Xvfb and Wine,
# makes $work, and stops everything again on exit. Sets $build, $exe and $auto.
wine_e2e_start() {
  . "$e2e_root/scripts/wine-env"
  build="${ZELVO_WIN_BUILD:-$e2e_root/build/$ZELVO_WIN_ARCH}"
  exe="$build/zelvo.exe"
  auto="$build/winauto.exe"
  local program
  for program in "$@"; do
    [ -f "$build/$program" ] || { not_ok "$program is built in $build"; finish; exit 1; }
  done
  work=$(mktemp -d)
  wine_env_start || { not_ok "Xvfb and Wine start"; finish; exit 1; }
  trap 'wine_env_stop; rm -rf "$work"' EXIT
}
# Registers the test compressor (tests/win32/compressor, built with the Windows tests) in
# the Wine prefix as vidc.ZLIB, so the compressor dialog offers it as "Zelvo test codec":
# the DLL is copied onto drive C: under a short name (the driver list holds at most 127
# characters a path) and registered by the loader of the build's architecture, which
# writes the registry view its programs read. Sets $codec_log, the file the codec tells
# what it was handed (through ZELVO_TEST_CODEC_LOG, see the codec's source).
register_test_codec() {
  local dll="$build/tests/zelvo_test_codec.dll"
  local name="zelvo-test-codec-$ZELVO_WIN_ARCH.dll"
  [ -f "$dll" ] || { not_ok "the test codec is built at $dll"; return 1; }
  cp "$dll" "${WINEPREFIX:-$HOME/.wine}/drive_c/$name" &&
    wine_run 60 "$ZELVO_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
      /v vidc.ZLIB /d "C:\\$name" /f >/dev/null 2>&1 ||
    { not_ok "the test codec is registered"; return 1; }
  codec_log="$work/test-codec.log"
  export ZELVO_TEST_CODEC_LOG
  ZELVO_TEST_CODEC_LOG=$(winpath "$codec_log")
}

# A Linux path as Wine's drive Z: shows it.
winpath() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }
# winauto with a time limit; its commands wait up to WINAUTO_TIMEOUT seconds for windows.
auto() { WINAUTO_TIMEOUT=${WINAUTO_TIMEOUT:-60} wine_run 120 "$auto" "$@" 2>/dev/null; }

# Runs a command on a new terminal (a pty as its standard input, output and error), with
# INPUT typed ahead and not echoed, and prints what it wrote there, "\r\n" as "\n".
#   on_terminal INPUT command...
on_terminal() {
  python3 - "$@" <<'PY'
import os, pty, subprocess, sys, termios
master, slave = pty.openpty()
attrs = termios.tcgetattr(slave)
attrs[3] &= ~termios.ECHO  # the answers are typed ahead: only the program's own output shows
termios.tcsetattr(slave, termios.TCSANOW, attrs)
os.write(master, sys.argv[1].encode())
child = subprocess.Popen(sys.argv[2:], stdin=slave, stdout=slave, stderr=slave, start_new_session=True)
os.close(slave)
out = b""
while True:
    try:
        chunk = os.read(master, 65536)
    except OSError:  # EIO: the terminal's last user closed it
        break
    if not chunk:
        break
    out += chunk
status = child.wait()
sys.stdout.buffer.write(out.replace(b"\r\n", b"\n"))
sys.exit(status)
PY
}
