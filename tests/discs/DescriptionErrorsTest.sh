#!/usr/bin/env bash
# make-test-disc refuses a faulty description with one line naming the line and the fault,
# exits 1 and leaves neither the output folder nor a temporary folder behind.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# description (\n between lines) | expected message fragment
cases=(
  'title 4\naudio ac3 en 2\naudio wma en 2|:3: unknown audio coding wma'
  'title 4\naudio ac3 english 2|:2: the language must be an ISO 639-1 code'
  'title 4\naudio ac3 en 4|:2: channels must be 1, 2 or 6'
  'title 4\naudio mp2 en 6|:2: MPEG audio has at most 2 channels'
  'audio ac3 en 2|:1: audio before any title'
  'video secam 4:3\ntitle 4|:1: unknown system secam'
  'video pal 2.35:1|:1: unknown aspect 2.35:1'
  'title 0|:1: a title needs a positive duration'
  'title abc|:1: expected: title SECONDS'
  'title 8 chapters 0 5 3|:1: chapter starts must increase'
  'title 8 chapters 0 9|:1: chapter 9 is past the title'
  'title 8 repeat 0|:1: repeat needs a count'
  'title 4\nsub en 3.0-2.0|:2: '"'"'3.0-2.0'"'"' must be a span inside the title'
  'title 4\nsub en 1.0-5.0|:2: '"'"'1.0-5.0'"'"' must be a span inside the title'
  'title 4\nsub en 1.0|:2: '"'"'1.0'"'"' is not START-END'
  'title 4\nangle 2|:2: unknown statement '"'"'angle'"'"
  '# only a comment|: no title'
  'title 4\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2\naudio ac3 en 2|:10: at most 8 audio tracks'
)
for c in "${cases[@]}"; do
  desc=${c%%|*} want=${c#*|}
  printf '%b\n' "$desc" >"$work/bad.disc"
  err=$(bash "$tool" "$work/bad.disc" "$work/out" 2>&1 >/dev/null)
  rc=$?
  leftovers=$(find "$work" -mindepth 1 -maxdepth 1 ! -name bad.disc)
  if ! { [ $rc -eq 1 ] && [[ $err == *"$want"* ]] && [ "$(wc -l <<<"$err")" -eq 1 ] &&
         [ -z "$leftovers" ]; }; then
    failed=$((failed + 1))
    echo "FAIL: '$desc': exit $rc, message '$err', want '$want'${leftovers:+, left behind: $leftovers}"
  fi
done
# A failure while authoring (here dvdauthor) leaves an earlier disc in OUTDIR as it was and no
# temporary folder.
mkdir -p "$work/bin" "$work/out"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dvdauthor"
chmod +x "$work/bin/dvdauthor"
echo earlier >"$work/out/marker"
printf 'title 0.2\naudio ac3 en 2\n' >"$work/bad.disc"
PATH="$work/bin:$PATH" bash "$tool" "$work/bad.disc" "$work/out" >/dev/null 2>&1
rc=$?
leftovers=$(find "$work" -mindepth 1 -maxdepth 1 ! -name bad.disc ! -name bin ! -name out)
if [ $rc -ne 1 ] || [ "$(cat "$work/out/marker")" != earlier ] || [ -n "$leftovers" ]; then
  failed=$((failed + 1))
  echo "FAIL: a failing dvdauthor: exit $rc${leftovers:+, left behind: $leftovers}"
fi

[ $failed -eq 0 ]
