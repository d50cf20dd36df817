#!/usr/bin/env bash
# The Linux program's languages: every language file translates every text, holds every
# text the sources mark, and is built into the catalog the program reads.
set -u
. "$(dirname "$0")/lib.sh"
build="${ZELVO_NATIVE_BUILD:-$e2e_root/build/native}"
zelvo="$build/zelvo"
[ -x "$zelvo" ] || { not_ok "zelvo is built at $zelvo"; finish; exit 1; }
if ! command -v msgfmt >/dev/null || ! command -v xgettext >/dev/null; then
  echo "skip: msgfmt and xgettext (gettext) are not installed"
  finish
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
# A failing job under LANG=C must print no Japanese, and under LANG=ja_JP.UTF-8 the texts
# the program printed before they went through the catalog, byte for byte. These checks
# join here once the program's texts are marked with Tr().

finish
