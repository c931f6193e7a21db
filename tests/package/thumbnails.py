#!/usr/bin/env python3
"""Asks a desktop's thumbnail services for pictures of files, as file managers do, for the package test.

  thumbnails.py tumbler FILE OUT...  tumbler over D-Bus (Thunar): Queue, then the picture it caches
  thumbnails.py gnome FILE OUT...    GNOME's thumbnail factory (Files, Nemo, Caja)
  thumbnails.py same A B             exit 0 when the pictures A and B have the same size and pixels

Each FILE's type is the one GIO gives it, as a file manager asks; each picture is copied to OUT.
"""
import hashlib
import os
import shutil
import sys

import gi

gi.require_version('GdkPixbuf', '2.0')
from gi.repository import GdkPixbuf, Gio, GLib  # noqa: E402

THUMBNAILER = 'org.freedesktop.thumbnails.Thumbnailer1'
THUMBNAILER_PATH = '/org/freedesktop/thumbnails/Thumbnailer1'


def content_type(path):
    info = Gio.File.new_for_path(path).query_info('standard::content-type', Gio.FileQueryInfoFlags.NONE, None)
    return info.get_content_type()


def tumbler(pairs):
    """Queues every file in one request and waits for its Finished signal, which tumbler sends only to
    the connection that asked."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    loop = GLib.MainLoop()
    ready, errors = [], []

    def on_signal(_connection, _sender, _path, _interface, name, parameters):
        values = parameters.unpack()
        if name == 'Ready':
            ready.extend(values[1])
        elif name == 'Error':
            errors.extend(f'{uri}: {values[3]}' for uri in values[1])
        elif name == 'Finished':
            loop.quit()

    bus.signal_subscribe(None, THUMBNAILER, None, THUMBNAILER_PATH, None, Gio.DBusSignalFlags.NONE, on_signal)
    uris = [Gio.File.new_for_path(path).get_uri() for path, _ in pairs]
    types = [content_type(path) for path, _ in pairs]
    bus.call_sync(THUMBNAILER, THUMBNAILER_PATH, THUMBNAILER, 'Queue',
                  GLib.Variant('(asasssu)', (uris, types, 'normal', 'default', 0)),
                  None, Gio.DBusCallFlags.NONE, 120000, None)
    GLib.timeout_add_seconds(120, loop.quit)
    loop.run()
    for error in errors:
        print(f'tumbler: {error}', file=sys.stderr)
    cache = os.path.join(GLib.get_user_cache_dir(), 'thumbnails', 'normal')
    for uri, kind, (path, out) in zip(uris, types, pairs):
        if uri not in ready:
            print(f'tumbler: no picture of {path} ({kind})', file=sys.stderr)
            return 1
        shutil.copyfile(os.path.join(cache, hashlib.md5(uri.encode()).hexdigest() + '.png'), out)
    return 0


def gnome(pairs):
    gi.require_version('GnomeDesktop', '3.0')
    from gi.repository import GnomeDesktop
    factory = GnomeDesktop.DesktopThumbnailFactory.new(GnomeDesktop.DesktopThumbnailSize.NORMAL)
    for path, out in pairs:
        uri = Gio.File.new_for_path(path).get_uri()
        kind = content_type(path)
        if not factory.can_thumbnail(uri, kind, 0):
            print(f'GNOME: no thumbnailer for {path} ({kind})', file=sys.stderr)
            return 1
        try:
            factory.generate_thumbnail(uri, kind, None).savev(out, 'png', [], [])
        except GLib.Error as error:
            print(f'GNOME: {path} ({kind}): {error.message}', file=sys.stderr)
            return 1
    return 0


def pixels(path):
    picture = GdkPixbuf.Pixbuf.new_from_file(path).add_alpha(False, 0, 0, 0)
    return picture.get_width(), picture.get_height(), picture.get_pixels()


def main(command, *args):
    if command == 'same':
        return 0 if pixels(args[0]) == pixels(args[1]) else 1
    pairs = list(zip(args[0::2], args[1::2]))
    return tumbler(pairs) if command == 'tumbler' else gnome(pairs)


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
