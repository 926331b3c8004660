"""Running Windows programs of ours under Wine: the environment, the build tree's own prefix
(made on first use), and whether the loader can run here at all."""

import errno
import os
import subprocess

SKIP = 77  # what CTest takes as a skipped test


def environment(prefix):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    return env


def why_not_runnable(loader):
    """None when `loader` starts; otherwise the reason it cannot."""
    try:
        subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return (f"{loader} is a 32-bit program and this kernel runs no 32-bit programs "
                    "(exec format error), so Wine cannot start 32-bit Windows programs here")
        return f"{loader} cannot be started: {e}"
    return None


def boot(loader, env, preexec_fn=None):
    """Makes the prefix of `env` when it does not exist yet."""
    if not os.path.isdir(os.path.join(env["WINEPREFIX"], "drive_c")):
        subprocess.run([loader, "wineboot", "--init"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, preexec_fn=preexec_fn)
