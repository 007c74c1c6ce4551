#!/usr/bin/env bash
# Installs the build into a temporary root and uses the installed tree alone: the
# programs from its bin/ with a PATH of the system folders only, the Python module from
# its site folder, a working folder outside the source and the build trees. Then checks
# the desktop entries, the MIME type, the man pages and the bash completion.
#   check_install.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
prefix="$root/usr"
fail() { echo "ÉCHEC : $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
bin="$prefix/bin"
doc="$prefix/share/doc/mas-workbench"
site="$prefix/lib/python3/dist-packages"
for f in "$bin/mas" "$bin/mas-gui" "$bin/tracix" "$doc/examples/default.mas" "$doc/LICENSE" \
         "$doc/guide.md" "$doc/img/atelier.png" \
         "$prefix/share/bash-completion/completions/mas" "$prefix/share/man/man1/mas.1" \
         "$prefix/share/man/man1/mas-run.1" "$prefix/share/man/man1/tracix.1" \
         "$prefix/share/man/man1/mas-gui.1"; do
  [ -e "$f" ] || fail "$f n'est pas installé"
done
ls "$site"/mas*.so >/dev/null 2>&1 || fail "le module Python n'est pas installé dans $site"

# Nothing installed may point into the build tree: no run path of a program or of the
# module, no text file naming it (the debugging data alone may name where it was built).
for f in "$bin"/* "$site"/mas*.so; do
  if readelf -d "$f" | grep -E "R(UN)?PATH" | grep -qF "$build"; then
    fail "$f cherche ses bibliothèques dans l'arbre de construction"
  fi
done
if grep -rlIF "$build" "$prefix" >/dev/null; then
  fail "l'arbre installé désigne l'arbre de construction : $(grep -rlIF "$build" "$prefix" | head -3)"
fi

work="$root/work"
mkdir "$work"
cd "$work"
export PATH="$bin:/usr/bin:/bin"
unset PYTHONPATH
export QT_QPA_PLATFORM=offscreen
for program in mas mas-gui tracix; do
  [ "$("$program" --version)" = "$program $(mas --version | cut -d' ' -f2)" ] ||
    fail "$program --version"
done
mas-gui --help | grep -q "^Usage : mas-gui" || fail "mas-gui --help"

# A run of the installed default study, its table drawn by the installed viewer.
mas run "$doc/examples/default.mas" --set tf=0.05 -o "$work/out.dat" >run.txt ||
  fail "mas run : $(cat run.txt)"
grep -q "tf atteint" run.txt || fail "mas run n'a pas atteint tf"
tracix "$work/out.dat" --png "$work/out.png" --size 320x240 || fail "tracix --png"
[ -s out.png ] || fail "tracix n'a pas écrit l'image"

# The viewer is found after a run: started on the table, it says it has no display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM mas run "$doc/examples/default.mas" \
    --set tf=0.01 -o "$work/v.dat" --viewer >/dev/null 2>viewer.txt || true
for _ in $(seq 50); do grep -q "aucun affichage" viewer.txt && break; sleep 0.1; done
grep -q "introuvable" viewer.txt && fail "visualiseur introuvable après une exécution"
grep -q "aucun affichage" viewer.txt || fail "le visualiseur n'a pas été lancé : $(cat viewer.txt)"

# The Python module from the site folder only.
PYTHONPATH="$site" /usr/bin/python3 -c "
import mas, sys
assert mas.__file__.startswith('$site'), mas.__file__
assert mas.describe('dt')['values'] == 'réel fini > 0' and mas.describe('dt')['unit'] == 's'
s = mas.Study('$doc/examples/default.mas')
s['tf'] = 0.01
s['CreateOutputFile'] = False
s.run()
" || fail "import mas depuis l'arbre installé"

# Desktop entries, MIME type, icons.
desktop-file-validate "$prefix/share/applications/mas-gui.desktop" \
    "$prefix/share/applications/tracix.desktop" || fail "desktop-file-validate"
mime="$prefix/share/mime/packages/mas-study.xml"
xmllint --noout "$mime" "$prefix"/share/icons/hicolor/scalable/*/*.svg || fail "xmllint"
[ "$(xmllint --xpath 'string(//*[local-name()="glob"]/@pattern)' "$mime")" = "*.mas" ] ||
  fail "le type MIME ne reconnaît pas *.mas"
grep -q "^MimeType=application/x-mas-study;" "$prefix/share/applications/mas-gui.desktop" ||
  fail "l'entrée du banc n'ouvre pas les études"

# Man pages made from the help texts.
grep -q "Codes de sortie" "$prefix/share/man/man1/mas-run.1" || fail "page mas-run(1)"

# Completion: subcommands, options of a subcommand, setting names after --set.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _mas
  printf '%s\n' "${COMPREPLY[@]}"
}
# shellcheck source=/dev/null
source "$prefix/share/bash-completion/completions/mas"
complete_words mas se | grep -qx settings || fail "complétion des sous-commandes"
complete_words mas run --vi | grep -qx -- --viewer || fail "complétion des options de run"
[ "$(complete_words mas run x.mas --set Wmref | sort | tr '\n' ' ')" = \
  "Wmref1= Wmref2= Wmref3= Wmref4= " ] || fail "complétion des noms après --set"
complete_words mas identify f | grep -qx fit || fail "complétion des sous-commandes d'identify"
echo "installation vérifiée dans $prefix"
