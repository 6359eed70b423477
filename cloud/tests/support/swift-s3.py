#!/usr/bin/python3
"""A one-node object store speaking S3, for tests.

Runs the proxy, account, container and object servers of the Debian swift
packages in this one process (eventlet), with the s3api middleware in front
and tempauth behind it, on 127.0.0.1. Everything lives under the folder given
as the first argument: devices are plain folders and the rings (built as
swift-ring-builder would) have one replica. Prints "ready PORT" on standard output once S3 requests are
answered, then serves until it is killed.

usage: swift-s3.py FOLDER ACCOUNT USER SECRET
The S3 access key is then "ACCOUNT:USER", its secret SECRET.
"""

import os
import sys
import time

_now = time.time

# The servers read the hash path prefix and suffix from this fixed path.
SWIFT_CONF = "/etc/swift/swift.conf"


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def ensure_swift_conf():
    if os.path.exists(SWIFT_CONF):
        return
    os.makedirs(os.path.dirname(SWIFT_CONF), exist_ok=True)
    write(SWIFT_CONF,
          "[swift-hash]\n"
          "swift_hash_path_suffix = sonarbox-tests\n"
          "swift_hash_path_prefix = sonarbox-tests\n"
          "[storage-policy:0]\nname = Policy-0\ndefault = yes\n")


class MemoryCache(object):
    """What memcached would be to the proxy, in this process."""

    def __init__(self):
        self.items = {}

    def _live(self, key):
        value, until = self.items.get(key, (None, 0))
        if until and until < _now():
            self.items.pop(key, None)
            return None
        return value

    def get(self, key, *args, **kwargs):
        return self._live(key)

    def set(self, key, value, serialize=True, time=0, *args, **kwargs):
        # Swift passes a lifetime in seconds.
        self.items[key] = (value, _now() + time if time else 0)

    def incr(self, key, delta=1, time=0, *args, **kwargs):
        value = int(self._live(key) or 0) + delta
        self.set(key, value, time=time)
        return value

    def decr(self, key, delta=1, time=0, *args, **kwargs):
        return self.incr(key, -delta, time)

    def delete(self, key, *args, **kwargs):
        self.items.pop(key, None)

    def get_multi(self, keys, *args, **kwargs):
        return [self._live(k) for k in keys]

    def set_multi(self, mapping, server_key=None, serialize=True, time=0, *args, **kwargs):
        for k, v in mapping.items():
            self.set(k, v, time=time)


def with_cache(app, cache):
    def serve(environ, start_response):
        environ["swift.cache"] = cache
        return app(environ, start_response)
    return serve


def build_ring(folder, kind, port):
    # What swift-ring-builder's create, add and rebalance do, without a
    # process of its own for each step.
    from swift.common.ring import RingBuilder
    builder = RingBuilder(6, 1, 1)
    builder.add_dev({"id": 0, "region": 1, "zone": 1, "ip": "127.0.0.1", "port": port,
                     "device": "d1", "weight": 1})
    builder.rebalance()
    builder.get_ring().save(os.path.join(folder, kind + ".ring.gz"))


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    folder, account, user, secret = sys.argv[1:]
    folder = os.path.abspath(folder)
    ensure_swift_conf()

    import eventlet
    eventlet.monkey_patch()
    import eventlet.wsgi
    from paste.deploy import loadapp

    devices = os.path.join(folder, "devices")
    os.makedirs(os.path.join(devices, "d1"), exist_ok=True)
    sockets = {k: eventlet.listen(("127.0.0.1", 0))
               for k in ("proxy", "account", "container", "object")}
    ports = {k: s.getsockname()[1] for k, s in sockets.items()}
    for kind in ("account", "container", "object"):
        build_ring(folder, kind, ports[kind])

    common = ("[DEFAULT]\nswift_dir = %s\ndevices = %s\nmount_check = false\n"
              "log_level = WARNING\nlog_facility = LOG_LOCAL0\n" % (folder, devices))
    for kind in ("account", "container", "object"):
        write(os.path.join(folder, kind + "-server.conf"),
              common + "[pipeline:main]\npipeline = %s-server\n"
              "[app:%s-server]\nuse = egg:swift#%s\n" % (kind, kind, kind))
    write(os.path.join(folder, "proxy-server.conf"),
          common +
          "[pipeline:main]\n"
          "pipeline = catch_errors gatekeeper proxy-logging listing_formats s3api tempauth"
          " copy slo dlo proxy-logging proxy-server\n"
          "[app:proxy-server]\nuse = egg:swift#proxy\naccount_autocreate = true\n"
          "[filter:catch_errors]\nuse = egg:swift#catch_errors\n"
          "[filter:gatekeeper]\nuse = egg:swift#gatekeeper\n"
          "[filter:proxy-logging]\nuse = egg:swift#proxy_logging\n"
          "[filter:listing_formats]\nuse = egg:swift#listing_formats\n"
          "[filter:s3api]\nuse = egg:swift#s3api\nlocation = us-east-1\n"
          "[filter:tempauth]\nuse = egg:swift#tempauth\nuser_%s_%s = %s .admin\n"
          "[filter:copy]\nuse = egg:swift#copy\n"
          "[filter:slo]\nuse = egg:swift#slo\n"
          "[filter:dlo]\nuse = egg:swift#dlo\n" % (account, user, secret))

    cache = MemoryCache()
    pool = eventlet.GreenPool()
    for kind in ("account", "container", "object", "proxy"):
        conf = os.path.join(folder, kind + "-server.conf")
        app = with_cache(loadapp("config:" + conf), cache)
        # The proxy's access log ("… "GET /bucket/key HTTP/1.1" 206 1000 …")
        # tells the tests how many bytes the store sent for each request.
        log = (open(os.path.join(folder, "access.log"), "a", buffering=1) if kind == "proxy"
               else open(os.devnull, "w"))
        pool.spawn(eventlet.wsgi.server, sockets[kind], app, log=log)
    print("ready %d" % ports["proxy"], flush=True)
    pool.waitall()


if __name__ == "__main__":
    main()
