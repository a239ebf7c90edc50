#!/usr/bin/env bash
# The publisher's order: pack an installer, sign it with a certificate table over 8 KiB (which pushes the
# archive's trailer out of the file's last 8192 bytes), check it with embedfs. Leaves WORKDIR/installer.exe
# for the scenarios that run it.
#   SignedInstaller.sh WORKDIR WINE_RUN PACK_PATCH_INSTALLER EMBEDFS
set -uo pipefail
work=${1:?usage: SignedInstaller.sh WORKDIR WINE_RUN PACK_PATCH_INSTALLER EMBEDFS}
runner=$2
packer=$3
tool=("$runner" "$4")
source "$(dirname "${BASH_SOURCE[0]}")/../tools/tool-checks.sh"

# A root, two intermediates and the signer on one key (making keys is the slow part), each with a
# 2000-byte comment: four certificates make a table of more than 8 KiB.
comment=$(head -c 2000 /dev/zero | tr '\0' 'c')
printf '[ca]\nbasicConstraints=critical,CA:TRUE\nnsComment=%s\n[signer]\nextendedKeyUsage=codeSigning\nnsComment=%s\n' \
  "$comment" "$comment" >chain.cnf
out=$(
  set -e
  "$runner" "$packer" unsigned.exe entries
  openssl genrsa -out key.pem 2048
  openssl req -x509 -key key.pem -subj /CN=root -days 2 -addext "nsComment=$comment" -out root.pem
  issuer=root serial=1
  for name in ca1 ca2 signer; do
    [ "$name" = signer ] && extensions=signer || extensions=ca
    openssl req -new -key key.pem -subj "/CN=$name" | openssl x509 -req -CA $issuer.pem -CAkey key.pem \
      -set_serial $((serial += 1)) -days 2 -extfile chain.cnf -extensions $extensions -out $name.pem
    issuer=$name
  done
  cat signer.pem ca2.pem ca1.pem >certs.pem
  osslsigncode sign -certs certs.pem -key key.pem -ac root.pem -in unsigned.exe -out installer.exe
) 2>&1
code=$?
check "the installer is packed and signed" is 0
check "no magic is left in the last 8192 bytes" [ "$(tail -c 8192 installer.exe | grep -caF 'EmbedFs 1.0')" = 0 ]

run verify installer.exe patchw32.dll=entries/patchw32.dll patchnotes4536.rtf=entries/patchnotes4536.rtf \
  ZAV.2.12.4526-2.12.4536.rtp=entries/ZAV.2.12.4526-2.12.4536.rtp
check "verify reads the signed installer's entries" has 'OK: "installer.exe" holds 3 entries, all rules kept'
check "verify says it is signed" has "signed: a certificate table of"
run list installer.exe
check "list shows the patch" grep -qE '^ +2 +ZAV\.2\.12\.4526-2\.12\.4536\.rtp +[0-9]+ +0x' <<<"$out"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
