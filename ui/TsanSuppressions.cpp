// ThreadSanitizer builds only: the window's system libraries (GTK, GLib, Pango, WebKit) are not
// built for it. They synchronise through futexes and atomics it cannot see, and GLib's mutex
// wrappers hand their unlocks to the caller's frame, so their own threads show as races and
// mismatched locks. Calls made from those libraries are left out of the analysis; the client's own
// code, the toolkit's base library (which carries the hand-off to the window's thread) and the C
// and C++ run-times stay under it, so races in our code are still reported. Cairo and Xlib take
// their own two locks in both orders inside a drawing call; that cycle is theirs alone.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libwebkit2gtk-4.0.so\n"
         "called_from_lib:libjavascriptcoregtk-4.0.so\n"
         "called_from_lib:libglib-2.0.so\n"
         "called_from_lib:libgobject-2.0.so\n"
         "called_from_lib:libgio-2.0.so\n"
         "called_from_lib:libgtk-3.so\n"
         "called_from_lib:libatk-1.0.so\n"
         "called_from_lib:libatk-bridge-2.0.so\n"
         "called_from_lib:libgdk-3.so\n"
         "called_from_lib:libgdk_pixbuf-2.0.so\n"
         "called_from_lib:libfontconfig.so\n"
         "called_from_lib:libpango-1.0.so\n"
         "called_from_lib:libpangocairo-1.0.so\n"
         "called_from_lib:libpangoft2-1.0.so\n"
         "called_from_lib:libwx_gtk3u_core-3.2.so\n"
         "deadlock:libcairo.so.2\n";
}
#endif
