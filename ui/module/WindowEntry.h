// What the window module exports to the program: one entry with the window front end's own
// signature, under a C name so that the program can find it.
#pragma once
#include <functional>
#include <string>

class IFrontEnd;

constexpr const char* kWindowModuleName = "tarvo-window.so";
constexpr const char* kWindowEntrySymbol = "TarvoRunClientInWindow";

using WindowEntry = bool (*)(int argc, char** argv, const std::function<void(IFrontEnd&)>& runClient,
                             std::string& whyNot);

extern "C" bool TarvoRunClientInWindow(int argc, char** argv, const std::function<void(IFrontEnd&)>& runClient,
                                       std::string& whyNot);
