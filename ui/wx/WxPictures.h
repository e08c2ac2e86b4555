// The skin's pixel surfaces and the program's resources as the toolkit's pictures.
#pragma once
#include <wx/bitmap.h>
#include <wx/cursor.h>
#include <wx/iconbndl.h>

#include "skin/SkinBitmap.h"

wxBitmap ToBitmap(const CPixelSurface& surface);
// The icon in all its sizes; empty when the resource is missing.
wxIconBundle LoadIconResource(unsigned id);
// A cursor resource with its hot spot; the standard arrow when it is missing.
wxCursor LoadCursorResource(unsigned id);
