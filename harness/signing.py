"""Authenticode for the tests: a throwaway code-signing certificate made with openssl at test time, the release
signed with it by scripts/package, and a file's signature checked against it with osslsigncode."""

import os
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
PASSWORD = "throwaway password"


def throwaway_certificate(folder):
    """(PFX, PEM) of a new self-signed code-signing certificate, valid for two days: the PFX holds it with its key
    under PASSWORD, the PEM the certificate alone, to verify against."""
    folder = Path(folder)
    key, pem, pfx = folder / "signing-key.pem", folder / "signing.pem", folder / "signing.pfx"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", str(key),
                    "-out", str(pem), "-subj", "/CN=Frostpane throwaway signing/O=Tapwright Software",
                    "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True, timeout=60)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(pem), "-out", str(pfx),
                    "-passout", "env:FROSTPANE_SIGN_PASSWORD"], check=True, capture_output=True, timeout=60,
                   env=dict(os.environ, FROSTPANE_SIGN_PASSWORD=PASSWORD))
    key.unlink()
    return pfx, pem


def signed_release(out, pfx):
    """Runs scripts/package --no-build --sign pfx into out, the password given as a user gives it."""
    subprocess.run([str(REPO / "scripts" / "package"), "--no-build", "--out", str(out), "--sign", str(pfx)],
                   check=True, stdout=subprocess.DEVNULL, timeout=300,
                   env=dict(os.environ, FROSTPANE_SIGN_PASSWORD=PASSWORD))


def verify(path, pem):
    """(True when the file's signature verifies against the certificate, osslsigncode's report)."""
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", str(pem), "-in", str(path)], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True, timeout=60)
    return r.returncode == 0 and "Signature verification: ok" in r.stdout, r.stdout
