"""The release folders that the release checks and the installer's end-to-end cases read, made once per suite by
`python3 -m harness.releases OUT` (scripts/test, which hands OUT on as FROSTPANE_RELEASES), or by each of them in a
folder of its own where FROSTPANE_RELEASES is not set:
- OUT/unsigned: scripts/package as it is, what is released unsigned;
- OUT/signed: signed as a release is signed today, with a key on a (SoftHSM2) token and an RFC 3161 time-stamp
  from a loopback authority, the first time-stamp server given refusing, so that the next is tried;
- OUT/signed-pfx: signed with a .pfx, its password in FROSTPANE_SIGN_PASSWORD, time-stamped;
- OUT/signing: the certificates to verify them against (token.pem, signing.pem, tsa.pem), and osslsigncode.log,
  what each osslsigncode that scripts/package started was given: its arguments and its environment, recorded by
  a stand-in first on PATH that then runs the real one.
"""

import os
import shutil
import stat
import sys
from pathlib import Path

from harness import signing

FOLDERS = ("unsigned", "signed", "signed-pfx")


class Releases:
    """The folders and certificates of one OUT."""

    def __init__(self, out):
        out = Path(out)
        self.unsigned, self.signed, self.signed_pfx = (out / f for f in FOLDERS)
        keys = out / "signing"
        self.token_certificate, self.pfx_certificate = keys / "token.pem", keys / "signing.pem"
        self.tsa_certificate, self.calls = keys / "tsa.pem", keys / "osslsigncode.log"
        missing = [str(p) for p in (self.unsigned, self.signed, self.signed_pfx, self.calls) if not p.exists()]
        if missing:
            raise FileNotFoundError("not made by harness.releases: " + ", ".join(missing))


def _recording_osslsigncode(folder, log):
    """A folder to put first on PATH, whose osslsigncode records its arguments and environment in log and runs the
    real one with its standard input."""
    real = shutil.which("osslsigncode")
    if not real:
        raise FileNotFoundError("osslsigncode is not installed: run scripts/setup")
    folder.mkdir(parents=True)
    stand_in = folder / "osslsigncode"
    stand_in.write_text('#!/bin/sh\n{ printf "call:"; printf " %%s" "$@"; echo; env | sed "s/^/env: /"; } >> "%s"\n'
                        'exec "%s" "$@"\n' % (log, real))
    stand_in.chmod(stand_in.stat().st_mode | stat.S_IXUSR)
    return folder


def make(out):
    """Writes the folders above into out (which must not exist yet) and returns them."""
    out = Path(out)
    keys = out / "signing"
    keys.mkdir(parents=True)
    signing.package(out / "unsigned")
    path = "%s:%s" % (_recording_osslsigncode(out / "stand-in", keys / "osslsigncode.log"), os.environ["PATH"])
    token = signing.Token(out / "token")
    pfx, pfx_certificate = signing.throwaway_certificate(out / "pfx")
    with signing.TimeStampServer(out / "tsa") as authority:
        token.environment["PATH"] = path
        signing.token_signed_release(out / "signed", token, [signing.unused_url(), authority.url], out / "pin")
        signing.signed_release(out / "signed-pfx", pfx, [authority.url], env=dict(os.environ, PATH=path))
    for source, name in ((token.certificate, "token.pem"), (pfx_certificate, "signing.pem"),
                         (authority.certificate, "tsa.pem")):
        shutil.copyfile(source, keys / name)
    for scratch in ("stand-in", "token", "pfx", "tsa", "pin"):
        shutil.rmtree(out / scratch) if (out / scratch).is_dir() else (out / scratch).unlink()
    return Releases(out)


def given_or_made(folder):
    """The releases FROSTPANE_RELEASES names, else new ones made in folder."""
    given = os.environ.get("FROSTPANE_RELEASES")
    return Releases(given) if given else make(Path(folder) / "releases")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit("usage: python3 -m harness.releases OUT")
    if Path(sys.argv[1]).exists():
        shutil.rmtree(sys.argv[1])
    make(sys.argv[1])
