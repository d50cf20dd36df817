#!/usr/bin/env bash
# The Linux program's languages: every language file translates every text, holds every
# text the sources mark, and is built into the catalog the program reads.
set -u
. "$(dirname "$0")/lib.sh"
native_e2e_start
build=$(dirname "$zelvo")
if ! command -v msgfmt >/dev/null || ! command -v xgettext >/dev/null; then
  echo "skip: msgfmt and xgettext (gettext) are not installed"
  finish
  exit 0
fi

# --- the catalogs ------------------------------------------------------------------
for po in "$e2e_root"/po/*.po; do
  lang=$(basename "$po" .po)
  stats=$(LC_ALL=C msgfmt --statistics --check -o "$work/$lang.mo" "$po" 2>&1)
  check "$lang.po passes msgfmt --check" test $? -eq 0
  # msgfmt names untranslated and fuzzy entries only when there are some.
  check "$lang.po: 0 untranslated and 0 fuzzy ($stats)" test -z "$(grep -E 'untranslated|fuzzy' <<<"$stats")"
  mo="$build/locale/$lang/LC_MESSAGES/zelvo.mo"
  check "$lang catalog is built at $mo" test -s "$mo"
  check "the built $lang catalog is the current $lang.po" \
    cmp -s <(msgunfmt "$mo" 2>/dev/null) <(msgunfmt "$work/$lang.mo" 2>/dev/null)
done
check "every text the sources mark has an entry in each language (po/update-po --check)" \
  "$e2e_root/po/update-po" --check

# --- the language of the program's output ------------------------------------------
# One failing job, seen in each language: a garbage middle frame (the confirmation, the
# progress line, the unreadable frame and why), a declined overwrite question, the codec chooser on
# a terminal with answers out of range and a codec that refuses the frame size (the
# chooser's prompts, the encoder's message, the menu again), a frame shorter than its
# header, a usage error, --help and --list-codecs.
cd "$work" || exit 1
mkdir s odd short
for n in 1 2 3 5 6; do cp "$e2e_root/samples/demo/frame000$n.bmp" "s/s$n.bmp"; done
head -c 5000 /dev/urandom >s/s4.bmp
convert -size 33x18 xc:red bmp3:odd/o1.bmp && cp odd/o1.bmp odd/o2.bmp
cp "$e2e_root/samples/demo/frame0001.bmp" short/c1.bmp
head -c 3000 "$e2e_root/samples/demo/frame0002.bmp" >short/c2.bmp
codecs=$("$zelvo" --list-codecs | wc -l)
speak() {  # speak OUTPUT-PREFIX: every case in the current environment, outputs to files
  rm -f s/s.avi
  "$zelvo" -y -c dib s/s1.bmp </dev/null >/dev/null 2>"$1.job"
  echo older >s/s.avi
  printf 'n\n' | "$zelvo" -c dib s/s1.bmp >/dev/null 2>"$1.overwrite"
  rm s/s.avi
  on_terminal $'9\n5\n200\n\n\n\nq\n' timeout 60 "$zelvo" -y --size 33x18 odd/o1.bmp >"$1.chooser"
  "$zelvo" -y -c mpeg4 -o odd/padded.avi odd/o1.bmp </dev/null >/dev/null 2>"$1.padded"
  "$zelvo" -y -c dib short/c1.bmp </dev/null >/dev/null 2>"$1.short"
  "$zelvo" -r 0 s/s1.bmp </dev/null >/dev/null 2>"$1.usage"
  "$zelvo" --help >"$1.help"
  "$zelvo" --list-codecs >"$1.codecs"
}
# Only the progress line's figures (time, pace, size, time left) may differ between two runs.
figures() {
  sed -E 's/^([0-9]+\/[0-9]+ 終了)  経過 [0-9:]+(  [0-9.]+ フレーム\/秒)?(  [0-9.]+ (バイト|[KMG]iB))?(  残り [0-9:]+)?  /\1  F  /' "$1"
}
same_text() { cmp -s <(figures "$1") <(figures "$2"); }

(unset LANGUAGE LC_ALL LC_MESSAGES; LANG=C speak c)
for f in c.*; do
  check "under LANG=C, $f holds no byte above ASCII" test "$(LC_ALL=C tr -d '\000-\177' <"$f" | wc -c)" -eq 0
done
check "under LANG=C, the cut-short frame, the odd size for mpeg4 and its padding are told" \
  test -n "$(grep 'c2.bmp: the file is shorter than its header says' c.short)" -a -n "$(grep -F '(33x18)' c.chooser)" \
  -a -n "$(grep -F 'zelvo: mpeg4 takes only even sizes: frames of 33x18 are padded with black to 34x18' c.padded)"

(unset LANGUAGE; LC_ALL=ja_JP.UTF-8 speak ja)
# The Japanese texts the program printed before they went through the catalog, and below
# the unreadable frame why, naming the formats as --help does.
formats=$(grep -A1 'known by its extension' c.help | sed -n '2s/^  //p')
cat >expected.job <<EOF
Zelvo: s/s1.bmp
から
s/s6.bmp
6枚を
s/s.avi
に変換します。
[y/n] y
Zelvo: s/s4.bmp
を読めませんでした。
zelvo が読める形式の画像ではありません ($formats)
3/6 終了  F  s/s4.bmp
EOF
printf 'Zelvo: s/s.avi\nこのファイルはすでに存在します。\n\n上書きしますか？\n[y/n] ' >expected.overwrite
cat >menu <<'EOF'
圧縮形式を選んでください:
  1) dib      [DIB ] 全フレーム (非圧縮)
  2) mjpeg    [MJPG] Motion JPEG
  3) ffv1     [FFV1] FFV1 (可逆圧縮)
  4) huffyuv  [HFYU] HuffYUV (可逆圧縮)
  5) mpeg4    [FMP4] MPEG-4 Part 2
  6) h264     [H264] H.264
EOF
{ cat <<'EOF'
Zelvo: odd/o1.bmp
から
odd/o2.bmp
2枚を
odd/o.avi
に変換します。
[y/n] y
EOF
  cat menu
  cat <<'EOF'
番号 (Enter = 全フレーム, q = キャンセル):   1 から 6 までの番号を入れてください。
番号 (Enter = 全フレーム, q = キャンセル): 画質 0-100 (Enter = 既定):   0 から 100 までの数を入れてください。
画質 0-100 (Enter = 既定): キーフレームの間隔 (フレーム数, Enter = 既定): データレート (KB/秒, Enter = 指定なし): zelvo: odd/o1.bmp: mpeg4 は幅と高さが偶数のフレームしか扱えません (33×18)。 どの大きさでも扱える圧縮形式: dib, mjpeg, ffv1, huffyuv
EOF
  cat menu  # shown again after a choice the frame size refuses
  printf '番号 (Enter = 全フレーム, q = キャンセル): '
} >expected.chooser
# A build without an H.264 encoder lists one codec less.
[ "$codecs" -eq 6 ] || sed -i -e '/) h264 /d' -e "s/1 から 6 まで/1 から $codecs まで/" expected.chooser
if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  for what in job overwrite chooser; do
    check "under ja_JP.UTF-8, the $what texts are today's, byte for byte" same_text "ja.$what" "expected.$what"
  done
  check "under ja_JP.UTF-8, the help, the usage error and the notice are Japanese" \
    test "$(head -n 1 ja.help)" = "使い方: zelvo [オプション] FRAME..." \
    -a "$(tail -n 1 ja.usage)" = "詳しくは 'zelvo --help' を実行してください。" \
    -a -n "$(grep -F 'c2.bmp: ファイルがヘッダーの示す大きさより短い' ja.short)" \
    -a -n "$(grep -F 'zelvo: mpeg4 は偶数の大きさしか扱えません: 33x18 のフレームを黒で埋めて 34x18 にします' ja.padded)"
  (unset LC_ALL; LANG=C.UTF-8 LANGUAGE=ja "$zelvo" --help >lang.help)
  check "LANGUAGE=ja chooses Japanese under an English locale" cmp -s lang.help ja.help
else
  echo "skip: the ja_JP.UTF-8 locale is not generated (scripts/setup)"
fi

finish
