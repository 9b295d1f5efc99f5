#!/usr/bin/python3
"""Runs a test binary against GStreamer RTSP servers on 127.0.0.1.

Usage: gst_rtsp_peer.py [--tcp] COMMAND...  Starts an open JPEG server and JPEG servers that ask
for Digest or Basic credentials, each on an ephemeral port, and an open H.264 server where an
H.264 encoder is installed; passes their ports to COMMAND in QUILLON_RTSP_PEER ("open-port
digest-port basic-port [h264-port]"), and exits with COMMAND's status. With --tcp every server
carries RTP only inside the RTSP connection (a SETUP for UDP gets 461), and QUILLON_RTSP_PEER_TCP
is set to 1. Without GStreamer's RTSP server the command runs with QUILLON_RTSP_PEER_MISSING set to
the reason, so that it can skip.
"""
import os
import subprocess
import sys
import threading

JPEG_PIPELINE = ("( videotestsrc is-live=true ! video/x-raw,format=I420,width=160,height=120,framerate=5/1 "
                 "! jpegenc ! rtpjpegpay name=pay0 pt=26 )")
# Key frames every second and parameter sets in band, so a client that joins late decodes soon.
H264_ENCODERS = {
    "x264enc": "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=10 threads=1",
    "openh264enc": "openh264enc gop-size=10",
}
H264_PIPELINE = ("( videotestsrc is-live=true ! video/x-raw,format=I420,width=320,height=240,framerate=10/1 "
                 "! %s ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 )")
USER, PASSWORD = "operator", "Circle Of Life"
# "/test", and the paths the driver's channels ask a camera's first and second streams for
# (DESCRIBE's query, which names the web API session, is not part of the path).
MOUNTS = ("/test", "/StreamingSetting", "/ChannelID=1&ChannelName=Channel1", "/ChannelID=2&ChannelName=Channel2")


def run(command, extra):
    env = dict(os.environ, **extra)
    return subprocess.call(command, env=env)


def main():
    command = sys.argv[1:]
    tcp_only = command[:1] == ["--tcp"]
    if tcp_only:
        command = command[1:]
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

    def make_server(method, pipeline=JPEG_PIPELINE):
        server = GstRtspServer.RTSPServer()
        server.set_address("127.0.0.1")
        server.set_service("0")
        factory = GstRtspServer.RTSPMediaFactory()
        factory.set_launch(pipeline)
        factory.set_shared(True)
        if tcp_only:
            factory.set_protocols(GstRtsp.RTSPLowerTrans.TCP)
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
    encoder = next((H264_ENCODERS[name] for name in H264_ENCODERS if Gst.ElementFactory.find(name)), None)
    if encoder is not None and Gst.ElementFactory.find("rtph264pay") and Gst.ElementFactory.find("h264parse"):
        servers.append(make_server(None, H264_PIPELINE % encoder))
    ports = " ".join(str(server.get_bound_port()) for server in servers)
    loop = GLib.MainLoop()
    thread = threading.Thread(target=loop.run, daemon=True)
    thread.start()
    extra = {"QUILLON_RTSP_PEER": ports, "QUILLON_RTSP_USER": USER, "QUILLON_RTSP_PASSWORD": PASSWORD}
    if tcp_only:
        extra["QUILLON_RTSP_PEER_TCP"] = "1"
    try:
        return run(command, extra)
    finally:
        loop.quit()
        thread.join(5)


if __name__ == "__main__":
    sys.exit(main())
