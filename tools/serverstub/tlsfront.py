"""The stub server behind TLS: certificates made with openssl at run time, and Debian's nginx on
127.0.0.1 terminating TLS in front of a plain HTTP server, the way a site puts any
TLS-terminating reverse proxy in front of an HTTP-only collection server.

    authority = CertificateAuthority(workdir, "Quorvel Test Authority")
    cert = authority.issue("good", names=["127.0.0.1", "localhost"])
    with TlsFront(backend_port=stub.port, cert=cert, workdir=workdir) as front:
        ...   # https://127.0.0.1:<front.port>/ reaches the stub

Nothing here touches the machine's trust store: the authority's certificate is a file, to be
trusted where the client runs (in a Wine prefix: certtrust.exe).
"""
import datetime
import ipaddress
import os
import shutil
import signal
import socket
import subprocess
import time
from typing import List, NamedTuple, Optional

HOST = "127.0.0.1"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
OPENSSL_TIME = "%Y%m%d%H%M%SZ"


class Certificate(NamedTuple):
    cert: str  # PEM file
    key: str  # PEM file of its private key


def _openssl(*args, cwd=None):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _subject_alt_names(names):
    """An address goes in twice: as an IP entry for clients that match addresses (curl,
    Windows), and as a DNS entry, because Wine's WinINet compares the server name only with
    DNS entries (measured: an IP entry alone fails with 12038, name mismatch)."""
    entries = []
    for name in names:
        try:
            ipaddress.ip_address(name)
            entries += ["IP:" + name, "DNS:" + name]
        except ValueError:
            entries.append("DNS:" + name)
    return ",".join(entries)


class CertificateAuthority:
    """A self-signed authority in its own folder, issuing server certificates through
    `openssl ca` (which takes any start and end date, past ones included). An authority
    already in the folder is used again, so that a prefix that trusts it keeps trusting it."""

    def __init__(self, workdir, name):
        self.dir = os.path.join(workdir, name.lower().replace(" ", "-"))
        self.cert = os.path.join(self.dir, "authority.pem")
        self.key = os.path.join(self.dir, "authority.key")
        self.config = os.path.join(self.dir, "ca.cnf")
        if os.path.exists(self.cert) and os.path.exists(self.key):
            return
        os.makedirs(os.path.join(self.dir, "issued"), exist_ok=True)
        open(os.path.join(self.dir, "index.txt"), "w").close()
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("1000\n")
        with open(self.config, "w") as f:
            f.write(_CA_CONFIG.format(dir=self.dir))
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
                 "-subj", "/CN=" + name, "-keyout", self.key, "-out", self.cert,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, label, names: List[str], not_before: Optional[datetime.datetime] = None,
              not_after: Optional[datetime.datetime] = None) -> Certificate:
        """A server certificate for `names` (the first one is also the common name), valid
        from a day ago for a year unless other dates are given."""
        now = datetime.datetime.now(datetime.timezone.utc)
        not_before = not_before or now - datetime.timedelta(days=1)
        not_after = not_after or now + datetime.timedelta(days=365)
        key = os.path.join(self.dir, label + ".key")
        request = os.path.join(self.dir, label + ".csr")
        cert = os.path.join(self.dir, label + ".pem")
        extensions = os.path.join(self.dir, label + ".ext")
        with open(extensions, "w") as f:
            f.write("[server]\nbasicConstraints=critical,CA:FALSE\n"
                    "keyUsage=critical,digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n" % _subject_alt_names(names))
        _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + names[0],
                 "-keyout", key, "-out", request)
        _openssl("ca", "-batch", "-notext", "-config", self.config, "-in", request, "-out", cert,
                 "-startdate", not_before.strftime(OPENSSL_TIME),
                 "-enddate", not_after.strftime(OPENSSL_TIME),
                 "-extfile", extensions, "-extensions", "server")
        return Certificate(cert, key)


_CA_CONFIG = """\
[ca]
default_ca = authority
[authority]
database = {dir}/index.txt
new_certs_dir = {dir}/issued
serial = {dir}/serial
certificate = {dir}/authority.pem
private_key = {dir}/authority.key
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[any_name]
commonName = supplied
"""


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


class TlsFront:
    """nginx in the foreground, one process, on 127.0.0.1:`port` with TLS, passing every
    request unchanged to the plain HTTP server on 127.0.0.1:`backend_port`. Its
    configuration, pid file and logs live in `workdir`/nginx-<port>; stopped by its pid."""

    def __init__(self, backend_port, cert: Certificate, workdir, port=0, plain=False,
                 redirect=False):
        """plain: also listen without TLS on `plain_port` (to time the proxy hop alone).
        redirect: answer every request with a redirect to the same path on the backend's
        plain HTTP port instead of passing it on."""
        self.backend_port = backend_port
        self.port = port or free_port()
        self.plain_port = free_port() if plain else None
        self.dir = os.path.join(workdir, "nginx-%d" % self.port)
        os.makedirs(self.dir, exist_ok=True)
        self.config = os.path.join(self.dir, "nginx.conf")
        with open(self.config, "w") as f:
            plain_listen = "listen %s:%d;" % (HOST, self.plain_port) if plain else ""
            handling = ("return 302 http://%s:%d$request_uri;" if redirect
                        else "proxy_pass http://%s:%d;") % (HOST, backend_port)
            f.write(_NGINX_CONFIG.format(dir=self.dir, port=self.port, handling=handling,
                                         cert=cert.cert, key=cert.key, plain=plain_listen))
        self._errors = open(os.path.join(self.dir, "stderr.log"), "wb")
        self.process = subprocess.Popen([NGINX, "-c", self.config, "-p", self.dir],
                                        stdout=self._errors, stderr=subprocess.STDOUT)
        try:
            self._wait_listening()
        except BaseException:
            self.stop()
            raise

    def _wait_listening(self, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("nginx ended at start-up:\n" + self.error_log())
            try:
                socket.create_connection((HOST, self.port), timeout=0.5).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx not listening on port %d:\n%s" % (self.port, self.error_log()))

    def error_log(self):
        text = ""
        for name in ("stderr.log", "error.log"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text += f.read()
        return text

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self._errors.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


# master_process off: a single process, so the pid the test holds is the whole server.
_NGINX_CONFIG = """\
daemon off;
master_process off;
pid {dir}/nginx.pid;
error_log {dir}/error.log info;
events {{ worker_connections 64; }}
http {{
    access_log {dir}/access.log;
    client_body_temp_path {dir}/body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    server {{
        listen {host}:{port} ssl;
        {plain}
        ssl_certificate {cert};
        ssl_certificate_key {key};
        location / {{
            {handling}
            proxy_read_timeout 300s;
        }}
    }}
}}
""".replace("{host}", HOST)
