#!/usr/bin/env bash
# Has an independent parser read what TXmlAPI writes: runs xml_lint_writer
# under Wine (it writes documents and reads them back itself), then
# `xmllint --noout` on each file and compares xmllint's canonical form of it
# with the one kept in tests/data/xml/expected.
#   xmllint_check.sh <wine launcher> <xml_lint_writer.exe> <expected folder> <work folder>
set -euo pipefail
launcher="$1" writer="$2" expected="$3" work="$4"
rm -rf "$work"
mkdir -p "$work"
windir="Z:$(printf '%s' "$work" | tr '/' '\\')"
"$launcher" "$writer" "$windir"
status=0
for name in safe texts; do
  file="$work/$name.xml"
  if ! xmllint --noout "$file"; then
    echo "xmllint refused $name.xml"; status=1; continue
  fi
  if ! xmllint --c14n "$file" | cmp -s - "$expected/$name.c14n"; then
    echo "xmllint reads $name.xml differently from $expected/$name.c14n:"
    xmllint --c14n "$file" | diff "$expected/$name.c14n" - | head -20 || true
    status=1
  fi
done
[ $status -eq 0 ] && echo "xmllint accepts every document and reads the expected trees"
exit $status
