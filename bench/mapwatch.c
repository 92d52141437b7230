/* Watches the display for top-level windows being mapped. Prints "ready" once
 * it listens, then one line per MapNotify on the root window: "map <ns> <pid>
 * <window id>", the CLOCK_MONOTONIC time taken as soon as the event is read,
 * before the window's _NET_WM_PID (0 if none) is looked up. Windows that skip
 * the window manager (menus, tooltips) are left out. */
#include <stdio.h>
#include <time.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

int main(void) {
  Display* dpy = XOpenDisplay(NULL);
  if (!dpy) {
    fprintf(stderr, "mapwatch: cannot open the display\n");
    return 1;
  }
  Atom pid_atom = XInternAtom(dpy, "_NET_WM_PID", False);
  XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
  XSync(dpy, False);
  printf("ready\n");
  fflush(stdout);
  for (;;) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type != MapNotify) continue;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    if (ev.xmap.override_redirect) continue;
    Atom type;
    int format;
    unsigned long items = 0, after = 0, pid = 0;
    unsigned char* data = NULL;
    if (XGetWindowProperty(dpy, ev.xmap.window, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &after, &data) == Success && data) {
      if (items == 1 && format == 32) pid = *(unsigned long*)data;
      XFree(data);
    }
    printf("map %lld %lu 0x%lx\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec, pid,
           (unsigned long)ev.xmap.window);
    fflush(stdout);
  }
}
