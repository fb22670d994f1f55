# A CA and a code-signing signer for the documentation's examples, made the
# way docs/signing.md shows; run in an empty folder.
set -e
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key
openssl req -x509 -new -key ca.key -subj "/O=Example Devices/CN=Example Firmware CA" -days 3650 \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign -out ca.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out signer.key
openssl req -new -key signer.key -subj "/O=Example Devices/CN=Firmware Release Signing" -out signer.csr
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 365 \
  -extfile signer.ext -out signer.pem
rm -f signer.csr signer.ext ca.srl
