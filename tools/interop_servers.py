"""Real servers for the interop stage: nginx (HTTP, HTTPS, IPv6), tinyproxy
and squid with Basic auth, each on loopback ports of its own, configured in
a scratch directory, run in the foreground and stopped by pid."""

import os
import signal
import socket
import subprocess
import time

PROXY_USER = "lmupdate"
PROXY_PASSWORD = "interop-secret"


class CannotStart(Exception):
    """A server is missing or did not come up."""


def free_port(family=socket.AF_INET, host="127.0.0.1"):
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def has_ipv6_loopback():
    try:
        free_port(socket.AF_INET6, "::1")
        return True
    except OSError:
        return False


def wait_for_port(port, host="127.0.0.1", seconds=15, process=None):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process is not None and process.poll() is not None:
            return False
        try:
            with socket.socket(family, socket.SOCK_STREAM) as s:
                s.settimeout(1)
                s.connect((host, port))
                return True
        except OSError:
            time.sleep(0.1)
    return False


def readable_by_all(path):
    """The servers switch to their own users: they must reach what they
    serve and write their logs."""
    for base, dirs, files in os.walk(path):
        os.chmod(base, 0o755)
        for name in files:
            os.chmod(os.path.join(base, name), 0o644)


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)


class Server:
    """One foreground server process; stop() ends it by its pid."""

    def __init__(self, name, argv, port, host="127.0.0.1", logs=()):
        self.name = name
        self.argv = argv
        self.port = port
        self.host = host
        self.logs = logs
        self.process = None

    def start(self, workdir):
        if not os.path.exists(self.argv[0]):
            raise CannotStart("%s is not installed (%s)" % (self.name, self.argv[0]))
        err = open(os.path.join(workdir, self.name + ".stderr"), "w")
        self.process = subprocess.Popen(self.argv, stdout=err, stderr=err,
                                        start_new_session=True)
        if not wait_for_port(self.port, self.host, process=self.process):
            self.stop()
            with open(err.name) as f:
                raise CannotStart("%s did not start: %s" % (self.name, f.read()[-2000:]))

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def log_text(self):
        text = ""
        for path in self.logs:
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text += f.read()
        return text


def make_ca(directory):
    """A CA and a certificate for localhost, 127.0.0.1 and ::1 it signed."""
    ext = os.path.join(directory, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n"
                "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    ca, ca_key = os.path.join(directory, "ca.pem"), os.path.join(directory, "ca.key")
    cert, key = os.path.join(directory, "server.pem"), os.path.join(directory, "server.key")
    csr = os.path.join(directory, "server.csr")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key,
         "-out", ca, "-days", "2", "-subj", "/CN=LmUpdate Interop CA"])
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
         "-subj", "/CN=localhost"])
    run(["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key,
         "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext])
    return ca, cert, key


NGINX_LOCATIONS = """
root {docs};
# The update answer is a static file, and nginx refuses POST to one.
error_page 405 =200 $uri;
location = /lm-update {{ default_type text/xml; alias {docs}/answers/update.xml; }}
location = /lm-download {{ rewrite ^ /files/$arg_path last; }}
location /files/moved/ {{ rewrite ^/files/moved/(.*)$ /files/$1 permanent; }}
location /files/pkg/ {{ alias {docs}/files/; }}
# Range ignored: the whole file with 200, as a server that cannot do ranges.
location /files/norange/ {{ alias {docs}/files/; max_ranges 0; }}
# Slow enough that a download can be broken off half-way.
location /files/slow/ {{ alias {docs}/files/; limit_rate 256k; }}
# SSI drops Content-Length: the body ends with the connection.
location /files/unsized/ {{ alias {docs}/files/; ssi on; ssi_types *; }}
location = /status/404 {{ return 404; }}
location = /status/500 {{ return 500; }}
location = /status/503 {{ return 503; }}
"""

# Two servers on the same files: the first never compresses, the second
# compresses the update answer as nginx does for HTTP/1.0 clients once
# gzip_http_version 1.0 is set.
NGINX_CONF = """user root;
daemon off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
    access_log {dir}/nginx-access.log;
    client_body_temp_path {dir}/body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    default_type application/octet-stream;
    gzip_http_version 1.0;
    gzip_types text/xml;
    gzip_min_length 1;
    server {{
        listen 127.0.0.1:{http};
        {listen6}
        listen 127.0.0.1:{https} ssl;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        gzip off;
        include {dir}/locations.conf;
    }}
    server {{
        listen 127.0.0.1:{gzip};
        gzip on;
        include {dir}/locations.conf;
    }}
}}
"""

TINYPROXY_CONF = """User tinyproxy
Group tinyproxy
Port {port}
Listen 127.0.0.1
Timeout 30
LogFile "{dir}/tinyproxy.log"
LogLevel Connect
PidFile "{dir}/tinyproxy.pid"
MaxClients 20
Allow 127.0.0.1
ConnectPort {https}
ConnectPort {http}
"""

SQUID_CONF = """http_port 127.0.0.1:{port}
pid_filename {dir}/squid.pid
access_log stdio:{dir}/squid-access.log
cache_log {dir}/squid-cache.log
cache_store_log none
cache deny all
coredump_dir {dir}
cache_effective_user proxy
shutdown_lifetime 0 seconds
auth_param basic program /usr/lib/squid/basic_ncsa_auth {dir}/squid-passwd
auth_param basic realm interop
acl authenticated proxy_auth REQUIRED
http_access allow authenticated
http_access deny all
"""


class ServerSet:
    """nginx, tinyproxy and squid for one stage run, in workdir."""

    def __init__(self, workdir, docs):
        self.dir = workdir
        self.docs = docs
        self.ipv6 = has_ipv6_loopback()
        self.http = free_port()
        self.https = free_port()
        self.gzip = free_port()
        self.http6 = free_port(socket.AF_INET6, "::1") if self.ipv6 else None
        self.tinyproxy_port = free_port()
        self.squid_port = free_port()
        self.ca = None
        self.servers = {}

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def start_nginx(self):
        if self.ca is not None:
            self.start(self.servers["nginx"])
            return
        self.ca, cert, key = make_ca(self.dir)
        listen6 = "listen [::1]:%d;" % self.http6 if self.ipv6 else ""
        self.write("locations.conf", NGINX_LOCATIONS.format(docs=self.docs))
        conf = self.write("nginx.conf", NGINX_CONF.format(
            dir=self.dir, http=self.http, https=self.https, gzip=self.gzip, listen6=listen6,
            cert=cert, key=key))
        for sub in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
            os.makedirs(os.path.join(self.dir, sub), exist_ok=True)
        self.start(Server("nginx", ["/usr/sbin/nginx", "-c", conf, "-e",
                                    os.path.join(self.dir, "nginx-error.log")],
                          self.http, logs=[os.path.join(self.dir, "nginx-access.log")]))

    def start_nginx_again(self):
        self.start_nginx()

    def start_tinyproxy(self):
        conf = self.write("tinyproxy.conf", TINYPROXY_CONF.format(
            port=self.tinyproxy_port, dir=self.dir, https=self.https, http=self.http))
        self.start(Server("tinyproxy", ["/usr/bin/tinyproxy", "-d", "-c", conf],
                          self.tinyproxy_port, logs=[os.path.join(self.dir, "tinyproxy.log")]))

    def start_squid(self):
        run(["htpasswd", "-b", "-c", os.path.join(self.dir, "squid-passwd"), PROXY_USER,
             PROXY_PASSWORD])
        conf = self.write("squid.conf", SQUID_CONF.format(port=self.squid_port, dir=self.dir))
        self.start(Server("squid", ["/usr/sbin/squid", "-N", "-f", conf], self.squid_port,
                          logs=[os.path.join(self.dir, "squid-access.log")]))

    def start(self, server):
        readable_by_all(self.dir)
        for log in server.logs:
            open(log, "a").close()
            os.chmod(log, 0o666)
        server.start(self.dir)
        self.servers[server.name] = server

    def log(self, name):
        server = self.servers.get(name)
        return server.log_text() if server else ""

    def stop_all(self):
        for server in self.servers.values():
            server.stop()
