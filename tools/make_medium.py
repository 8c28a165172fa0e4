#!/usr/bin/env python3
"""Lays out the setup medium: a folder with every program that setup runs
from or copies, and a 1.44 MB FAT12 floppy image of that folder.

usage: make_medium.py --folder DIR --image FILE EXE...
       make_medium.py --check-image FILE NAME...
Prints each file's size and the total; fails when the files don't fit the
floppy.  With --check-image, lists the image and fails unless every NAME is
on it.
"""
import argparse
import os
import shutil
import subprocess
import sys

FLOPPY_BYTES = 1457664   # what a 1.44 MB FAT12 floppy holds for files
TARGET_BYTES = 100 * 1024


def check_image(image, names):
    listing = subprocess.run(['mdir', '-b', '-i', image, '::'], check=True,
                             capture_output=True, text=True).stdout
    present = {line.strip().split('/')[-1].upper() for line in listing.splitlines()}
    print(listing.strip())
    missing = [n for n in names if n.upper() not in present]
    if missing:
        print("FAIL missing from the floppy image: " + ", ".join(missing))
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--folder')
    parser.add_argument('--check-image')
    parser.add_argument('--image')
    parser.add_argument('files', nargs='+')
    args = parser.parse_args()
    if args.check_image:
        return check_image(args.check_image, args.files)

    if os.path.isdir(args.folder):
        shutil.rmtree(args.folder)
    os.makedirs(args.folder)
    total = 0
    for path in args.files:
        name = os.path.basename(path).upper()
        shutil.copyfile(path, os.path.join(args.folder, name))
        size = os.path.getsize(path)
        total += size
        print(f"{name:14} {size:8} bytes")
    print(f"{'medium':14} {total:8} bytes ({total / 1024:.1f} KB; floppy holds "
          f"{FLOPPY_BYTES / 1024:.0f} KB, target under {TARGET_BYTES // 1024} KB)")
    if total > FLOPPY_BYTES:
        print("FAIL the medium does not fit a 1.44 MB floppy")
        return 1

    if args.image:
        if os.path.exists(args.image):
            os.remove(args.image)
        subprocess.run(['mformat', '-i', args.image, '-f', '1440', '-v', 'HALVERN', '-C', '::'],
                       check=True)
        names = sorted(os.path.join(args.folder, n) for n in os.listdir(args.folder))
        subprocess.run(['mcopy', '-i', args.image] + names + ['::'], check=True)
        print(f"floppy image {args.image}")
    return 0


if __name__ == '__main__':
    sys.exit(main())
