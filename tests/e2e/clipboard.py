"""Reads the X clipboard through libX11 (ctypes), so the tests can check texts the program copies
there: a message box's text after Ctrl+C, or a text box's content after Ctrl+A, Ctrl+C."""

import ctypes
import ctypes.util
import time

SELECTION_NOTIFY = 31


class XSelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xselection", XSelectionEvent),
                ("pad", ctypes.c_long * 24)]


def _xlib():
    lib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
    lib.XOpenDisplay.restype = ctypes.c_void_p
    lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    lib.XDefaultRootWindow.restype = ctypes.c_ulong
    lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    lib.XCreateSimpleWindow.restype = ctypes.c_ulong
    lib.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
        [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
    lib.XInternAtom.restype = ctypes.c_ulong
    lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    lib.XConvertSelection.argtypes = [ctypes.c_void_p] + [ctypes.c_ulong] * 5
    lib.XPending.argtypes = [ctypes.c_void_p]
    lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    lib.XFlush.argtypes = [ctypes.c_void_p]
    lib.XGetWindowProperty.argtypes = [
        ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
        ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
        ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
        ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
    lib.XFree.argtypes = [ctypes.c_void_p]
    lib.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return lib


def read(display_name, timeout=3.0):
    """The clipboard's text as UTF-8, or None when nobody owns the clipboard."""
    x = _xlib()
    dpy = x.XOpenDisplay(display_name.encode())
    if not dpy:
        raise RuntimeError(f"cannot open display {display_name}")
    try:
        window = x.XCreateSimpleWindow(dpy, x.XDefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0)
        clipboard = x.XInternAtom(dpy, b"CLIPBOARD", 0)
        utf8 = x.XInternAtom(dpy, b"UTF8_STRING", 0)
        target = x.XInternAtom(dpy, b"MERIDOC_E2E_CLIPBOARD", 0)
        x.XConvertSelection(dpy, clipboard, utf8, target, window, 0)
        x.XFlush(dpy)
        event = XEvent()
        deadline = time.monotonic() + timeout
        while True:
            if x.XPending(dpy):
                x.XNextEvent(dpy, ctypes.byref(event))
                if event.type == SELECTION_NOTIFY:
                    break
            elif time.monotonic() > deadline:
                raise RuntimeError("the clipboard owner did not answer")
            else:
                time.sleep(0.02)
        if event.xselection.property == 0:
            return None
        actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
        count, remaining, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        x.XGetWindowProperty(dpy, window, target, 0, 1 << 22, 1, 0, ctypes.byref(actual_type),
                             ctypes.byref(actual_format), ctypes.byref(count),
                             ctypes.byref(remaining), ctypes.byref(data))
        if not data:
            return ""
        text = ctypes.string_at(data, count.value).decode("utf-8", errors="replace")
        x.XFree(data)
        x.XDestroyWindow(dpy, window)
        return text
    finally:
        x.XCloseDisplay(dpy)
