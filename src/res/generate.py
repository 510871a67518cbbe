#!/usr/bin/env python3
"""Generates the embedded firmware images and the parameter file.

The generated files are committed; run this only after changing the tables below:
    python3 src/res/generate.py

The firmware images are stand-ins for the controller firmware. The program only copies them, and the
virtual controllers read their version from the "ZVFW" marker that is followed by four ASCII
characters. Everything else in an image is pseudo-random, seeded by the image's name, so every run
writes the same bytes and no two images are alike.
"""

import hashlib
import os

HERE = os.path.dirname(os.path.abspath(__file__))

FIRMWARE_VERSION = "1.48"
VERSION_MARKER = b"ZVFW"
VERSION_OFFSET = 0x100

# (file name, size in bytes)
IMAGES = [
    ("TMCM-841.bin", 46412),
    ("TMCM-1610.bin", 46116),
    ("TMCM-174.bin", 46476),
    ("TMCM-1632.bin", 46132),
]

# (Type, Desc, platform value or None where the platform lacks the entry,
#  arm value: one int shared by all five axes, or a tuple for axes 1 to 5)
PARAMETERS = [
    (4, 'Max. positioning velocity/ velocity threshold for hallFX', 4000, 4000),
    (5, 'PWM limit', 1799, 1799),
    (6, 'Max. current', 3564, (5768, 5768, 3899, 2746, 1750)),
    (7, 'MVP Target reached velocity', 500, 500),
    (8, 'Treshold speed for velocity PID', 0, 0),
    (9, 'Clear target distance', 5, 5),
    (10, 'MVP target reached distance', 5, 5),
    (11, 'Acceleration', 2000, 2000),
    (12, 'Trehold speed for position PID', 0, 0),
    (25, 'Thermal winding time constant', 16600, (16600, 16600, 16600, 13200, 8100)),
    (26, 'I²t limit', 134957, (156250, 156250, 156250, 25540, 3285)),
    (130, 'P parameter for position PID (I)', 500, 500),
    (131, 'I parameter for position PID (I)', 0, 0),
    (132, 'D parameter for position PID (I)', 0, 0),
    (133, 'PID regulation loop delay', 1, 1),
    (134, 'Current regulation loop delay', 2, 1),
    (135, 'I-Clipping parameter for position PID (I)', 500, 500),
    (136, 'PWM-Hysteresis', 0, 0),
    (140, 'P parameter for velocity PID (I)', 200, 200),
    (141, 'I parameter for velocity PID (I)', 200, 200),
    (142, 'D parameter for velocity PID (I)', 0, 0),
    (143, 'I-Clipping parameter for velocity PID', 500, 500),
    (146, 'Activate ramp', 0, 1),
    (159, 'Commutation Mode', 3, 3),
    (164, 'Activate stop switch', 0, 0),
    (165, 'Actual encoder commutation offset', 0, 0),
    (166, 'Stop switch polarity', None, 0),
    (167, 'Block PWM scheme', 0, 0),
    (168, 'P parameter for current PID (I)', 50, 50),
    (169, 'I parameter for current PID (I)', 50, 50),
    (170, 'D parameter for current PID (I)', 0, 0),
    (171, 'I-Clipping parameter for current PID (I)', 500, 500),
    (172, 'P parameter for current PID (II)', 60, 25),
    (173, 'I parameter for current PID (II)', 60, 60),
    (174, 'D parameter for current PID (II)', 0, 0),
    (175, 'I-Clipping parameter for current PID (II)', 1000, 1000),
    (176, 'Treshold speed for current PID', 0, 0),
    (177, 'Start current', 3000, 3000),
    (230, 'P parameter for position PID (II)', 4000, 2000),
    (231, 'I parameter for position PID (II)', 0, 0),
    (232, 'D parameter for position PID (II)', 0, 0),
    (233, 'I-Clipping parameter for position PID (II)', 1000, 1000),
    (234, 'P parameter for velocity PID (II)', 600, 1000),
    (235, 'I parameter for velocity PID (II)', 600, 1000),
    (236, 'D parameter for velocity PID (II)', 0, 0),
    (237, 'I-Clipping parameter for velocity PID (II)', 1000, 1000),
    (238, 'Mass inertia constant', 0, 0),
    (239, 'BEMF constant', 0, 0),
    (240, 'Motor coil resistance', 978, 978),
    (241, 'Init sine speed', 200, -200),
    (242, 'Init sine block offset CW', 0, 0),
    (243, 'Init sine block offset CCW', 0, 0),
    (244, 'Init sine delay', 1000, 1000),
    (245, 'Overvoltage protection', 1, 1),
    (247, 'Sine Compensation Factor', 1, 1),
    (249, 'Init sine mode', 1, 1),
    (250, 'Encoder steps', 4000, 4000),
    (251, 'Encoder direction', 1, 1),
    (253, 'Number of motor poles', 16, (16, 16, 16, 16, 8)),
    (254, 'Hall sensor invert', 1, 1),
]

ARM_AXES = 5


def image_bytes(name, size):
    """Counter-mode SHA-256 keeps the stream identical on every platform and Python version."""
    stream = bytearray()
    counter = 0
    while len(stream) < size:
        stream += hashlib.sha256(("%s:%d" % (name, counter)).encode("ascii")).digest()
        counter += 1
    del stream[size:]
    tag = VERSION_MARKER + FIRMWARE_VERSION.encode("ascii")
    stream[VERSION_OFFSET:VERSION_OFFSET + len(tag)] = tag
    # A second marker by chance would make the version ambiguous; the stream is fixed, so this
    # only guards against an edit of the seeds.
    assert stream.count(VERSION_MARKER) == 1, name
    return bytes(stream)


def arm_value(value, axis):
    return value[axis] if isinstance(value, tuple) else value


def parameter_line(depth, type_, desc, value):
    return '%s<Parameter Type="%d" Desc="%s" Value="%d"></Parameter>' % ("\t" * depth, type_, desc, value)


def parameter_file():
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<zuvian>", "\t<Parameters>", "\t\t<Platform>"]
    for type_, desc, platform, _ in PARAMETERS:
        if platform is not None:
            lines.append(parameter_line(3, type_, desc, platform))
    lines += ["\t\t</Platform>", "\t\t<Arm>"]
    for axis in range(ARM_AXES):
        lines.append("\t\t\t<Axis%d>" % (axis + 1))
        for type_, desc, _, arm in PARAMETERS:
            lines.append(parameter_line(4, type_, desc, arm_value(arm, axis)))
        lines.append("\t\t\t</Axis%d>" % (axis + 1))
    lines += ["\t\t</Arm>", "\t</Parameters>", "</zuvian>"]
    # CR LF line ends, as the file has always been delivered.
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    for name, size in IMAGES:
        write(name, image_bytes(name, size))
    write("param.xml", parameter_file())


if __name__ == "__main__":
    main()
