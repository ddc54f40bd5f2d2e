#!/usr/bin/env bash
# The main job: links the generic service to a local folder (its public address the same folder), sends a
# sample message with large attachments through the command-line host, and shows where the files went and
# the download box of the message that was sent. Needs no network, no account and no keyring.
set -euo pipefail
bin=${1:-build/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUILLMOOR_CONFIG_DIR="$work/config"   # the demo's settings stay out of the user's own
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR" "$work/cloud"

echo "== Linking the generic service to file://$work/cloud"
"$bin/quillmoor" link generic --server "file://$work/cloud" --public-url "file://$work/cloud"
"$bin/quillmoor" config set QuillmoorAskBeforeUpload YES >/dev/null

echo
echo "== A message with a 12 MB and a 3 MB attachment"
head -c 12000000 /dev/urandom > "$work/holiday-photos.zip"
head -c 3000000 /dev/urandom > "$work/itinerary.pdf"
boundary="quillmoor-sample-boundary"
{
  printf 'From: Ada <ada@example.org>\r\nTo: Grace <grace@example.org>\r\nSubject: Holiday photos\r\n'
  printf 'Date: %s\r\nMessage-ID: <sample@example.org>\r\nMIME-Version: 1.0\r\n' "$(date -R)"
  printf 'Content-Type: multipart/mixed; boundary="%s"\r\n\r\n' "$boundary"
  printf -- '--%s\r\nContent-Type: text/html; charset=utf-8\r\n\r\n' "$boundary"
  printf '<html><body><p>Hi Grace,</p><p>here are the photos and the plan for our trip.</p></body></html>\r\n'
  for file in holiday-photos.zip itinerary.pdf; do
    printf -- '--%s\r\nContent-Type: application/octet-stream; name="%s"\r\n' "$boundary" "$file"
    printf 'Content-Disposition: attachment; filename="%s"\r\nContent-Transfer-Encoding: base64\r\n\r\n' "$file"
    base64 -w 76 "$work/$file" | sed 's/$/\r/'
  done
  printf -- '--%s--\r\n' "$boundary"
} > "$work/sample.eml"
ls -l "$work/sample.eml" | awk '{print "   sample.eml: " $5 " bytes"}'

echo
echo "== quillmoor send --answer upload"
"$bin/quillmoor" send --answer upload --out "$work/sent.eml" "$work/sample.eml" </dev/null

echo
echo "== The files went to $work/cloud:"
ls -l "$work/cloud" | tail -n +2
echo
echo "== The message that was sent ($(stat -c %s "$work/sent.eml") bytes):"
python3 - "$work/sent.eml" <<'PY'
import email, email.policy, re, sys
message = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)
print("   attachments sent along:", [part.get_filename() for part in message.iter_attachments()] or "none")
plain = message.get_body(preferencelist=('plain',))
print(plain.get_content() if plain else "(no text part)")
html = message.get_body(preferencelist=('html',))
box = re.search(r'<div id="QuillmoorAttachmentInfo">.*?</table>', html.get_content(), re.S) if html else None
print("   download box HTML:", (box.group(0)[:600] + " ...") if box else "(not found)")
PY
