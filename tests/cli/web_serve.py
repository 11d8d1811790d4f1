"""A bank of two emulated TOVRIKs served with --http and a fixed token, for the web tests."""
import os
import select
import subprocess
import tempfile

TOKEN = "0123456789abcdef0123456789abcdef"


class WebServer:
    def __init__(self, emu, ctl):
        self.folder = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.folder.name, "log")
        token_file = os.path.join(self.folder.name, "token")
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        self.process = subprocess.Popen(
            [emu, "--devices", "t,t", "--version", "6.1.5", "--log", self.log, "--", ctl, "serve",
             "--all", "--listen", "127.0.0.1:0", "--no-vxi11", "--http", "0", "--http-token-file",
             token_file],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stderr], [], [], 20)
        line = self.process.stderr.readline() if ready else ""
        if not line.startswith("web page: http://127.0.0.1:"):
            self.process.kill()
            raise RuntimeError("no web page: %r" % line)
        self.url = line.split()[2]
        assert self.url.endswith("/#token=" + TOKEN), self.url
        self.port = int(self.url.split(":")[2].split("/")[0])
        self.raw_port = int(self.process.stdout.readline().split()[2].split(":")[1])

    def writes(self):
        """The device writes the emulator logged, in order."""
        with open(self.log) as f:
            return [l.strip() for l in f if " write " in l]

    def stop(self):
        """Ends the server as a user would and checks it ended cleanly."""
        assert self.process.poll() is None, "server died"
        self.process.terminate()
        assert self.process.wait(20) == 0
        self.process.stdout.close()
        self.process.stderr.close()
        self.folder.cleanup()
