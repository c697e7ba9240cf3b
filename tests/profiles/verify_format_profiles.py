#!/usr/bin/env python3
"""Encodes a short synthetic clip with every profile of Format.xml through the ffmpeg tool.

Each profile is tried with its own values, then once for every alternative its choice lists
offer (one value changed at a time), with the encoder settings the converter uses: the
profile's encoders, size, frame rate, bit rates, sample rate and channel count, one key frame
per second and no B-frames. The output file carries the profile's extension, so the container
is the one chosen from the file name. Prints one line per refused combination and exits
non-zero when there is any.

usage: verify_format_profiles.py [Format.xml] [--defaults-only] [--jobs N]
"""
import concurrent.futures
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

FIELDS = ["VideoCodecName", "Width", "Height", "FrameRate", "VideoBitRate", "AudioCodecName",
          "SampleRate", "AudioBitRate", "Channel"]


def keys(items):
    return [item.split("$", 1)[0] for item in items.split(",") if item]


def load(path):
    profiles = []
    for index, element in enumerate(e for e in ET.parse(path).getroot() if e.tag == "Profile"):
        p = {child.tag: child.get("value", "") for child in element}
        p["Index"] = index
        profiles.append(p)
    return profiles


_first_pixel_format = {}


def first_pixel_format(encoder):
    """The converter feeds an encoder its first listed pixel format; so does this check."""
    if encoder not in _first_pixel_format:
        text = subprocess.run(["ffmpeg", "-hide_banner", "-h", "encoder=" + encoder],
                              capture_output=True, text=True).stdout
        found = ""
        for line in text.splitlines():
            line = line.strip()
            if line.startswith("Supported pixel formats:"):
                found = line.split(":", 1)[1].split()[0]
        _first_pixel_format[encoder] = found
    return _first_pixel_format[encoder]


def rate_arg(frame_rate):
    if frame_rate in (23976, 29970, 59940):
        return "%d/1001" % ((frame_rate + 24) // 1000 * 1000)
    return "%d/1000" % frame_rate


def command(p, out, seconds):
    video = p["VideoCodecName"] != ""
    cmd = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"]
    if video:
        fr = int(p["FrameRate"])
        cmd += ["-f", "lavfi", "-i", "testsrc=size=%sx%s:rate=%s:duration=%s" %
                (p["Width"], p["Height"], rate_arg(fr), seconds)]
    cmd += ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%s" % seconds]
    if video:
        cmd += ["-c:v", p["VideoCodecName"], "-b:v", p["VideoBitRate"], "-g", str(max(1, fr // 1000)),
                "-bf", "0", "-threads", "1"]
        pixel_format = first_pixel_format(p["VideoCodecName"])
        if pixel_format:
            cmd += ["-pix_fmt", pixel_format]
        if p["VideoCodecName"] == "mjpeg":
            cmd += ["-strict", "unofficial"]
    else:
        cmd += ["-vn"]
    cmd += ["-c:a", p["AudioCodecName"], "-ar", p["SampleRate"], "-ac", p["Channel"],
            "-b:a", p["AudioBitRate"], "-shortest", out]
    return cmd


def variants(p, defaults_only):
    yield "defaults", p
    if defaults_only:
        return
    def changed(**values):
        q = dict(p)
        q.update(values)
        return q
    if p["VideoCodecName"]:
        for item in keys(p["Resolutions"]):
            w, h = item.split("*")
            if (w, h) != (p["Width"], p["Height"]):
                yield "size " + item, changed(Width=w, Height=h)
        for item in keys(p["FrameRates"]):
            if item != p["FrameRate"]:
                yield "frame rate " + item, changed(FrameRate=item)
        for item in keys(p["VideoCodecs"]):
            if item != p["VideoCodecName"]:
                yield "video " + item, changed(VideoCodecName=item)
        for item in keys(p["VideoBitRates"]):
            if item != p["VideoBitRate"]:
                yield "video bit rate " + item, changed(VideoBitRate=item)
    for item in keys(p["SampleRates"]):
        if item != p["SampleRate"]:
            yield "sample rate " + item, changed(SampleRate=item)
    for item in keys(p["Channels"]):
        if item != p["Channel"]:
            yield "channels " + item, changed(Channel=item)
    for item in keys(p["AudioCodecs"]):
        if item != p["AudioCodecName"]:
            yield "audio " + item, changed(AudioCodecName=item)
    for item in keys(p["AudioBitRates"]):
        if item != p["AudioBitRate"]:
            yield "audio bit rate " + item, changed(AudioBitRate=item)


def run(job):
    label, p, folder, n = job
    out = os.path.join(folder, "p%03d_%d%s" % (p["Index"], n, p["FormatExt"]))
    seconds = "1" if label == "defaults" else "0.4"
    result = subprocess.run(command(p, out, seconds), capture_output=True, text=True)
    ok = result.returncode == 0 and os.path.exists(out) and os.path.getsize(out) > 0
    if os.path.exists(out):
        os.remove(out)
    message = (result.stderr.strip().splitlines() or ["no output"])[-1]
    return ok, "profile %d (%s) %s: %s" % (p["Index"], p["ProfileName"], label, message)


def main():
    args = sys.argv[1:]
    defaults_only = "--defaults-only" in args
    jobs = 2
    if "--jobs" in args:
        jobs = int(args[args.index("--jobs") + 1])
    paths = [a for a in args if a.endswith(".xml")]
    path = paths[0] if paths else os.path.join(os.path.dirname(__file__), "..", "..", "data", "Format.xml")
    profiles = load(path)
    with tempfile.TemporaryDirectory() as folder:
        work = [(label, q, folder, n) for p in profiles for n, (label, q) in enumerate(variants(p, defaults_only))]
        failures = 0
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            for ok, line in pool.map(run, work):
                if not ok:
                    failures += 1
                    print("refused:", line)
    print("%d passed, %d failed" % (len(work) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
