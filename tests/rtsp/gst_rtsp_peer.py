#!/usr/bin/python3
"""Runs a test binary against GStreamer RTSP servers on 127.0.0.1.

Usage: gst_rtsp_peer.py COMMAND...  Starts an open server and one that asks for Digest or Basic
credentials, each on an ephemeral port, passes their ports to COMMAND in QUILLON_RTSP_PEER
("open-port digest-port basic-port"), and exits with COMMAND's status. Without GStreamer's RTSP
server the command runs with QUILLON_RTSP_PEER_MISSING set to the reason, so that it can skip.
"""
import os
import subprocess
import sys
import threading

PIPELINE = ("( videotestsrc is-live=true ! video/x-raw,format=I420,width=160,height=120,framerate=5/1 "
            "! jpegenc ! rtpjpegpay name=pay0 pt=26 )")
USER, PASSWORD = "operator", "Circle Of Life"
# "/test", and the paths the driver's JPEG channel asks a camera's second stream for (DESCRIBE's
# query, which names the web API session, is not part of the path).
MOUNTS = ("/test", "/StreamingSetting", "/ChannelID=2&ChannelName=Channel2")


def run(command, extra):
    env = dict(os.environ, **extra)
    return subprocess.call(command, env=env)


def main():
    command = sys.argv[1:]
    try:
        import gi
        gi.require_version("Gst", "1.0")
        gi.require_version("GstRtsp", "1.0")
        gi.require_version("GstRtspServer", "1.0")
        from gi.repository import GLib, Gst, GstRtsp, GstRtspServer
        Gst.init(None)
        if Gst.ElementFactory.find("jpegenc") is None or Gst.ElementFactory.find("rtpjpegpay") is None:
            raise RuntimeError("jpegenc or rtpjpegpay missing")
    except Exception as error:  # any reason GStreamer cannot serve is a reason to skip
        return run(command, {"QUILLON_RTSP_PEER_MISSING": "GStreamer RTSP server unavailable: %s" % error})

    def make_server(method):
        server = GstRtspServer.RTSPServer()
        server.set_address("127.0.0.1")
        server.set_service("0")
        factory = GstRtspServer.RTSPMediaFactory()
        factory.set_launch(PIPELINE)
        factory.set_shared(True)
        if method is not None:
            auth = GstRtspServer.RTSPAuth()
            token = GstRtspServer.RTSPToken()
            token.set_string("media.factory.role", "user")
            if method == "digest":
                auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
                auth.add_digest(USER, PASSWORD, token)
            else:
                auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
                auth.add_basic(GstRtspServer.RTSPAuth.make_basic(USER, PASSWORD), token)
            server.set_auth(auth)
            permissions = GstRtspServer.RTSPPermissions()
            permissions.add_permission_for_role("user", "media.factory.access", True)
            permissions.add_permission_for_role("user", "media.factory.construct", True)
            factory.set_permissions(permissions)
        for mount in MOUNTS:
            server.get_mount_points().add_factory(mount, factory)
        server.attach(None)
        return server

    servers = [make_server(None), make_server("digest"), make_server("basic")]
    ports = " ".join(str(server.get_bound_port()) for server in servers)
    loop = GLib.MainLoop()
    thread = threading.Thread(target=loop.run, daemon=True)
    thread.start()
    try:
        return run(command, {"QUILLON_RTSP_PEER": ports, "QUILLON_RTSP_USER": USER,
                             "QUILLON_RTSP_PASSWORD": PASSWORD})
    finally:
        loop.quit()
        thread.join(5)


if __name__ == "__main__":
    sys.exit(main())
