#!/usr/bin/env python3
"""http_server.py - the web server that the network tests fetch from.

Listens on 127.0.0.1 only, on a port the system picks, and writes
"<port> <closed port>" to the file given with --port-file once it accepts
connections; the closed port is one that was free a moment ago and has no
listener. Runs until it is killed.

  /piece3000   3000 bytes in pieces of 700, 1300 and 1000, with pauses,
               the end marked by the closed connection
  /chunked3000 the same 3000 bytes in chunked transfer coding
  /big         1 MiB
  /silent      reads the request and answers nothing for 45 seconds,
               then closes the connection
  /latest      a latest-version document naming major 32
  /empty       status 200 with an empty body
  /notfound    status 404 with a page that holds a quoted number
  /count       how many requests for the other paths have arrived
"""
import argparse
import http.server
import os
import socket
import threading
import time

PIECE_SIZES = (700, 1300, 1000)
BIG_SIZE = 1024 * 1024


def pattern(size):
    """Bytes 1 to 251 over and over: no zero byte, and a shifted or lost
    byte shows."""
    return bytes(i % 251 + 1 for i in range(size))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    served = 0
    served_lock = threading.Lock()

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        if self.path != "/count":
            with Handler.served_lock:
                Handler.served += 1
        route = {
            "/piece3000": self.send_pieces,
            "/chunked3000": self.send_chunked,
            "/big": self.send_big,
            "/silent": self.stay_silent,
            "/latest": lambda: self.send_body(200, b'<version major="32"/>'),
            "/empty": lambda: self.send_body(200, b""),
            "/notfound": lambda: self.send_body(404, b'<error code="44"/>'),
            "/count": lambda: self.send_body(200, str(Handler.served).encode()),
        }.get(self.path)
        try:
            if route:
                route()
            else:
                self.send_body(404, b"no such path")
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client stopped reading, as it may
        self.close_connection = True

    def send_body(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def send_pieces(self):
        body = pattern(sum(PIECE_SIZES))
        self.send_response_only(200)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()
        offset = 0
        for size in PIECE_SIZES:
            time.sleep(0.2)
            self.wfile.write(body[offset:offset + size])
            self.wfile.flush()
            offset += size

    def send_chunked(self):
        body = pattern(sum(PIECE_SIZES))
        self.send_response_only(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        offset = 0
        for size in PIECE_SIZES:
            time.sleep(0.2)
            self.wfile.write(b"%x\r\n" % size + body[offset:offset + size] + b"\r\n")
            self.wfile.flush()
            offset += size
        self.wfile.write(b"0\r\n\r\n")

    def send_big(self):
        self.send_body(200, pattern(BIG_SIZE))

    def stay_silent(self):
        # Long past the client's time-out, but short enough that a client
        # without one fails the test instead of hanging it.
        time.sleep(45)


def closed_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    arguments = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    ports = "%d %d\n" % (server.server_address[1], closed_port())
    # Written whole under another name and renamed, so that a reader never
    # sees half of it.
    with open(arguments.port_file + ".tmp", "w") as file:
        file.write(ports)
    os.replace(arguments.port_file + ".tmp", arguments.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
