/* Loaded into the client by a window test (LD_PRELOAD) to give its start the timing of a slow
 * machine: the dialog's first look at the desktop waits half a second, and the window's thread is
 * held for a second and a half while it centres the window it is building. The dialog's whole set-up
 * then happens while the window is half built, the order in which a change can slip between the
 * window's first look at the view and its listening. Nothing of it is in the client. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

typedef struct _XDisplay Display;

static int OnMainThread(void) { return syscall(SYS_gettid) == getpid(); }

static void Pause(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0) {
  }
}

Display* XOpenDisplay(const char* name) {
  static Display* (*real)(const char*);
  if (!real) real = (Display * (*)(const char*)) dlsym(RTLD_NEXT, "XOpenDisplay");
  /* The toolkit opens its display on the main thread; the dialog's desktop scan on its own. */
  if (!OnMainThread()) Pause(500);
  return real(name);
}

/* wxTopLevelWindowBase::DoCentre(int), which the window reaches through its own virtual table. The
 * toolkit comes with the window's module, which the client loads on its own (RTLD_LOCAL), so the
 * real function is looked up in the toolkit's library itself. */
void _ZN20wxTopLevelWindowBase8DoCentreEi(void* window, int direction) {
  static void (*real)(void*, int);
  if (!real) real = (void (*)(void*, int))dlsym(RTLD_NEXT, "_ZN20wxTopLevelWindowBase8DoCentreEi");
  if (!real) {
    void* toolkit = dlopen("libwx_gtk3u_core-3.2.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (toolkit) real = (void (*)(void*, int))dlsym(toolkit, "_ZN20wxTopLevelWindowBase8DoCentreEi");
  }
  if (OnMainThread()) Pause(1500);
  real(window, direction);
}
