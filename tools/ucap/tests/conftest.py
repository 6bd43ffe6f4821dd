"""`ucap serve` under test: the tool of the build in UCAP_BUILD (default <repo>/build), started on
a free port of 127.0.0.1 with the virtual cameras a test asks for."""

import os
import re
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[3]
BUILD = Path(os.environ.get("UCAP_BUILD", REPO / "build"))


class Served:
    def __init__(self, tmp, vcams, *args):
        self.dir = tmp
        cmd = [str(BUILD / "tools" / "ucap")] + [a for v in vcams for a in ("--vcam", v)]
        cmd += ["serve", "--port", "0", "--output-dir", str(tmp), *args]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        found = re.search(r"http://([^/]+)/(\?token=(\w+))?", line)
        assert found, line + self.proc.stderr.read()
        self.host, self.token = found.group(1), found.group(3)
        self.url = "http://" + self.host + "/"
        self.port = int(self.host.rsplit(":", 1)[1])

    def stop(self):
        self.proc.send_signal(2)
        assert self.proc.wait(timeout=20) == 0, self.proc.stderr.read()


@pytest.fixture(scope="module")
def serve(tmp_path_factory):
    started = []

    def start(vcams, *args):
        started.append(Served(tmp_path_factory.mktemp("serve"), vcams, *args))
        return started[-1]

    yield start
    failures = []
    for s in started:  # every server ends, even when one of them fails to stop cleanly
        try:
            s.stop()
        except (AssertionError, subprocess.TimeoutExpired) as e:
            s.proc.kill()
            failures.append(e)
    assert not failures, failures
