#include "support/XServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <zlib.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

Display* Dpy(void* x) { return static_cast<Display*>(x); }

// Xlib's default handler ends the process on any protocol error, such as a request about a window
// that has just gone; the tests see such a failure in the request's result instead.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

std::string WindowTitle(Display* dpy, Window w) {
  Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(dpy, w, netName, 0, 1024, False, utf8, &type, &format, &items, &after, &data) == Success &&
      data && type == utf8) {
    title.assign(reinterpret_cast<char*>(data), items);
  }
  if (data) XFree(data);
  if (title.empty()) {
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name) title = name;
    if (name) XFree(name);
  }
  return title;
}

// The mapped children of the root window that `keep` accepts.
template <typename Keep>
std::vector<unsigned long> MappedTopLevels(Display* dpy, Keep keep) {
  std::vector<unsigned long> found;
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return found;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(dpy, children[i], &attributes) && attributes.map_state == IsViewable &&
        keep(children[i], attributes))
      found.push_back(children[i]);
  }
  if (children) XFree(children);
  return found;
}

// A format-32 property of `type` (up to `most` values); empty when the window has none.
std::vector<unsigned long> LongProperty(Display* dpy, Window w, const char* name, Atom type, long most) {
  std::vector<unsigned long> values;
  Atom actual;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, w, XInternAtom(dpy, name, False), 0, most, False, type, &actual, &format, &items,
                         &after, &data) == Success &&
      data && format == 32) {
    // Format 32 properties arrive as longs, whatever their size.
    const unsigned long* longs = reinterpret_cast<const unsigned long*>(data);
    values.assign(longs, longs + items);
  }
  if (data) XFree(data);
  return values;
}

void PutBe32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  PutBe32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// Windows come and go while a test looks at them (a message box closes between the listing and the
// question about it): such a request fails and its caller skips the window. Xlib's default handler
// would end the test's process instead.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

XServer::XServer() : m_xvfb(1280, 1024) {
  if (!m_xvfb.Running()) return;
  m_display = m_xvfb.Name();
  XSetErrorHandler(IgnoreXErrors);
  m_x = XOpenDisplay(m_display.c_str());
  if (!m_x) m_display.clear();
  XSetErrorHandler(IgnoreXError);
}

XServer::~XServer() {
  StopWindowManager();
  if (m_x) XCloseDisplay(Dpy(m_x));
}

bool XServer::StartWindowManager() {
  const std::string program = XvfbDisplay::FindProgram("openbox");
  if (!m_x || program.empty() || !m_windowManager.Start({"--sm-disable"}, {{"DISPLAY", m_display}}, program))
    return false;
  // A window manager announces itself through _NET_SUPPORTING_WM_CHECK on the root window.
  ::Display* dpy = Dpy(m_x);
  return WaitUntil(
      [&] { return LongProperty(dpy, DefaultRootWindow(dpy), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1).size() == 1; },
      10000);
}

void XServer::StopWindowManager() {
  if (!m_windowManager.Running()) return;
  m_windowManager.Signal(SIGTERM);
  m_windowManager.Wait(5000);
  // The manager leaves the property behind; the next one sets it anew.
  ::Display* dpy = Dpy(m_x);
  XDeleteProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False));
  XSync(dpy, False);
}

long XServer::WmState(unsigned long window) const {
  if (!m_x) return 0;
  ::Display* dpy = Dpy(m_x);
  const std::vector<unsigned long> state = LongProperty(dpy, window, "WM_STATE", XInternAtom(dpy, "WM_STATE", False), 2);
  return state.empty() ? 0 : static_cast<long>(state[0]);
}

std::vector<unsigned long> XServer::WindowsTitled(const std::string& title) const {
  if (!m_x) return {};
  ::Display* dpy = Dpy(m_x);
  return MappedTopLevels(dpy, [&](Window w, const XWindowAttributes&) { return WindowTitle(dpy, w) == title; });
}

unsigned long XServer::WaitForWindow(const std::string& title, int ms) const {
  unsigned long window = 0;
  WaitUntil(
      [&] {
        auto all = WindowsTitled(title);
        window = all.empty() ? 0 : all.back();
        return window != 0;
      },
      ms);
  return window;
}

bool XServer::WaitForNoWindow(const std::string& title, int ms) const {
  return WaitUntil([&] { return WindowsTitled(title).empty(); }, ms);
}

XServer::Rect XServer::Geometry(unsigned long window) const {
  Rect rect;
  if (!m_x) return rect;
  ::Display* dpy = Dpy(m_x);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(dpy, window, &attributes)) return rect;
  Window child;
  XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &rect.x, &rect.y, &child);
  rect.width = attributes.width;
  rect.height = attributes.height;
  return rect;
}

XServer::Rect XServer::Screen() const {
  Rect rect;
  if (m_x) {
    rect.width = DisplayWidth(Dpy(m_x), 0);
    rect.height = DisplayHeight(Dpy(m_x), 0);
  }
  return rect;
}

XServer::Image XServer::Grab(const Rect& rect) const {
  Image image;
  if (!m_x || rect.width <= 0 || rect.height <= 0) return image;
  ::Display* dpy = Dpy(m_x);
  XImage* x = XGetImage(dpy, DefaultRootWindow(dpy), rect.x, rect.y, static_cast<unsigned>(rect.width),
                        static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
  if (!x) return image;
  image.width = rect.width;
  image.height = rect.height;
  image.pixels.resize(size_t(rect.width) * size_t(rect.height));
  for (int y = 0; y < rect.height; ++y)
    for (int px = 0; px < rect.width; ++px)
      image.pixels[size_t(y) * size_t(rect.width) + size_t(px)] = static_cast<uint32_t>(XGetPixel(x, px, y) & 0xFFFFFF);
  XDestroyImage(x);
  return image;
}

bool XServer::SavePng(const Image& image, const std::string& path) {
  std::string raw;
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < image.width; ++x) {
      uint32_t p = image.At(x, y);
      raw.push_back(static_cast<char>(p >> 16));
      raw.push_back(static_cast<char>(p >> 8));
      raw.push_back(static_cast<char>(p));
    }
  }
  uLongf packedSize = compressBound(raw.size());
  std::string packed(packedSize, '\0');
  if (compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
               raw.size()) != Z_OK)
    return false;
  packed.resize(packedSize);
  std::string header;
  PutBe32(header, static_cast<uint32_t>(image.width));
  PutBe32(header, static_cast<uint32_t>(image.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
  std::string png = "\x89PNG\r\n\x1a\n";
  PngChunk(png, "IHDR", header);
  PngChunk(png, "IDAT", packed);
  PngChunk(png, "IEND", "");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<unsigned long> XServer::PopUps() const {
  if (!m_x) return {};
  return MappedTopLevels(Dpy(m_x), [](Window, const XWindowAttributes& a) { return a.override_redirect != 0; });
}

std::vector<unsigned long> XServer::TopLevels() const {
  if (!m_x) return {};
  return MappedTopLevels(Dpy(m_x), [](Window, const XWindowAttributes& a) { return a.override_redirect == 0; });
}

std::string XServer::WindowType(unsigned long window) const {
  std::string name;
  if (!m_x) return name;
  const std::vector<unsigned long> type = LongProperty(Dpy(m_x), window, "_NET_WM_WINDOW_TYPE", XA_ATOM, 1);
  if (type.size() == 1)
    if (char* atomName = XGetAtomName(Dpy(m_x), static_cast<Atom>(type[0]))) {
      name = atomName;
      XFree(atomName);
    }
  return name;
}

bool XServer::IsMapped(unsigned long window) const {
  XWindowAttributes attributes;
  return m_x && XGetWindowAttributes(Dpy(m_x), window, &attributes) && attributes.map_state == IsViewable;
}

std::vector<unsigned long> XServer::Icon(unsigned long window) const {
  if (!m_x) return {};
  return LongProperty(Dpy(m_x), window, "_NET_WM_ICON", XA_CARDINAL, 1 << 20);
}

XServer::Cursor XServer::CurrentCursor() const {
  Cursor cursor;
  if (!m_x) return cursor;
  XFixesCursorImage* image = XFixesGetCursorImage(Dpy(m_x));
  if (!image) return cursor;
  cursor.width = image->width;
  cursor.height = image->height;
  cursor.xhot = image->xhot;
  cursor.yhot = image->yhot;
  for (size_t i = 0; i < size_t(image->width) * image->height; ++i)
    cursor.argb.push_back(static_cast<uint32_t>(image->pixels[i]));
  XFree(image);
  return cursor;
}

bool XServer::Xdotool(const std::string& args) const {
  std::string command = "DISPLAY=" + m_display + " xdotool " + args + " > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}
