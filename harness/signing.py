"""Authenticode for the tests, all made at test time and reached on this machine only: a throwaway code-signing
certificate (openssl), its key in a .pfx or on a SoftHSM2 token (PKCS#11, as a hardware key is), a loopback
RFC 3161 time-stamp server (openssl ts behind a small HTTP handler on 127.0.0.1), the release signed with them by
scripts/package, and a file's signature and time-stamp checked with osslsigncode."""

import http.server
import os
import subprocess
import tempfile
import threading
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
PASSWORD = "throwaway password"
PIN = "271828"
SOFTHSM_MODULE = Path("/usr/lib/softhsm/libsofthsm2.so")
TOKEN, KEY_LABEL = "frostpane-release", "frostpane-signing"


def _openssl(*args, **kwargs):
    subprocess.run(["openssl"] + [str(a) for a in args], check=True, capture_output=True, timeout=60, **kwargs)


def _certificate(folder, name, subject, usage):
    """(key, PEM) of a new self-signed certificate for usage (an extendedKeyUsage), valid for two days."""
    folder.mkdir(parents=True, exist_ok=True)
    key, pem = folder / (name + "-key.pem"), folder / (name + ".pem")
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", key, "-out", pem,
             "-subj", subject, "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=" + usage)
    return key, pem


def throwaway_certificate(folder):
    """(PFX, PEM) of a new self-signed code-signing certificate: the PFX holds it with its key under PASSWORD, the
    PEM the certificate alone, to verify against."""
    folder = Path(folder)
    key, pem = _certificate(folder, "signing", "/CN=Frostpane throwaway signing/O=Tapwright Software", "codeSigning")
    pfx = folder / "signing.pfx"
    _openssl("pkcs12", "-export", "-inkey", key, "-in", pem, "-out", pfx, "-passout", "env:THROWAWAY_PASSWORD",
             env=dict(os.environ, THROWAWAY_PASSWORD=PASSWORD))
    key.unlink()
    return pfx, pem


class Token:
    """A SoftHSM2 token in folder holding a new code-signing key, which never leaves it, under PIN: .uri names the
    key as osslsigncode takes it, .certificate is its certificate, .environment what the module needs to find
    the token."""

    def __init__(self, folder):
        folder = Path(folder)
        (folder / "tokens").mkdir(parents=True)
        config = folder / "softhsm2.conf"
        config.write_text("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n"
                          % (folder / "tokens"))
        self.environment = dict(os.environ, SOFTHSM2_CONF=str(config))
        key, self.certificate = _certificate(folder, "token", "/CN=Frostpane release signing/O=Tapwright Software",
                                             "codeSigning")
        pkcs8 = folder / "token-key.p8"
        _openssl("pkcs8", "-topk8", "-nocrypt", "-in", key, "-out", pkcs8)
        for command in (["--init-token", "--free", "--label", TOKEN, "--so-pin", "31415926", "--pin", PIN],
                        ["--import", str(pkcs8), "--token", TOKEN, "--label", KEY_LABEL, "--id", "01",
                         "--pin", PIN]):
            subprocess.run(["softhsm2-util"] + command, check=True, capture_output=True, timeout=60,
                           env=self.environment)
        key.unlink()
        pkcs8.unlink()
        self.uri = "pkcs11:token=%s;object=%s;type=private" % (TOKEN, KEY_LABEL)


class TimeStampServer:
    """An RFC 3161 time-stamp authority on 127.0.0.1, answering each POSTed query with openssl ts -reply, signed
    with a time-stamping certificate of its own (.certificate, to verify against). Use as a context manager; .url
    is where it listens."""

    def __init__(self, folder):
        folder = Path(folder)
        self.folder = folder
        self.key, self.certificate = _certificate(folder, "tsa", "/CN=Frostpane throwaway time-stamping",
                                                  "critical,timeStamping")
        (folder / "tsa-serial").write_text("01\n")
        self.config = folder / "tsa.cnf"
        self.config.write_text(
            "[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\n"
            "serial = %s\nsigner_digest = sha256\ndefault_policy = 1.3.6.1.4.1.4146.2.3\n"
            "digests = sha256, sha384, sha512\naccuracy = secs:1\nordering = yes\ntsa_name = no\n"
            "ess_cert_id_chain = no\ness_cert_id_alg = sha256\n" % (folder / "tsa-serial"))

    def reply(self, query):
        with tempfile.TemporaryDirectory(dir=self.folder) as temp:
            request, response = Path(temp) / "query.tsq", Path(temp) / "reply.tsr"
            request.write_bytes(query)
            _openssl("ts", "-reply", "-config", self.config, "-queryfile", request, "-signer", self.certificate,
                     "-inkey", self.key, "-out", response)
            return response.read_bytes()

    def __enter__(self):
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                try:
                    body, status = authority.reply(query), 200
                except subprocess.CalledProcessError:
                    body, status = b"", 400
                self.send_response(status)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


def unused_url():
    """A loopback URL where nothing listens, so that a time-stamp server there fails at once."""
    with http.server.HTTPServer(("127.0.0.1", 0), http.server.BaseHTTPRequestHandler) as s:
        return "http://127.0.0.1:%d/" % s.server_address[1]


def package(out, *args, timestamps=(), env=None):
    """Runs scripts/package --no-build --out out with the further arguments, and a --timestamp for each of
    timestamps."""
    args = list(args) + [a for url in timestamps for a in ("--timestamp", url)]
    subprocess.run([str(REPO / "scripts" / "package"), "--no-build", "--out", str(out)] + [str(a) for a in args],
                   check=True, stdout=subprocess.DEVNULL, timeout=300, env=env)


def signed_release(out, pfx, timestamps=(), env=None):
    """The release signed with a .pfx, the password given as a user gives it, in FROSTPANE_SIGN_PASSWORD."""
    package(out, "--sign", pfx, timestamps=timestamps, env=dict(env or os.environ, FROSTPANE_SIGN_PASSWORD=PASSWORD))


def token_signed_release(out, token, timestamps, password_file):
    """The release signed with the token's key, its PIN in password_file (mode 600), time-stamped by the first
    of timestamps that answers."""
    Path(password_file).write_text(PIN + "\n")
    os.chmod(password_file, 0o600)
    package(out, "--sign", token.uri, "--pkcs11-module", SOFTHSM_MODULE, "--certificate", token.certificate,
            "--password-file", password_file, timestamps=timestamps, env=token.environment)


def verify(path, pem, time_stamp_root=None):
    """(True when the file's signature verifies against the certificate, and its RFC 3161 counter-signature
    against time_stamp_root where given, osslsigncode's report)."""
    command = ["osslsigncode", "verify", "-CAfile", str(pem), "-in", str(path)]
    if time_stamp_root:
        command += ["-TSA-CAfile", str(time_stamp_root)]
    r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60)
    verified = r.returncode == 0 and "Signature verification: ok" in r.stdout
    if time_stamp_root:
        verified = verified and "Timestamp Server Signature verification: ok" in r.stdout
    return verified, r.stdout
