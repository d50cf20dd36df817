#!/usr/bin/env bash
# The Linux program as a user installs it: `cmake --install` into a scratch prefix (the
# program, its man page, bash completion and catalogs), the Debian package from CPack with
# its dependencies taken from the binary, unpacked and run; and the Windows zip when the
# Windows build is there. Parts whose tools are missing are skipped with a message.
set -u
. "$(dirname "$0")/lib.sh"
english_messages  # the checks read the English texts, whatever the caller's locale
native_e2e_start
build=$(dirname "$zelvo")
skip() { echo "skip $*"; }
version=$(sed -n 's/^project(zelvo VERSION \([0-9.]*\).*/\1/p' "$e2e_root/CMakeLists.txt")

# Long options of `zelvo --help`, one a line; the frame formats it names (the indented
# list after the line about TGA), one a line.
"$zelvo" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u >"$work/help-options"
"$zelvo" --help | sed -n '/TGA, which/{n;p;}' | tr ',' '\n' | sed 's/^ *//' >"$work/help-formats"
check "--help names the frame formats, BMP to TGA" \
  test "$(head -n 1 "$work/help-formats")" = BMP -a "$(tail -n 1 "$work/help-formats")" = TGA

# --- cmake --install ---------------------------------------------------------------
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
for f in bin/zelvo share/man/man1/zelvo.1.gz share/bash-completion/completions/zelvo \
         share/locale/ja/LC_MESSAGES/zelvo.mo share/doc/zelvo/copyright share/doc/zelvo/changelog.gz; do
  check "installed: $f" test -s "$prefix/$f"
done
"$prefix/bin/zelvo" --help >"$work/help" 2>&1
check "installed zelvo --help exits 0 with its usage" test $? -eq 0 -a "$(head -c 13 "$work/help")" = "usage: zelvo "
check "installed zelvo --version is $version" test "$("$prefix/bin/zelvo" --version | head -n 1)" = "zelvo $version"

# --- the man page ------------------------------------------------------------------
page="$prefix/share/man/man1/zelvo.1.gz"
check "the manual page is compressed as Debian wants it (gzip -9n: no name, no time)" \
  bash -c 'gzip -t "$1" && test "$(od -An -tu4 -j4 -N4 "$1" | tr -d " ")" = 0 && zcat "$1" | cmp -s - "$2"' \
  _ "$page" "$e2e_root/packaging/linux/zelvo.1"
if command -v man >/dev/null; then
  MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/man.txt" 2>"$work/man.err"
  check "man -l renders the page without warnings" test $? -eq 0 -a ! -s "$work/man.err" -a -s "$work/man.txt"
  missing=$(while read -r o; do grep -qF -- "$o" "$work/man.txt" || echo "$o"; done <"$work/help-options")
  check "the man page documents every option of --help${missing:+ (missing: $missing)}" test -z "$missing"
  missing=$(while read -r f; do grep -qF -- "$f" "$work/man.txt" || echo "$f"; done <"$work/help-formats")
  check "the man page describes every frame format of --help${missing:+ (missing: $missing)}" test -z "$missing"
  missing=$(while read -r f; do grep -qF -- "$f" "$e2e_root/README.md" || echo "$f"; done <"$work/help-formats")
  check "the README names every frame format of --help${missing:+ (missing: $missing)}" test -z "$missing"
  # Each exit status is a tagged paragraph of its own.
  check "the man page names exit statuses 0, 1 and 2" \
    test "$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' "$work/man.txt" | grep -cE '^ +[012] ')" = 3
else
  skip "man page rendering: man (man-db) is not installed"
fi
if command -v groff >/dev/null; then
  check "groff -man -ww finds nothing to warn about" test -z "$(zcat "$page" | groff -man -ww -z 2>&1)"
fi
if command -v mandoc >/dev/null; then
  check "mandoc -T lint finds nothing to warn about" test -z "$(mandoc -T lint -W warning "$page" 2>&1)"
fi

# --- bash completion ---------------------------------------------------------------
bash_completion=/usr/share/bash-completion/bash_completion
if [ -f "$bash_completion" ]; then
  mkdir -p "$work/frames/sub"
  touch "$work/frames/"{shot0001.bmp,SHOT0002.PNG,mixed0003.Rle,notes.txt,movie.avi,OLD.AVI,f4.JPG,f5.exr,f6.Tiff,f7.j2k,f8.tga,clip.mkv,CLIP.MP4,take.mov,song.flac,Voice.WAV}
  # complete WORD... : what bash offers for the last word, one a line, sorted.
  complete_words() {
    (cd "$work/frames" && bash --norc --noprofile -c '
      . "$1"; . "$2"; shift 2
      # bash splits "--codec=mj" into "--codec" "=" "mj"; the line itself has no spaces there.
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_LINE=${COMP_LINE// = /=}
      COMP_POINT=${#COMP_LINE}
      _zelvo "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      printf "%s\n" "${COMPREPLY[@]}"' _ "$bash_completion" "$prefix/share/bash-completion/completions/zelvo" "$@" |
      sort)
  }
  zelvo_bin="$prefix/bin/zelvo"
  check "zelvo --co offers --codec and --codec-options" \
    test "$(complete_words "$zelvo_bin" --co | tr '\n' ' ')" = "--codec --codec-options "
  missing=$(comm -23 "$work/help-options" <(complete_words "$zelvo_bin" --))
  check "-- offers every option of --help${missing:+ (missing: $missing)}" test -z "$missing"
  codecs=$("$zelvo_bin" --list-codecs | awk '{print $1}' | sort)
  check "zelvo -c offers the codecs of --list-codecs" test "$(complete_words "$zelvo_bin" -c '')" = "$codecs"
  check "zelvo --codec=mj offers mjpeg" test "$(complete_words "$zelvo_bin" --codec = mj)" = mjpeg
  check "zelvo -r n offers the rate names ntsc and ntsc-film" \
    test "$(complete_words "$zelvo_bin" -r n | tr '\n' ' ')" = "ntsc ntsc-film "
  check "a frame is an image of a format zelvo reads, in any letter case, or a folder" \
    test "$(complete_words "$zelvo_bin" '' | tr '\n' ' ')" = "SHOT0002.PNG f4.JPG f5.exr f6.Tiff f7.j2k f8.tga mixed0003.Rle shot0001.bmp sub "
  check "zelvo -o offers AVI, MKV, MP4 and MOV files and folders" \
    test "$(complete_words "$zelvo_bin" -o '' | tr '\n' ' ')" = "CLIP.MP4 OLD.AVI clip.mkv movie.avi sub take.mov "
  check "zelvo -f offers the four containers" test "$(complete_words "$zelvo_bin" -f '' | tr '\n' ' ')" = "avi mkv mov mp4 "
  check "zelvo --audio offers sound files and folders" \
    test "$(complete_words "$zelvo_bin" --audio '' | tr '\n' ' ')" = "Voice.WAV song.flac sub "
else
  skip "bash completion: $bash_completion (bash-completion) is not installed"
fi

# --- the Debian package ------------------------------------------------------------
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  (cd "$build" && cpack -G DEB -B "$work/deb") >"$work/cpack.log" 2>&1
  check "cpack -G DEB makes a package" test $? -eq 0
  deb=$(ls "$work"/deb/*.deb 2>/dev/null | head -n 1)
  depends=$(dpkg-deb -f "$deb" Depends 2>/dev/null)
  echo "Depends: $depends"
  # Every library the binary links directly, and every one it loads itself when a job needs
  # it (the codec libraries, which dpkg-shlibdeps cannot see), must come from a package that
  # Depends names.
  depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//' | sort -u)
  loaded=$(LD_DEBUG=files "$zelvo" --version 2>&1 >/dev/null | sed -n 's/.*file=\([^ ]*\) .*dynamically loaded by.*/\1/p' | sort -u)
  check "zelvo --version loads the five codec libraries itself ($(echo $loaded))" test "$(wc -w <<<"$loaded")" = 5
  unlisted=""
  for soname in $(readelf -d "$zelvo" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p') $loaded; do
    owners=$(dpkg -S "*/$soname" 2>/dev/null | cut -d: -f1 | tr ', ' '\n\n' | sort -u)
    found=0
    for o in $owners; do
      grep -qxF -- "$o" <<<"$depends_names" && found=1
    done
    [ $found = 1 ] || unlisted="$unlisted $soname"
  done
  check "Depends names the package of every library the binary links or loads${unlisted:+ (not:$unlisted)}" \
    test -n "$depends" -a -z "$unlisted"
  check "Depends holds libpng16-16 and libavcodec" grep -qE 'libpng16-16.*libavcodec[0-9]+|libavcodec[0-9]+.*libpng16-16' <<<"$depends"
  root="$work/root"
  dpkg-deb -x "$deb" "$root"
  check "the package holds the program, man page, completion and catalog" test -x "$root/usr/bin/zelvo" \
    -a -s "$root/usr/share/man/man1/zelvo.1.gz" -a -s "$root/usr/share/bash-completion/completions/zelvo" \
    -a -s "$root/usr/share/locale/ja/LC_MESSAGES/zelvo.mo"
  "$root/usr/bin/zelvo" --help >/dev/null 2>&1
  check "the unpacked zelvo --help exits 0" test $? -eq 0
  # Built as Debian hardens its own programs.
  elf=$(readelf -lhd -W "$root/usr/bin/zelvo" 2>/dev/null)
  check "the packaged zelvo is a position-independent executable" grep -q 'Type: *DYN' <<<"$elf"
  check "the packaged zelvo has full RELRO (GNU_RELRO and BIND_NOW)" \
    bash -c 'grep -q GNU_RELRO <<<"$1" && grep -qE "\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW" <<<"$1"' _ "$elf"
  syms=$(readelf --dyn-syms -W "$root/usr/bin/zelvo" 2>/dev/null)
  check "the packaged zelvo calls the fortified libc functions and the stack protector" \
    bash -c 'grep -qE "__[a-z]+_chk" <<<"$1" && grep -q __stack_chk_fail <<<"$1"' _ "$syms"
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
    r=$?
    tags=$(grep -E '^[EW]:' "$work/lintian.log" | tr '\n' ' ')
    check "lintian finds no error or warning in the package${tags:+ ($tags)}" test $r -eq 0
  else
    skip "lintian: not installed"
  fi
  if command -v convert >/dev/null && command -v ffprobe >/dev/null; then
    mkdir "$work/seq"
    convert -size 6x4 xc:'#c81e0a' "$work/seq/f01.png"
    convert -size 6x4 gradient:blue-yellow "$work/seq/f02.png"
    "$root/usr/bin/zelvo" -y -c dib -o "$work/seq.avi" "$work/seq/f01.png" </dev/null 2>"$work/seq.err"
    check "the unpacked zelvo converts a generated sequence" test $? -eq 0
    check "ffprobe: the movie holds both 6x4 frames" \
      test "$(probe_field "$work/seq.avi" width)x$(probe_field "$work/seq.avi" height)/$(probe_field "$work/seq.avi" nb_read_frames)" = 6x4/2
    decode_frames "$work/seq/f01.png" "$work/seq/f02.png" >"$work/expected.rgb" 2>/dev/null
    decode_rgb "$work/seq.avi" >"$work/actual.rgb" 2>/dev/null
    check "every frame equals its input, pixel for pixel" cmp -s "$work/expected.rgb" "$work/actual.rgb"
  else
    skip "conversion by the unpacked program: ImageMagick or ffmpeg is not installed"
  fi
else
  skip "Debian package: cpack, dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed"
fi

# --- the Windows zip ---------------------------------------------------------------
winbuild="$e2e_root/build/win32"
if [ -f "$winbuild/zelvo.exe" ] && [ -f "$winbuild/CPackConfig.cmake" ] && command -v unzip >/dev/null; then
  (cd "$winbuild" && cpack -G ZIP -B "$work/zip") >"$work/zip.log" 2>&1
  check "cpack -G ZIP in the Windows build makes a zip" test $? -eq 0
  zip=$(ls "$work"/zip/*.zip 2>/dev/null | head -n 1)
  names=$(unzip -Z1 "$zip" 2>/dev/null | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
  check "the zip holds zelvo.exe and the two read-mes" test "$names" = "README-en.txt README-ja.txt zelvo.exe "
  unzip -q -d "$work/unzipped" "$zip"
  check "the zipped zelvo.exe is the 32-bit GUI program" \
    bash -c 'file "$1" | grep -q "PE32 executable (GUI) Intel 80386"' _ "$work"/unzipped/*/zelvo.exe
  ja=$(ls "$work"/unzipped/*/README-ja.txt)
  check "README-ja.txt is UTF-8 with a byte-order mark" \
    bash -c 'test "$(head -c 3 "$1" | od -An -tx1 | tr -d " ")" = efbbbf && iconv -f UTF-8 -t UTF-8 "$1" >/dev/null' _ "$ja"
  check "the read-mes end every line with CRLF, as Notepad needs" \
    bash -c 'test -s "$1" -a -s "$2" && ! grep -qv $'"'"'\r$'"'"' "$1" "$2"' _ "$ja" "$(dirname "$ja")/README-en.txt"
else
  skip "Windows zip: build/win32 is not built (or unzip is missing)"
fi

finish
