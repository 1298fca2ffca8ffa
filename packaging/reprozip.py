#!/usr/bin/python3
"""Writes a zip file that is the same, byte for byte, each time it is made
from the same files: entries in sorted order, every one dated
SOURCE_DATE_EPOCH (UTC), modes 0755 for folders and executables and 0644
otherwise, no owner and no extra time fields.

  reprozip.py dir FOLDER OUT.zip     FOLDER and everything under it, named
                                     from FOLDER's own name down
  reprozip.py repack IN.zip OUT.zip  the entries of IN.zip, their bytes as
                                     they are, dated and ordered as above
"""
import os
import sys
import time
import zipfile


def zip_date():
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        sys.exit("reprozip.py: SOURCE_DATE_EPOCH must be set to a number of seconds")
    # The earliest date a zip entry can hold is 1980-01-01.
    return time.gmtime(max(int(epoch), 315532800))[:6]


def entry(name, mode, date):
    info = zipfile.ZipInfo(name, date_time=date)
    info.create_system = 3  # Unix, so that unzip restores the modes
    info.external_attr = mode << 16
    if not name.endswith("/"):
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def zip_folder(folder, out):
    date = zip_date()
    folder = os.path.normpath(folder)
    base = os.path.dirname(folder)
    names = []
    for here, dirs, files in os.walk(folder):
        names.append(os.path.relpath(here, base) + "/")
        names.extend(os.path.relpath(os.path.join(here, f), base) for f in files)
    with zipfile.ZipFile(out, "w") as z:
        for name in sorted(names):
            path = os.path.join(base, name)
            if name.endswith("/"):
                z.writestr(entry(name, 0o40755, date), b"")
            else:
                executable = os.stat(path).st_mode & 0o111
                with open(path, "rb") as f:
                    z.writestr(entry(name, 0o100755 if executable else 0o100644, date), f.read())


def repack(source, out):
    date = zip_date()
    with zipfile.ZipFile(source) as src, zipfile.ZipFile(out, "w") as z:
        for info in sorted(src.infolist(), key=lambda i: i.filename):
            if info.filename.endswith("/"):
                z.writestr(entry(info.filename, 0o40755, date), b"")
            else:
                executable = (info.external_attr >> 16) & 0o111
                z.writestr(entry(info.filename, 0o100755 if executable else 0o100644, date),
                           src.read(info))


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("dir", "repack"):
        sys.exit(__doc__)
    (zip_folder if sys.argv[1] == "dir" else repack)(sys.argv[2], sys.argv[3])
