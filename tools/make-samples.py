#!/usr/bin/env python3
"""Writes the SDK's sample firmware and bootloader images (sdk/fw/wifi.juo, sdk/fw/boot.juo).

Both are opaque stand-ins of our own making so that a project builds out of the box; neither runs on a
module. The bytes are deterministic, so running this again reproduces the committed files.
"""
import hashlib
import pathlib
import struct
import sys

BOOT_SIZE = 12288          # the boot flash
FALLBACK_FIRST = 11896     # room kept erased below the configuration words for the
FALLBACK_END = 12032       # builder's copy of the hardware settings (11896..12031)
CONFIG_WORDS = 0x2FF0


def stream(seed: bytes, length: int) -> bytes:
    """Pseudo-random bytes: SHA-256 in counter mode."""
    out = bytearray()
    counter = 0
    while len(out) < length:
        out += hashlib.sha256(seed + counter.to_bytes(4, "little")).digest()
        counter += 1
    return bytes(out[:length])


def firmware() -> bytes:
    header = b"NW300 SAMPLE FIRMWARE - not a module image\0"
    body = stream(b"nw300-sample-firmware", 4096 - len(header))
    return header + body


def bootloader() -> bytes:
    image = bytearray(b"\xff" * BOOT_SIZE)
    code = b"NW300 SAMPLE BOOTLOADER\0" + stream(b"nw300-sample-boot", 6144)
    image[: len(code)] = code
    # Default MAC slot, patched by the builder.
    image[0x502:0x508] = bytes.fromhex("02a4c0ffffff")
    assert all(b == 0xFF for b in image[FALLBACK_FIRST:FALLBACK_END])
    # Configuration words: 0x2FF4/0x2FF5 hold the PLL input dividers in their low 3 bits (here 1,
    # an 8 MHz crystal), 0x2FFA the watchdog postscaler in its low 5 bits (here 13).
    words = (0x3FFF0000, 0xFFF9F9D9, 0xFF4DCE5B, 0x7FFFFFEF)
    image[CONFIG_WORDS:CONFIG_WORDS + 16] = struct.pack("<4I", *words)
    return bytes(image)


def main() -> int:
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "sdk" / "fw")
    out.mkdir(parents=True, exist_ok=True)
    (out / "wifi.juo").write_bytes(firmware())
    (out / "boot.juo").write_bytes(bootloader())
    return 0


if __name__ == "__main__":
    sys.exit(main())
