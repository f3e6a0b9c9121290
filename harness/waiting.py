"""Bounded waits: every wait polls with a bound and raises TimeoutError naming what it waited for."""

import subprocess
import time


def poll(predicate, timeout, what, interval=0.05):
    """Calls predicate until it returns something true and returns that; TimeoutError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def wait_exit(proc, timeout):
    """Waits for a Popen to end; its exit status, or TimeoutError if it still runs after timeout seconds."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise TimeoutError("process %s still running after %.1f s" % (proc.args, timeout)) from None


def stop_process(proc, timeout=5):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=timeout)
